// RowDownload: the download of one row of the plan into the update folder, without the
// toolkit. Page 4 (frm_update4.h) starts one row at a time, draws what this object reports,
// and drives the two waits it cannot run itself: the stall check and the digest check.
//
//     upd::wizard::RowDownloadEvents events;
//     events.StallWatch = [](int ms) { /* call checkStall(now) in ms */ };
//     events.Progress = [](std::int64_t bytes) { ... };
//     events.Arrived = [] { /* final figures; state() Checking: call checkDigestSlice() */ };
//     events.Finished = [] { ... };
//     events.Failed = [](const upd::wizard::RowFailure& failure) { ... };
//     upd::wizard::RowDownload download(appFolder, proxySettings, events);
//     download.start({.source = "sub\\data.dat", .listedName = "sub\\data.dat", ...});
//
// What it does for a row: turns the plan's name into a path under <appFolder>update/ (a name
// that would leave it, or a symbolic link anywhere along the path, fails the row before any
// request), makes the row's sub-folders, takes a whole file already there when its digest is
// the announced one (fetched from another server, or before Back), resumes from the bytes on disk
// when asked, fetches with the proxy settings in force, keeps the resume record of the bytes
// fetched, counts a row without data for the stall time as failed, holds the file to its announced
// size (the transfer stops one byte past it, and a file longer or shorter fails before its digest
// is read), and checks an announced digest a slice at a time. A failed row never reports Finished,
// so nothing it wrote is installed; the file is removed when a retry could not build on it.
//
// Every start ends with exactly one of Finished or Failed, unless release() comes first,
// provided the owner calls checkStall and checkDigestSlice when asked. Events are raised from
// inside start(), checkStall(), checkDigestSlice() and the download object's events. A
// handler of Finished may start the next row as its last act; one of Failed must not start a
// row (a retry comes later: from the user, or posted to the loop).
//
// Ownership: the object owns the download object of the current row (RemoteFile) and the
// digest pass, and releases them on release(), on the next start() and when destroyed.
//
// Smaller forms (file_forms.h): when the row offers a patch, the installed file's digest is
// read first, a slice at a time (state Preparing); the patch made against it is fetched, else
// the compressed form, else the whole file. A form is fetched into "<folder>/.upd-form-<name>"
// and checked against its own digest and size, decoded into the row's file a slice at a time
// (Applying), and the result checked against the whole file's digest (Checking). A form that
// fails anywhere on the way is dropped and the whole file fetched instead, once (Fallback). After
// Finished the download object stays, ended, until then (its counts still read). Not copyable
// or movable: the download object's events refer to it by address.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/proxy_settings.h"
#include "wizard/file_forms.h"

namespace upd::net {
class DataConnection;
}

namespace upd::publishing {
class ZstdApplier;
}

