#include "wizard/row_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "net/ascii_case.h"
#include "net/data_connection.h"
#include "net/mdl_data_connection.h"
#include "platform/create_folders.h"
#include "platform/monotonic_clock.h"
#include "platform/update_path.h"
#include "publishing/file_digest_pass.h"
#include "publishing/zstd_codec.h"
#include "wizard/resume_record.h"

namespace upd::wizard {
namespace {

// About a tenth of a second of hashing per turn of the event loop.
constexpr std::int64_t kDigestSliceBytes = 32 << 20;
// Of a form's bytes decoded per turn: a patch may decode to many times its size.
constexpr std::int64_t kApplySliceBytes = 4 << 20;

// Where a form of the row's file `target` is fetched: a name the installer keeps for itself,
// so no update set can announce it.
std::string formPath(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    return target.substr(0, slash + 1) + ".upd-form-" + target.substr(slash + 1);
}

bool regularFileAt(const std::string& path, std::int64_t& size) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    size = static_cast<std::int64_t>(info.st_size);
    return true;
}

bool isCompleteUrl(const std::string& source) {
    return net::startsWithNoCase(source, "http");
}

// The engine's byte limit for a file of `size` bytes, which counts the whole file (a resumed
// transfer's included). One byte past the size is the proof that the file is longer: at the
// size itself the engine would end the transfer as complete, and a reply without a length
// that went on would pass for the announced file.
std::int64_t byteLimit(std::int64_t size) {
    return size < std::numeric_limits<std::int64_t>::max() ? size + 1 : size;
}

}  // namespace

RowDownload::RowDownload(std::string appFolder,
                         std::function<app::ProxyConnection(const std::string& url)> proxySettings,
                         RowDownloadEvents events)
    : m_appFolder(std::move(appFolder)),
      m_proxySettings(std::move(proxySettings)),
      m_events(std::move(events)) {}

RowDownload::~RowDownload() {
    release();
}

void RowDownload::makeUpdateFolder() const {
    (void)platform::createFoldersUnder(m_appFolder, "update", 0755, platform::LinkPolicy::NoFollow);
}

void RowDownload::start(const RowRequest& request) {
    release();
    m_request = request;
    m_checkingKept = false;
    m_form.reset();
    m_decoded = false;
    m_state = RowState::Fetching;
    m_failureWhy = -1;
    m_lastBytes = 0;
    m_startMs = platform::monotonicMs();

    const bool isHttp = isCompleteUrl(request.source);
    const std::string& name = isHttp ? request.listedName : request.source;
    // The name comes from the server: it must stay inside the update folder.
    const platform::UpdatePath target = platform::hostPathUnder(m_appFolder + "update", name);
    m_target = target ? target.path : std::string();
    m_rowTarget = m_target;
    if (!target) {
        fail({.kind = RowFailureKind::BadName,
              .name = name,
              .detail = platform::describe(target.error)});
        return;
    }
    // The update folder is the wizard's own: a link anywhere along the row's path (the folder
    // itself, a sub-folder, the file) could aim the download at a file elsewhere.
    const std::string relative = target.path.substr(m_appFolder.size());
    if (platform::linkAlong(m_appFolder, relative) == ELOOP) {
        fail({.kind = RowFailureKind::LinkInPath, .name = name, .detail = target.path});
        return;
    }
    if (const std::size_t slash = relative.rfind('/'); slash != std::string::npos) {
        (void)platform::createFoldersUnder(m_appFolder, relative.substr(0, slash), 0755,
                                           platform::LinkPolicy::NoFollow);
    }
    // A file already whole here (from another server, or a pass before Back) is taken when its
    // bytes are the announced ones, without a transfer; a partial one has its resume record.
    std::int64_t kept = 0;
    struct stat record {};
    if (!request.digest.empty() && request.size && regularFileAt(m_rowTarget, kept) &&
        kept == *request.size && ::lstat(resumeRecordPath(m_rowTarget).c_str(), &record) != 0) {
        m_checkingKept = true;
        m_expectedDigest = request.digest;
        m_digestPass = std::make_unique<FileDigestPass>(m_rowTarget);
        m_state = RowState::Checking;
        if (m_events.Slices) {
            m_events.Slices();
        }
        return;
    }
    chooseForm();
}

void RowDownload::chooseForm() {
    const RowRequest& request = m_request;
    // Which patch applies depends on the installed file's bytes: read first, a slice a turn.
    std::int64_t installedSize = 0;
    if (offersPatch(request.forms) && regularFileAt(request.installedPath, installedSize) &&
        installedSize <= publishing::kMaxPatchedFileBytes) {
        m_digestPass = std::make_unique<FileDigestPass>(request.installedPath);
        m_state = RowState::Preparing;
        if (m_events.Slices) {
            m_events.Slices();
        }
        return;
    }
    beginTransfer(wizard::chooseForm(request.forms, {}));
}

