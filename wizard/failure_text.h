// What the wizard tells the user about a failed download, chosen without the toolkit: the
// string table's text that says what happened, the numbers to fill into it, what the user
// can do, and the engine's English detail, which a page shows only as a technical suffix in
// brackets. Pages 2 and 4 draw the result (Page::failureSentence) and the unattended run
// prints what they draw, so the user reads every failure in the user's language.
//
//     // in RowDownloadEvents::Failed:
//     const FailureDescription shown = describeRowFailure(failure);
//     // text(shown.textId) with "%1" ... filled from shown.values, then shown.trailing,
//     // then " (" + shown.technical + ")" when there is one
//
// Every code of net/failure_code.h has a text here (its own English text stays the
// engine's, for updtool and logs), and so has every failure a row adds: a name that cannot
// be a path, a link, a stall, a digest. The choice reads only what it is given: an ended
// download object through transferFacts, or facts a test makes up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wizard/row_download.h"

namespace upd::net {
class DataConnection;
}

namespace upd::wizard {

// The string table's texts of failures (English and Simplified Chinese).
inline constexpr int kTextTransferCut = 179;          // 0, 1, 3
inline constexpr int kTextCannotStart = 180;          // 2
inline constexpr int kTextServerAnsweredError = 181;  // 4
inline constexpr int kTextFileMissing = 182;          // 4 with 404 or 410
inline constexpr int kTextServerUnreachable = 183;    // 5
inline constexpr int kTextFileUnusable = 184;         // 6; a file unreadable for its digest
inline constexpr int kTextDiskFullNeeds = 185;        // 6 with ENOSPC: "%1" MB still to come
inline constexpr int kTextDiskFull = 186;             // 6 with ENOSPC, length unknown
inline constexpr int kTextProxyUnreachable = 187;     // 7
inline constexpr int kTextProxyRefused = 188;         // 8
inline constexpr int kTextProxySignIn = 189;          // 9, 10
inline constexpr int kTextUnusableAddress = 190;      // 11; a name that cannot be a path
inline constexpr int kTextNoSecureConnection = 191;   // 12
inline constexpr int kTextCertificateDates = 192;     // 12: expired or not yet valid
inline constexpr int kTextCertificateRefused = 193;   // 12: not trusted, or another host's
inline constexpr int kTextNoData = 158;               // a stall
inline constexpr int kTextDigestMismatch = 170;       // the bytes are not the announced ones
inline constexpr int kTextNoLinks = 174;              // a link along the row's path
inline constexpr int kTextSizeMismatch = 211;         // not the announced size: "%1" bytes
inline constexpr int kTextSpaceShort = 212;           // "%1" MB needed, "%2" MB free

// What the user can do after the failure.
enum class WayOut {
    Retry,                 // the same server again: the cause may pass
    RetryOrAnotherServer,  // again, or another server or the proxy settings (page 1)
    AnotherServer,         // the same request can only fail again: page 1, not Retry
};

struct FailureDescription {
    int textId = kTextTransferCut;
    // Fill "%1", "%2", ... of the text, in order.
    std::vector<std::string> values{};
    WayOut wayOut = WayOut::Retry;
    // Shown as it is after the text, which ends with a colon: the path a link was found at.
    std::string trailing{};
    // The engine's or the system's English detail, printable and bounded; "" for none.
    std::string technical{};
};

// What is known of a transfer that ended with DownloadFailed(why).
struct TransferFacts {
    std::int32_t why = -1;      // net::FailureCode
    std::int32_t reply = 0;     // the status of the last reply; 0 for none
    std::string detail{};       // DataConnection::lastFailureDetail
    int fileError = 0;          // DataConnection::lastFileError
    std::int64_t length = -1;   // DownloadLength: the file's whole length, -1 unknown
    std::int64_t received = 0;  // ReceivedBytes: the bytes of the file that have arrived
};

// The facts of the ended `connection` (nullptr: only `why` is known).
TransferFacts transferFacts(std::int32_t why, const net::DataConnection* connection);

FailureDescription describeTransfer(const TransferFacts& facts);
// A row's failure; a Transfer one reads its download object, valid during the report only.
FailureDescription describeRowFailure(const RowFailure& failure);

// Not enough free space for the update to start (update_budget.h): `needed` bytes, `free`
// bytes free. Retry checks again, once the user has made room.
FailureDescription describeSpaceShortage(std::int64_t needed, std::int64_t free);

// `bytes` in MB (1 MB = 1,048,576 bytes) with one decimal, rounded up so that the space
// asked for is never less than needed: 1 byte gives "0.1", 1,048,576 gives "1.0".
std::string megabytesText(std::int64_t bytes);

}  // namespace upd::wizard