namespace upd::wizard {

class FileDigestPass;

// What one row needs: where it comes from, what it is called, and how to take it.
struct RowRequest {
    // The plan's text: a complete URL ("http://host/file"), or a name on the chosen server
    // ("sub\\data.dat").
    std::string source{};
    // The file list's name of the row: the file's name under update/ for a complete URL.
    std::string listedName{};
    // The chosen server's address, asked for only when `source` is a name on it.
    std::function<std::string()> serverAddress{};
    // The announced SHA-256 in lower-case hex; "" when none is announced.
    std::string digest{};
    // The announced length in bytes; nothing when none is announced.
    std::optional<std::int64_t> size{};
    // Continue after the bytes already on disk when their resume record (resume_record.h)
    // says they are this row's, asking with "If-Range" for the rest of the same file; a
    // partial file that is not is removed first. False: any partial file is removed first.
    bool resume = false;
    // The smaller forms it may be fetched in, and the installed file a patch applies to ("":
    // none). Forms need `digest` and `size`.
    std::vector<FileForm> forms{};
    std::string installedPath{};
};

enum class RowState {
    Idle,       // nothing started, or released
    Preparing,  // the installed file's digest is being read (checkDigestSlice)
    Fetching,   // the request is under way
    Checking,   // the file has arrived; its digest is being checked (checkDigestSlice)
    Applying,   // a fetched form is being decoded into the file (checkDigestSlice)
    Finished,   // arrived and, when announced, with the announced digest
    Failed,     // see RowFailure
};

enum class RowFailureKind {
    BadName,           // the name cannot be a path under the update folder
    LinkInPath,        // a symbolic link along the row's path
    Transfer,          // the download object reported a failure, or an error status
    Stalled,           // no data for the stall time
    DigestUnreadable,  // the file could not be read for its digest
    DigestMismatch,    // the file's bytes are not the announced ones
    SizeMismatch,      // the file is longer or shorter than announced
};

struct RowFailure {
    RowFailureKind kind = RowFailureKind::Transfer;
    // BadName, LinkInPath: the row's name as the plan gives it (from the server: unescaped).
    std::string name{};
    // BadName: why, in English; LinkInPath: the path refused; DigestUnreadable: the system's
    // text; SizeMismatch: what arrived ("1000 bytes", "more than 1024 bytes", "the server
    // announces 2048 bytes"). Empty otherwise.
    std::string detail{};
    // SizeMismatch: the announced size.
    std::int64_t size = -1;
    // Transfer: the first failure code of the transfer (net/failure_code.h).
    std::int32_t why = -1;
    // Transfer: the ended download object, for its failure detail; valid during the report
    // only, nullptr when none could be made.
    const net::DataConnection* connection = nullptr;
};

struct RowDownloadEvents {
    // Check for a stall (checkStall) in `ms`: raised when a request starts, on the download
    // object's Connected and QuerySent, and by watchStall.
    std::function<void(int ms)> StallWatch{};
    // A body chunk has been handled; `bytes` is the count so far (receivedBytes()).
    std::function<void(std::int64_t bytes)> Progress{};
    // The body has arrived whole (the stall check is over). Finished follows at once for a
    // row without a digest; with one, state() is Checking.
    std::function<void()> Arrived{};
    std::function<void()> Finished{};
    std::function<void(const RowFailure& failure)> Failed{};
    // The row needs checkDigestSlice() each turn of the loop (needsSlices()); Arrived says so
    // too for the digest of what arrived.
    std::function<void()> Slices{};
    // A request starts for `size` bytes (announced; nothing for none): the whole file or the
    // form chosen.
    std::function<void(std::optional<std::int64_t> size)> Fetching{};
    // A form failed (`why`, in English) and the whole file is fetched instead.
    std::function<void(const std::string& why)> Fallback{};
};

class RowDownload {
  public:
    static constexpr int kStallTimeoutMs = 30'000;
    // After this long without data the row's display says it is waiting for the server.
    static constexpr int kWaitingNoticeMs = 5'000;

    // `appFolder` ends with '/'; `proxySettings` is asked once per request, with its URL.
    RowDownload(std::string appFolder,
                std::function<app::ProxyConnection(const std::string& url)> proxySettings,
                RowDownloadEvents events);
    ~RowDownload();
    RowDownload(const RowDownload&) = delete;
    RowDownload& operator=(const RowDownload&) = delete;

    // Makes <appFolder>update/ when missing. A link there is left alone: each row reports it.
    void makeUpdateFolder() const;
    // Releases what a previous row holds, then starts this one.
    void start(const RowRequest& request);
    // Drops the transfer or the digest check under way, reporting nothing.
    void release();