void RowDownload::beginTransfer(std::optional<FileForm> form) {
    const RowRequest& request = m_request;
    m_form = std::move(form);
    m_state = RowState::Fetching;
    m_failureWhy = -1;
    m_lastBytes = 0;
    m_startMs = platform::monotonicMs();
    m_expectedDigest = m_form ? m_form->sha256 : request.digest;
    m_expectedSize = m_form ? std::optional<std::int64_t>(m_form->size) : request.size;
    m_target = m_form ? formPath(m_rowTarget) : m_rowTarget;
    if (m_form && platform::linkAlong(m_appFolder, m_target.substr(m_appFolder.size())) == ELOOP) {
        fail({.kind = RowFailureKind::LinkInPath, .name = request.listedName, .detail = m_target});
        return;
    }
    std::string description;
    if (!m_socketsStarted) {
        m_socketsStarted = net::WinsockStartup(description);
    }
    if (m_events.Fetching) {
        m_events.Fetching(m_expectedSize);
    }
    const bool isHttp = isCompleteUrl(request.source);

    net::DataConnectionEvents events;
    events.BytesReceived = [this](std::int64_t n, std::int32_t) { RemoteFile_BytesReceived(n); };
    events.Disconnected = [this](std::int32_t) { RemoteFile_Disconnected(); };
    events.DownloadFailed = [this](std::int32_t why, std::int32_t) {
        RemoteFile_DownloadFailed(why);
    };
    // A redirect reconnects without Connected and its reply carries no body.
    events.Connected = [this](std::int32_t) { watchStall(platform::monotonicMs()); };
    events.QuerySent = [this](std::int32_t) { watchStall(platform::monotonicMs()); };
    m_connection = std::make_unique<net::DataConnection>(events);
    if (m_state == RowState::Failed) {
        // The object could not register for notifications and has said so: no transfer.
        m_connection.reset();
        return;
    }
    net::DataConnection& file = *m_connection;
    file.setDownloadType(0);
    file.setFilename(m_target);
    file.setUseTempFile(false);
    file.setAutoRedirect(true);
    file.setAllowCache(false);
    // The update information and the files after it share connections to the server.
    file.setKeepAlive(true);
    file.setHttpUser("");
    file.setHttpPass("");
    file.setUseHttpAuthorization(true);
    // Names use "\" between folders; in a URL every web server reads "/" as the separator.
    std::string url = m_form ? formSource(request.source, *m_form) : request.source;
    if (!isHttp) {
        std::replace(url.begin(), url.end(), '\\', '/');
        url = (request.serverAddress ? request.serverAddress() : std::string()) + url;
    }
    app::applyProxy(m_proxySettings ? m_proxySettings(url) : app::ProxyConnection{}, file);
    m_identity = rowIdentity(url, m_expectedDigest);
    m_recordKept = false;
    std::int64_t from = 0;
    std::string validator;
    if (request.resume) {
        struct stat info {};
        const std::optional<ResumeRecord> record = readResumeRecord(m_target);
        // Without a validator nothing tells whether the server's file is still the one the
        // bytes came from: only an announced digest, checked at the end, can, or the bytes
        // come from this object's own transfer a moment ago (a Retry).
        const bool checkable = record && (!record->validator.empty() || !m_expectedDigest.empty() ||
                                          m_keptHere.contains(m_identity));
        if (checkable && record->row == m_identity && ::lstat(m_target.c_str(), &info) == 0 &&
            S_ISREG(info.st_mode)) {
            from = info.st_size;
            validator = record->validator;
        }
    }
    // Bytes that already reach the announced size are no start: the rest of the file is
    // nothing, and more than the file is another file.
    if (m_expectedSize && from >= *m_expectedSize) {
        from = 0;
        validator.clear();
    }
    if (from == 0) {
        // Bytes of another update, another server or an unknown transfer are no start.
        removePartialDownload(m_target);
    }
    file.setResumeFrom(from);
    file.setIfRange(validator);
    file.setUseResume(true);
    if (m_expectedSize) {
        file.setMaxDownload(byteLimit(*m_expectedSize));
    }
    file.setPacketSize(10000);
    watchStall(platform::monotonicMs());
    file.FetchURLString(url);
}

void RowDownload::release() {
    m_digestPass.reset();
    m_applier.reset();
    m_connection.reset();
    if (m_socketsStarted) {
        net::WinsockCleanup();
        m_socketsStarted = false;
    }
    m_state = RowState::Idle;
}

void RowDownload::watchStall(std::int64_t nowMs) {
    m_lastActivityMs = nowMs;
    if (m_events.StallWatch) {
        m_events.StallWatch(m_stallTimeoutMs);
    }
}

