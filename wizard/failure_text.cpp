#include "wizard/failure_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "net/ascii_case.h"
#include "net/data_connection.h"
#include "net/failure_code.h"
#include "platform/printable_text.h"

namespace upd::wizard {
namespace {

using net::FailureCode;
using net::toWhy;

constexpr std::int64_t kMegabyte = 1024 * 1024;
// A proxy's answer or a server's certificate name is the peer's text: a few lines at most.
constexpr std::size_t kMaxTechnicalBytes = 300;

// The peer's or the system's text, safe to show: control bytes escaped, cut at a bound
// without splitting a UTF-8 sequence.
std::string technicalText(std::string_view text) {
    std::string shown = platform::printableText(text);
    if (shown.size() <= kMaxTechnicalBytes) {
        return shown;
    }
    std::size_t cut = kMaxTechnicalBytes;
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    shown.resize(cut);
    return shown + "...";
}

// The engine says which check refused a secure connection only in its English detail
// (TlsSession::failureReason): "the certificate of h was not accepted: certificate has
// expired", "... was not accepted: hostname mismatch", "the TLS handshake with h failed:
// ...", "redirect from https to http refused: ...". Only the words after the host count: a
// host may be called "expired.example".
FailureDescription secureConnectionText(std::string_view detail) {
    constexpr std::string_view kRefused = " was not accepted: ";
    const std::size_t at = detail.find(kRefused);
    if (!detail.starts_with("the certificate of ") || at == std::string_view::npos) {
        return {.textId = kTextNoSecureConnection, .wayOut = WayOut::RetryOrAnotherServer};
    }
    const std::string reason = net::asciiLower(detail.substr(at + kRefused.size()));
    // A wrong clock on this computer is the usual cause, and setting it makes Retry work.
    if (reason.find("expired") != std::string::npos ||
        reason.find("not yet valid") != std::string::npos) {
        return {.textId = kTextCertificateDates, .wayOut = WayOut::RetryOrAnotherServer};
    }
    return {.textId = kTextCertificateRefused, .wayOut = WayOut::AnotherServer};
}

FailureDescription fileText(const TransferFacts& facts) {
    if (facts.fileError != ENOSPC) {
        return {.textId = kTextFileUnusable};
    }
    // The bytes still to come need room; those already written have it.
    if (facts.length >= 0 && facts.length > facts.received) {
        return {.textId = kTextDiskFullNeeds,
                .values = {megabytesText(facts.length - facts.received)}};
    }
    return {.textId = kTextDiskFull};
}

FailureDescription chooseText(const TransferFacts& facts) {
    switch (facts.why) {
        case toWhy(FailureCode::ClosedEarly):
        case toWhy(FailureCode::UserAborted):
        case toWhy(FailureCode::SendFailed):
            return {.textId = kTextTransferCut};
        case toWhy(FailureCode::NoWindow):
            return {.textId = kTextCannotStart};
        case toWhy(FailureCode::BadReply):
            // "Not found" and "gone" stay so on this server, whoever asks again.
            if (facts.reply == 404 || facts.reply == 410) {
                return {.textId = kTextFileMissing, .wayOut = WayOut::AnotherServer};
            }
            return {.textId = kTextServerAnsweredError, .wayOut = WayOut::RetryOrAnotherServer};
        case toWhy(FailureCode::HostUnreachable):
            return {.textId = kTextServerUnreachable, .wayOut = WayOut::RetryOrAnotherServer};
        case toWhy(FailureCode::FileFailed):
            return fileText(facts);
        case toWhy(FailureCode::ProxyUnreachable):
            return {.textId = kTextProxyUnreachable, .wayOut = WayOut::RetryOrAnotherServer};
        case toWhy(FailureCode::ProxyRejected):
            return {.textId = kTextProxyRefused, .wayOut = WayOut::RetryOrAnotherServer};
        // The same settings meet the same refusal: they change on page 1 (Proxy).
        case toWhy(FailureCode::ProxyMethodRejected):
        case toWhy(FailureCode::ProxyAuthRejected):
            return {.textId = kTextProxySignIn, .wayOut = WayOut::AnotherServer};
        case toWhy(FailureCode::BadUrl):
            return {.textId = kTextUnusableAddress, .wayOut = WayOut::AnotherServer};
        case toWhy(FailureCode::TlsFailed):
            return secureConnectionText(facts.detail);
        default:
            return {.textId = kTextTransferCut};
    }
}

}  // namespace

namespace {
// On a full disk what counts is what is on it: the count received includes bytes that were
// still waiting to be written when the write failed.
std::int64_t bytesKept(const net::DataConnection& connection) {
    struct stat info {};
    if (connection.lastFileError() == ENOSPC && !connection.Filename().empty() &&
        ::lstat(connection.Filename().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return std::min<std::int64_t>(info.st_size, connection.ReceivedBytes());
    }
    return connection.ReceivedBytes();
}
}  // namespace

TransferFacts transferFacts(std::int32_t why, const net::DataConnection* connection) {
    if (connection == nullptr) {
        return {.why = why};
    }
    return {.why = why,
            .reply = connection->HTTPReply(),
            .detail = connection->lastFailureDetail(),
            .fileError = connection->lastFileError(),
            .length = connection->DownloadLength(),
            .received = bytesKept(*connection)};
}

FailureDescription describeTransfer(const TransferFacts& facts) {
    FailureDescription shown = chooseText(facts);
    if (!facts.detail.empty()) {
        shown.technical = technicalText(facts.detail);
    } else if (facts.why == toWhy(FailureCode::FileFailed) && facts.fileError != 0) {
        shown.technical = technicalText(std::generic_category().message(facts.fileError));
    }
    return shown;
}

FailureDescription describeRowFailure(const RowFailure& failure) {
    switch (failure.kind) {
        case RowFailureKind::BadName:
            // The update information names the file: another server may name it right.
            return {.textId = kTextUnusableAddress,
                    .wayOut = WayOut::AnotherServer,
                    .technical = technicalText(failure.detail)};
        case RowFailureKind::LinkInPath:
            return {.textId = kTextNoLinks, .trailing = technicalText(failure.detail)};
        case RowFailureKind::Transfer:
            return describeTransfer(transferFacts(failure.why, failure.connection));
        case RowFailureKind::Stalled:
            return {.textId = kTextNoData};
        case RowFailureKind::DigestUnreadable:
            return {.textId = kTextFileUnusable, .technical = technicalText(failure.detail)};
        case RowFailureKind::DigestMismatch:
            return {.textId = kTextDigestMismatch, .wayOut = WayOut::RetryOrAnotherServer};
        case RowFailureKind::SizeMismatch:
            // The server's file is another than the one announced: another server may have
            // the right one.
            return {.textId = kTextSizeMismatch,
                    .values = {std::to_string(failure.size)},
                    .wayOut = WayOut::RetryOrAnotherServer,
                    .technical = technicalText(failure.detail)};
    }
    return {};
}

FailureDescription describeSpaceShortage(std::int64_t needed, std::int64_t free) {
    // The free space rounded down, as the needed space is rounded up: 10.04 MB needed of
    // 10.06 MB free never reads as "10.1 MB needed, 10.1 MB free".
    const std::int64_t bytes = std::max<std::int64_t>(free, 0);
    const std::int64_t freeTenths = bytes / kMegabyte * 10 + bytes % kMegabyte * 10 / kMegabyte;
    const std::string freeText =
        std::to_string(freeTenths / 10) + "." + std::to_string(freeTenths % 10);
    return {.textId = kTextSpaceShort, .values = {megabytesText(needed), freeText}};
}

std::string megabytesText(std::int64_t bytes) {
    if (bytes <= 0) {
        return "0.0";
    }
    // In two steps, so that no product can overflow: whole megabytes, then the tenths of the
    // rest, rounded up.
    const std::int64_t tenths =
        bytes / kMegabyte * 10 + (bytes % kMegabyte * 10 + kMegabyte - 1) / kMegabyte;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace upd::wizard