    // Notes `nowMs` as the last activity and raises StallWatch with the stall time.
    void watchStall(std::int64_t nowMs);
    // The milliseconds still to wait before the row counts as stalled; 0 when it does: the
    // transfer has been released and Failed(Stalled) reported.
    std::int64_t checkStall(std::int64_t nowMs);
    int stallTimeoutMs() const { return m_stallTimeoutMs; }
    // Takes effect at the next watchStall.
    void setStallTimeoutMs(int ms) { m_stallTimeoutMs = ms; }
    // The whole seconds since the last activity at `nowMs` while Fetching, once they are at
    // least kWaitingNoticeMs (5, 6, 7, ... as the silence goes on); 0 while data flows, and
    // in any other state.
    int waitingSeconds(std::int64_t nowMs) const;

    // Hashes or decodes the next slice while Preparing, Checking or Applying; at the end of the
    // last pass reports Finished or Failed.
    void checkDigestSlice();
    bool needsSlices() const {
        return m_state == RowState::Preparing || m_state == RowState::Checking ||
               m_state == RowState::Applying;
    }
    // The form being fetched or decoded; nothing: the whole file.
    const std::optional<FileForm>& form() const { return m_form; }

    // The download object's events.
    void RemoteFile_BytesReceived(std::int64_t lByteCount);
    void RemoteFile_Disconnected();
    void RemoteFile_DownloadFailed(std::int32_t Why);

    RowState state() const { return m_state; }
    // The download object of the row; nullptr between transfers.
    net::DataConnection* RemoteFile() const { return m_connection.get(); }
    // A failure has been reported for this row's transfer (an error status's body may still
    // be coming): the figures mean nothing.
    bool failing() const { return m_failureWhy >= 0; }
    // The count of the last Progress; 0 when the row has started.
    std::int64_t receivedBytes() const { return m_lastBytes; }
    // When the row started, on platform::monotonicMs().
    std::int64_t startMs() const { return m_startMs; }
    // The row's last end left nothing to resume from (a refused range, an error page in the
    // file, a digest mismatch): a retry fetches the file whole. A row refused before its
    // request (BadName, LinkInPath) keeps the value the previous end gave.
    bool restartsWhole() const { return m_restartWhole; }

  private:
    // Reads the installed file's digest when a patch is offered, else requests the row.
    void chooseForm();
    // Requests the whole file (no form) or `form` of the row.
    void beginTransfer(std::optional<FileForm> form);
    // Drops the form under way and fetches the whole file.
    void fallBack(std::string why);
    void startApplying();
    // Ends the row's transfer as failed.
    void failRow();
    // Drops the transfer and the file that is not the announced size, and reports it.
    void failSize(std::string detail);
    // The reply of the transfer announces a length other than the row's size.
    bool lengthDiffers() const;
    void fail(RowFailure failure);

    std::string m_appFolder;
    std::function<app::ProxyConnection(const std::string& url)> m_proxySettings;
    RowDownloadEvents m_events;

    RowState m_state = RowState::Idle;
    std::unique_ptr<net::DataConnection> m_connection;
    std::unique_ptr<FileDigestPass> m_digestPass;
    std::string m_expectedDigest;
    std::optional<std::int64_t> m_expectedSize;
    bool m_socketsStarted = false;
    std::string m_target;     // the file being fetched: the row's, or its form's
    std::string m_rowTarget;  // the row's file in the update folder
    RowRequest m_request;     // of the row under way
    std::optional<FileForm> m_form;
    bool m_decoded = false;       // Checking the result of a decoded form
    bool m_checkingKept = false;  // Checking a whole file found in the update folder
    std::unique_ptr<publishing::ZstdApplier> m_applier;
    std::int64_t m_startMs = 0;
    std::int64_t m_lastActivityMs = 0;
    int m_stallTimeoutMs = kStallTimeoutMs;
    std::int64_t m_lastBytes = 0;
    std::int32_t m_failureWhy = -1;
    bool m_restartWhole = false;
    std::string m_identity;            // rowIdentity of the row under way
    bool m_recordKept = false;         // this transfer's resume record has been written
    std::set<std::string> m_keptHere;  // rows whose records this object wrote
};

}  // namespace upd::wizard