// Restarting a timer for every packet would cost more than the packet: each packet notes the
// time, and the owner's check, when it comes, waits on for what is left.
std::int64_t RowDownload::checkStall(std::int64_t nowMs) {
    const std::int64_t quiet = nowMs - m_lastActivityMs;
    if (quiet < m_stallTimeoutMs) {
        return m_stallTimeoutMs - quiet;
    }
    if (m_form) {
        fallBack("no data came for " + std::to_string(m_stallTimeoutMs / 1000) + " s");
        return 0;
    }
    release();
    m_restartWhole = false;  // what arrived is the file's start: a retry resumes from it
    fail({.kind = RowFailureKind::Stalled});
    return 0;
}

int RowDownload::waitingSeconds(std::int64_t nowMs) const {
    if (m_state != RowState::Fetching || failing()) {
        return 0;
    }
    const std::int64_t quiet = nowMs - m_lastActivityMs;
    if (quiet < kWaitingNoticeMs) {
        return 0;
    }
    return static_cast<int>(std::min<std::int64_t>(quiet / 1000, std::numeric_limits<int>::max()));
}

void RowDownload::RemoteFile_BytesReceived(std::int64_t lByteCount) {
    m_lastActivityMs = platform::monotonicMs();
    // Before the resume record is written: bytes of a file that is not the announced one are
    // no start for a later run. An error page is no file at all (failing()): it fails as a
    // transfer, whatever its length.
    if (m_expectedSize && m_connection && !failing()) {
        if (lengthDiffers()) {
            failSize("the server announces " + std::to_string(m_connection->DownloadLength()) +
                     " bytes");
            return;
        }
        if (lByteCount > *m_expectedSize) {
            failSize("more than " + std::to_string(*m_expectedSize) + " bytes arrived");
            return;
        }
    }
    // Once per reply with a body for the file: which bytes these are, so that a later start
    // (after a stall, Back, Cancel or a restart) can resume them.
    if (!m_recordKept && m_connection && !failing() &&
        (m_connection->HTTPReply() == 200 || m_connection->HTTPReply() == 206)) {
        m_recordKept = true;
        // A range granted without a validator of its own still belongs to the one asked with.
        std::string validator = m_connection->ReplyValidator();
        if (validator.empty() && m_connection->HTTPReply() == 206) {
            validator = m_connection->IfRange();
        }
        if (writeResumeRecord(m_target, {.row = m_identity, .validator = validator})) {
            m_keptHere.insert(m_identity);
        }
    }
    m_lastBytes = lByteCount;
    if (m_events.Progress) {
        m_events.Progress(lByteCount);
    }
}

void RowDownload::RemoteFile_DownloadFailed(std::int32_t Why) {
    if (m_failureWhy < 0) {
        m_failureWhy = Why;
    }
    // An error status is followed by its body and the close: the final event comes later.
    if (!m_connection || !m_connection->IsConnected()) {
        failRow();
    }
}

void RowDownload::failRow() {
    if (m_form) {
        const std::int32_t status = m_connection ? m_connection->HTTPReply() : 0;
        fallBack(status != 0 ? "the server answered " + std::to_string(status)
                             : "the transfer failed (" + std::to_string(m_failureWhy) + ")");
        return;
    }
    const std::int32_t reply = m_connection ? m_connection->HTTPReply() : 0;
    const bool resumed = m_connection && m_connection->UseResume();
    // Released like any other, but destroyed only after the report, which reads its detail.
    const std::unique_ptr<net::DataConnection> ended = std::move(m_connection);
    release();
    // A refused range starts over. So does an error reply to a whole request: its body (a
    // 404 page) went into the file, and a resumed retry would keep it as the file's start.
    // The body of an error reply to a range is not written: the bytes before it stay.
    const bool errorReply = reply != 0 && reply != 200 && reply != 206;
    m_restartWhole = reply == 416 || (errorReply && !resumed);
    if (m_restartWhole && !m_target.empty()) {
        removePartialDownload(m_target);
    }
    fail({.kind = RowFailureKind::Transfer, .why = m_failureWhy, .connection = ended.get()});
}

void RowDownload::RemoteFile_Disconnected() {
    if (m_failureWhy >= 0) {
        // The body of an error reply is no file: the row has failed.
        failRow();
        return;
    }
    m_restartWhole = false;
    // Whole: nothing left to resume, and the record must not outlive the file's move.
    ::unlink(resumeRecordPath(m_target).c_str());
    // A reply without a length ends where the server closes: shorter than announced, the
    // file is cut; the digest is read only from a file of the announced size.
    if (m_expectedSize) {
        struct stat info {};
        if (::lstat(m_target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            failSize("no file arrived");
            return;
        }
        if (info.st_size != *m_expectedSize) {
            failSize(std::to_string(info.st_size) + " bytes arrived");
            return;
        }
    }
    if (m_expectedDigest.empty()) {
        if (m_events.Arrived) {
            m_events.Arrived();
        }
        m_state = RowState::Finished;
        if (m_events.Finished) {
            m_events.Finished();
        }
        return;
    }
    // A file with a digest counts as arrived only once its bytes are the announced ones; the
    // check reads it a slice per turn of the owner's loop.
    m_digestPass = std::make_unique<FileDigestPass>(m_target);
    m_state = RowState::Checking;
    if (m_events.Arrived) {
        m_events.Arrived();
    }
}

void RowDownload::checkDigestSlice() {
    if (m_state == RowState::Applying) {
        if (!m_applier || !m_applier->step(kApplySliceBytes)) {
            return;
        }
        const std::unique_ptr<publishing::ZstdApplier> applier = std::move(m_applier);
        removePartialDownload(m_target);  // the form: done with, whatever came of it
        if (applier->failed()) {
            fallBack("the " + formWord(m_form) + " could not be applied: " + applier->error());
            return;
        }
        // The decoded file counts only with the whole file's digest.
        m_decoded = true;
        m_target = m_rowTarget;
        m_expectedDigest = m_request.digest;
        m_expectedSize = m_request.size;
        m_digestPass = std::make_unique<FileDigestPass>(m_target);
        m_state = RowState::Checking;
        return;
    }
    if (!m_digestPass || !m_digestPass->step(kDigestSliceBytes)) {
        return;
    }
    const std::unique_ptr<FileDigestPass> pass = std::move(m_digestPass);
    if (m_state == RowState::Preparing) {
        beginTransfer(
            wizard::chooseForm(m_request.forms, pass->failed() ? std::string() : pass->hex()));
        return;
    }
    const bool matches = !pass->failed() && pass->hex() == m_expectedDigest;
    if (std::exchange(m_checkingKept, false) && !matches) {
        removePartialDownload(m_rowTarget);  // another file's bytes: fetched after all
        chooseForm();
        return;
    }
    if (matches && m_form && !m_decoded) {
        startApplying();
        return;
    }
    if (!matches && m_form) {
        fallBack(m_decoded ? "the " + formWord(m_form) + " did not give the announced file"
                           : "the " + formWord(m_form) + " is not the announced one");
        return;
    }
    if (!pass->failed() && pass->hex() == m_expectedDigest) {
        m_state = RowState::Finished;
        if (m_events.Finished) {
            m_events.Finished();
        }
        return;
    }
    // Never installed, started or opened: gone, and a retry fetches it whole.
    release();
    removePartialDownload(m_target);
    m_restartWhole = true;
    if (pass->failed()) {
        fail({.kind = RowFailureKind::DigestUnreadable, .detail = pass->error()});
    } else {
        fail({.kind = RowFailureKind::DigestMismatch});
    }
}

bool RowDownload::lengthDiffers() const {
    const std::int32_t reply = m_connection->HTTPReply();
    // The whole file's length: a range's end, or the length of a reply that ignored the range.
    const std::int64_t length = m_connection->DownloadLength();
    return (reply == 200 || reply == 206) && length >= 0 && length != *m_expectedSize;
}

void RowDownload::failSize(std::string detail) {
    if (m_form) {
        fallBack("the " + formWord(m_form) + " is not the announced size: " + detail);
        return;
    }
    const std::int64_t size = m_expectedSize.value_or(-1);
    release();
    // Never installed, and no start for a retry, which fetches the file whole.
    removePartialDownload(m_target);
    m_restartWhole = true;
    fail({.kind = RowFailureKind::SizeMismatch, .detail = std::move(detail), .size = size});
}

void RowDownload::startApplying() {
    // A partial whole file of an earlier attempt is no part of the result.
    removePartialDownload(m_rowTarget);
    const bool patch = m_form->kind == FileForm::Kind::Patch;
    m_applier = std::make_unique<publishing::ZstdApplier>(
        m_target, patch ? m_request.installedPath : std::string(), m_rowTarget,
        m_request.size.value_or(0));
    m_state = RowState::Applying;
}

void RowDownload::fallBack(std::string why) {
    const std::string formFile = m_form ? formPath(m_rowTarget) : std::string();
    const bool wroteRow = m_decoded || m_state == RowState::Applying;
    RowRequest whole = m_request;
    whole.forms.clear();
    release();
    if (!formFile.empty()) {
        removePartialDownload(formFile);
    }
    if (wroteRow) {
        removePartialDownload(m_rowTarget);
    }
    if (m_events.Fallback) {
        m_events.Fallback(why);
    }
    start(whole);
}

void RowDownload::fail(RowFailure failure) {
    m_state = RowState::Failed;
    if (m_events.Failed) {
        m_events.Failed(failure);
    }
}

}  // namespace upd::wizard
