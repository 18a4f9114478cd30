#include "wizard/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "net/ascii_case.h"
#include "platform/app_folder.h"
#include "platform/create_folders.h"
#include "platform/read_whole_file.h"
#include "platform/update_path.h"
#include "platform/write_all.h"

namespace upd::wizard {
namespace {

// The journal, as written before the first change and rewritten once at the commit. Fields
// are separated by blanks; bytes of names that could end a field are written as %XX.
//
//   upd-install-journal 2
//   token 9f3c0a51d2e47b68              <- names the temporary copies beside the targets
//   state planned                       <- "committed" once every file is in place
//   entry sub%20x\a.dll sub%20x/a.dll sub%20x/a.dll 1 2049 1311772 2049 1311990
//         (name, source under update/, target under APP/, existed, device and inode of the
//          old target, device and inode of the download: what the target holds once moved)
//   folder sub%20x                      <- created for the targets, parents first
//   end
//
// It holds no progress: what has been done is read from the files themselves. A target whose
// device and inode differ from the recorded ones holds the new file (made while the old one
// still existed, so it cannot have the old one's inode); a source missing from the update
// folder was moved to its target. A record of each step would cost an fsync per file and
// could still lag one step behind the files.
// Version 1 entries lacked the download's identity: a forged one could have a rollback move
// any file of the folder, so such a journal is set aside like any unusable one.
constexpr std::string_view kJournalMagic = "upd-install-journal 2";
constexpr std::string_view kJournalName = "install.journal";
constexpr std::string_view kJournalTempName = "install.journal.new";
constexpr std::string_view kBackupFolderName = ".install-backup";
// Taken by a running installation (see installerOwnsName); reserved now so that no update set
// can ever announce it.
constexpr std::string_view kLockName = "install.lock";
// Copies made beside a target while it is replaced: ".upd-<token>-<n>.part".
constexpr std::string_view kCopyPartPrefix = ".upd-";
constexpr std::string_view kUpdateFolderName = "update";
// A journal lists one line per file; anything this large is not one of ours.
constexpr std::int64_t kMaxJournalBytes = std::int64_t{64} << 20;
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    // After writes the result of close(2) counts: network file systems report there.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd;
};

InstallFailure failureOf(const std::string& entry, int error) {
    InstallFailure failure;
    failure.entry = entry;
    failure.error = error;
    failure.inUseOrDenied =
        error == EACCES || error == EPERM || error == EBUSY || error == ETXTBSY || error == EROFS;
    failure.systemText = std::generic_category().message(error);
    return failure;
}

InstallFailure failureOf(const std::string& entry, std::string text) {
    InstallFailure failure;
    failure.entry = entry;
    failure.systemText = std::move(text);
    return failure;
}

struct Layout {
    explicit Layout(const std::string& appFolder)
        : app(platform::withTrailingSeparator(appFolder)),
          update(app + std::string(kUpdateFolderName) + "/"),
          backups(update + std::string(kBackupFolderName) + "/"),
          journal(update + std::string(kJournalName)),
          journalTemp(update + std::string(kJournalTempName)) {}

    std::string app;
    std::string update;
    std::string backups;
    std::string journal;
    std::string journalTemp;
};

struct Step {
    std::string name;    // as the caller gave it, for messages
    std::string source;  // relative to the update folder, components joined with '/'
    std::string target;  // relative to the application folder
    bool existed = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The download's identity: a target with it holds the file this installation moved there.
    std::uint64_t newDevice = 0;
    std::uint64_t newInode = 0;
};

struct Journal {
    std::string token;
    bool committed = false;
    std::vector<Step> steps;
    std::vector<std::string> folders;
};

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string sourcePath(const Layout& layout, const Step& step) {
    return layout.update + step.source;
}
std::string targetPath(const Layout& layout, const Step& step) {
    return layout.app + step.target;
}
// Backups and their temporary names lie in two subtrees, so no target name can clash with a
// temporary one.
std::string backupPath(const Layout& layout, const Step& step) {
    return layout.backups + "files/" + step.target;
}
std::string backupPartPath(const Layout& layout, std::size_t index) {
    return layout.backups + std::to_string(index) + ".part";
}
// Short, so that a long target name cannot make it too long.
std::string copyPartPath(const Layout& layout, const Journal& journal, std::size_t index) {
    return parentOf(targetPath(layout, journal.steps[index])) + ".upd-" + journal.token + "-" +
           std::to_string(index) + ".part";
}

// `base` and every folder of `relativeFolder` below it ("a/b/" adds base, base+"a/",
// base+"a/b/").
void addFolderChain(std::set<std::string>& folders, const std::string& base,
                    const std::string& relativeFolder) {
    folders.insert(base);
    for (std::size_t slash = relativeFolder.find('/'); slash != std::string::npos;
         slash = relativeFolder.find('/', slash + 1)) {
        folders.insert(base + relativeFolder.substr(0, slash + 1));
    }
}

// Makes renames and new names in these folders durable. Returns 0 or the first errno: before
// the commit a folder that cannot be synced (EIO) fails the installation, since its renames
// might not survive a power cut. A folder that is gone (removed when empty) needs nothing.
int syncFolders(const std::set<std::string>& folders) {
    int first = 0;
    for (const std::string& folder : folders) {
        Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const int error = fd.get() < 0             ? (errno == ENOENT ? 0 : errno)
                          : ::fsync(fd.get()) != 0 ? errno
                                                   : 0;
        if (first == 0) {
            first = error;
        }
    }
    return first;
}

// Flushes a downloaded file's contents: renamed into place unflushed, a power cut could bring
// it back empty after the commit, when no old copy is kept any more.
int syncFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        return errno;
    }
    return 0;
}

// True when `relative` under `base` does not lead out of `base` through a link: the real
// path of its deepest existing level lies within base's real path. "lib/x" with lib -> lib64
// (a folder of the application) stays inside; lib -> /usr/lib does not.
bool staysInside(const std::string& base, const std::string& relative) {
    char* root = ::realpath(base.c_str(), nullptr);
    if (root == nullptr) {
        return false;
    }
    const std::string realRoot = std::string(root) + "/";
    std::free(root);
    std::string path = base + relative;
    while (path.size() >= base.size()) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            const std::string found = std::string(real) + "/";
            std::free(real);
            return found.compare(0, realRoot.size(), realRoot) == 0;
        }
        if (errno != ENOENT) {
            return false;
        }
        while (!path.empty() && path.back() == '/') {
            path.pop_back();
        }
        path = parentOf(path);
    }
    return false;
}

// Whether two regular files hold the same bytes: the test for an installed copy (a target
// on another file system than the update folder gets a copy, with an inode of its own).
bool sameContent(const std::string& a, const std::string& b) {
    Fd first(::open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    Fd second(::open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat one {};
    struct stat two {};
    if (first.get() < 0 || second.get() < 0 || ::fstat(first.get(), &one) != 0 ||
        ::fstat(second.get(), &two) != 0 || !S_ISREG(one.st_mode) || !S_ISREG(two.st_mode) ||
        one.st_size != two.st_size) {
        return false;
    }
    std::vector<char> x(kCopyChunk);
    std::vector<char> y(kCopyChunk);
    for (off_t at = 0; at < one.st_size;) {
        const ssize_t got = ::pread(first.get(), x.data(), x.size(), at);
        if (got <= 0 || ::pread(second.get(), y.data(), static_cast<std::size_t>(got), at) != got ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(got)) != 0) {
            return false;
        }
        at += got;
    }
    return true;
}

std::set<std::string> foldersTouched(const Layout& layout, const Journal& journal) {
    std::set<std::string> folders;
    for (const Step& step : journal.steps) {
        addFolderChain(folders, layout.app, parentOf(step.target));
        addFolderChain(folders, layout.update, parentOf(step.source));
    }
    return folders;
}

// ---- Copies ------------------------------------------------------------------------------

// In pieces, whatever the size: the kernel copies (or shares blocks) when it can, a buffer
// otherwise. Both offsets advance together, so the buffer takes over where the kernel stopped.
bool copyContent(int in, int out) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
            if (copied > 0) {
                continue;
            }
            if (copied == 0) {
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            // Older kernels, and some pairs of file systems, cannot copy between these files.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                return false;
            }
            kernelCopy = false;
            buffer.resize(kCopyChunk);
        }
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        if (!platform::writeAll(out,
                                std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return false;
        }
    }
}

// Copies the regular file or symbolic link `from` to the new name `to` (never an existing
// file), with `from`'s permission bits and times. Afterwards `to` is whole and on disk, or does
// not exist. Returns 0 or the errno.
int copyFile(const std::string& from, const std::string& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        return errno;
    }
    if (S_ISLNK(info.st_mode)) {
        std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
        const ssize_t length = ::readlink(from.c_str(), link.data(), link.size());
        if (length < 0) {
            return errno;
        }
        link.resize(static_cast<std::size_t>(length));
        return ::symlink(link.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) {
        return errno;
    }
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return errno;
    }
    // The download plan compares last-write times: a copy must not look newer than the file.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    int error = 0;
    if (!copyContent(in.get(), out.get()) || ::fchmod(out.get(), info.st_mode & 07777) != 0 ||
        ::futimens(out.get(), times) != 0 || ::fsync(out.get()) != 0) {
        error = errno;
    }
    if (!out.close() && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(to.c_str());
    }
    return error;
}

// A copy of `from` made under the name `part` and renamed to `to`, so that `to` is never
// missing or half written.
int copyThenRename(const std::string& from, const std::string& to, const std::string& part) {
    if (const int error = copyFile(from, part); error != 0) {
        return error;
    }
    if (::rename(part.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(part.c_str());
        return error;
    }
    return 0;
}

// Puts `from` at `to` in one step, replacing what is there. Across file systems (EXDEV) the
// copy is made beside `to` under the name `part` and renamed over it; `from` then stays
// where it is.
int renameOver(const std::string& from, const std::string& to, const std::string& part) {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return 0;
    }
    return errno == EXDEV ? copyThenRename(from, to, part) : errno;
}

// ---- The journal -------------------------------------------------------------------------

std::string escapeField(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == '%' || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out.empty() ? "%" : out;  // a lone '%' stands for an empty field
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> unescapeField(std::string_view text) {
    if (text == "%") {
        return std::string();
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string journalText(const Journal& journal) {
    std::string text = std::string(kJournalMagic) + "\ntoken " + journal.token + "\nstate " +
                       (journal.committed ? "committed" : "planned") + "\n";
    for (const Step& step : journal.steps) {
        text += "entry " + escapeField(step.name) + ' ' + escapeField(step.source) + ' ' +
                escapeField(step.target) + ' ' + (step.existed ? '1' : '0') + ' ' +
                std::to_string(step.device) + ' ' + std::to_string(step.inode) + ' ' +
                std::to_string(step.newDevice) + ' ' + std::to_string(step.newInode) + '\n';
    }
    for (const std::string& folder : journal.folders) {
        text += "folder " + escapeField(folder) + '\n';
    }
    return text + "end\n";
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos <= line.size()) {
        std::size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// A relative path read back from the journal, accepted only when it stays under `base` in
// the form this file writes, names none of the installer's own files, and does not lead out
// through a link: even a forged journal cannot make a recovery touch anything outside the
// application folder.
std::optional<std::string> checkedRelative(const std::string& base, std::string_view field) {
    std::optional<std::string> relative = unescapeField(field);
    if (!relative) {
        return std::nullopt;
    }
    const platform::UpdatePath path = platform::hostPathUnder(base, *relative);
    if (!path || path.path != base + *relative || installerOwnsName(*relative) ||
        !staysInside(base, parentOf(*relative))) {
        return std::nullopt;
    }
    return relative;
}

bool inUpdateFolder(const std::string& target) {
    return target.substr(0, target.find('/')) == kUpdateFolderName;
}

std::optional<Journal> parseJournal(const Layout& layout, std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            return std::nullopt;  // every line ends with '\n', "end" included
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (lines.size() < 4 || lines.front() != kJournalMagic || lines.back() != "end") {
        return std::nullopt;
    }
    Journal journal;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string_view> f = splitFields(lines[i]);
        if (i == 1 && f.size() == 2 && f[0] == "token" && f[1].size() == 16 &&
            f[1].find_first_not_of("0123456789abcdef") == std::string_view::npos) {
            journal.token = f[1];
        } else if (i == 2 && f.size() == 2 && f[0] == "state" &&
                   (f[1] == "planned" || f[1] == "committed")) {
            journal.committed = f[1] == "committed";
        } else if (i > 2 && f.size() == 9 && f[0] == "entry" && (f[4] == "0" || f[4] == "1")) {
            const auto name = unescapeField(f[1]);
            const auto source = checkedRelative(layout.update, f[2]);
            const auto target = checkedRelative(layout.app, f[3]);
            const auto device = parseNumber(f[5]);
            const auto inode = parseNumber(f[6]);
            const auto newDevice = parseNumber(f[7]);
            const auto newInode = parseNumber(f[8]);
            if (!name || !source || !target || inUpdateFolder(*target) || !device || !inode ||
                !newDevice || !newInode) {
                return std::nullopt;
            }
            journal.steps.push_back(
                {*name, *source, *target, f[4] == "1", *device, *inode, *newDevice, *newInode});
        } else if (i > 2 && f.size() == 2 && f[0] == "folder") {
            auto folder = checkedRelative(layout.app, f[1]);
            if (!folder || inUpdateFolder(*folder)) {
                return std::nullopt;
            }
            journal.folders.push_back(std::move(*folder));
        } else {
            return std::nullopt;
        }
    }
    return journal;
}

// Written beside and renamed into place: the journal on disk is always a whole one.
std::optional<InstallFailure> writeJournal(const Layout& layout, const Journal& journal) {
    const std::string text = journalText(journal);
    // A new file, never through a link planted at its name: whatever lies there goes first.
    ::unlink(layout.journalTemp.c_str());
    Fd fd(::open(layout.journalTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0600));
    bool ok = fd.get() >= 0 && platform::writeAll(fd.get(), text) && ::fsync(fd.get()) == 0;
    int error = ok ? 0 : errno;
    if (!fd.close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(layout.journalTemp.c_str(), layout.journal.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(layout.journalTemp.c_str());
        return failureOf("", error);
    }
    if (const int synced = syncFolders({layout.update}); synced != 0) {
        return failureOf("", synced);
    }
    return std::nullopt;
}

struct LoadedJournal {
    bool found = false;
    std::optional<Journal> journal;
    std::optional<InstallFailure> failure;
};

LoadedJournal loadJournal(const Layout& layout) {
    LoadedJournal loaded;
    // Never through a link, never waiting on a pipe, never a folder or a huge file.
    const platform::ReadResult file =
        platform::readWholeFile(layout.journal, static_cast<std::uint64_t>(kMaxJournalBytes),
                                platform::LinkPolicy::NoFollow);
    if (!file.bytes && file.missing) {
        return loaded;
    }
    loaded.found = true;
    if (file.bytes) {
        loaded.journal = parseJournal(layout, *file.bytes);
    }
    if (!loaded.journal) {
        loaded.failure =
            failureOf("", file.bytes ? "the installation journal " + layout.journal + " is damaged"
                                     : file.error);
    }
    return loaded;
}

// ---- Rollback and completion ---------------------------------------------------------------

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The last step of an installation, finished or undone: the backups and the journal go,
// and the update folder's new state is on disk.
std::optional<InstallFailure> dropJournalAndBackups(const Layout& layout) {
    std::error_code ignored;
    std::filesystem::remove_all(layout.backups, ignored);
    ::unlink(layout.journalTemp.c_str());
    if (::unlink(layout.journal.c_str()) != 0 && errno != ENOENT) {
        return failureOf("", errno);
    }
    syncFolders({layout.update});
    return std::nullopt;
}

// Whether `target` (seen as `now`) still holds the file this installation put there: the
// download itself (moved: its device and inode), or a copy of it (across file systems the
// download stays in the update folder until the clean-up, and the bytes tell).
bool holdsInstalledFile(const Step& step, const struct stat& now, const std::string& source,
                        const std::string& target) {
    if (now.st_dev == step.newDevice && now.st_ino == step.newInode) {
        return true;
    }
    return S_ISREG(now.st_mode) && sameContent(source, target);
}

// Whatever was done, undone: each target that holds its new file gets its backup back (or is
// removed when it was new), the moved downloads go back to the update folder for another
// attempt, the created folders go when empty. Runs again safely after being interrupted
// itself. On failure the journal stays for the next attempt.
std::optional<InstallFailure> rollBack(const Layout& layout, const Journal& journal) {
    std::optional<InstallFailure> failure;
    for (std::size_t i = journal.steps.size(); i-- > 0;) {
        const Step& step = journal.steps[i];
        const std::string source = sourcePath(layout, step);
        const std::string target = targetPath(layout, step);
        const std::string part = copyPartPath(layout, journal, i);
        ::unlink(part.c_str());
        const std::string backup = backupPath(layout, step);
        struct stat now {};
        // A target that was there keeps its backup until the backup is renamed back over it
        // (all backups are made before the first rename): without one it is the old file.
        if (::lstat(target.c_str(), &now) != 0 ||
            (step.existed &&
             ((now.st_dev == step.device && now.st_ino == step.inode) || !exists(backup)))) {
            continue;  // never replaced, or put back already
        }
        // The application may have run since the crash and made a file where this
        // installation had not yet put one: that file is the user's, and stays.
        if (!holdsInstalledFile(step, now, source, target)) {
            continue;
        }
        // Only a move within one file system takes the source away, and a link back then
        // works. Losing the download is no harm: the next attempt fetches it again.
        const bool moved = !exists(source);
        int error = 0;
        if (step.existed) {
            if (moved) {
                ::link(target.c_str(), source.c_str());
            }
            error = renameOver(backup, target, part);
        } else if (!(moved && ::rename(target.c_str(), source.c_str()) == 0) &&
                   ::unlink(target.c_str()) != 0 && errno != ENOENT) {
            error = errno;
        }
        if (error != 0 && !failure) {
            failure = failureOf(step.name, error);
        }
    }
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder) {
        ::rmdir((layout.app + *folder).c_str());  // kept when something else is in it now
    }
    // Done again at the next start when a folder cannot be synced: the journal stays.
    if (const int synced = syncFolders(foldersTouched(layout, journal)); synced != 0 && !failure) {
        failure = failureOf("", synced);
    }
    if (failure) {
        return failure;
    }
    return dropJournalAndBackups(layout);
}

// After the commit only the clean-up is left: downloads that were copied rather than moved,
// the sub-folders of the update folder they leave empty, the backups, the journal.
std::optional<InstallFailure> complete(const Layout& layout, const Journal& journal) {
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        ::unlink(copyPartPath(layout, journal, i).c_str());
        ::unlink(sourcePath(layout, journal.steps[i]).c_str());
        for (std::string folder = parentOf(journal.steps[i].source); !folder.empty();
             folder = parentOf(folder.substr(0, folder.size() - 1))) {
            if (::rmdir((layout.update + folder).c_str()) != 0) {
                break;  // still holds other downloads
            }
        }
    }
    return dropJournalAndBackups(layout);
}

// A journal that cannot be used goes aside with the backups, under dated names
// ("install.journal.20261207-101500", ".install-backup.20261207-101500"); the names found
// are returned, relative to the update folder. 0 or the errno of the rename that failed.
int setAside(const Layout& layout, std::string& journalAside, std::string& backupsAside) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = {};
    ::gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    const auto freeName = [&](std::string_view base) {
        std::string name = std::string(base) + "." + stamp;
        for (int n = 2; exists(layout.update + name); ++n) {
            name = std::string(base) + "." + stamp + "-" + std::to_string(n);
        }
        return name;
    };
    const bool backups = exists(layout.backups);
    journalAside = freeName(kJournalName);
    backupsAside = backups ? freeName(kBackupFolderName) : std::string();
    // rename moves a link or a folder at the journal's name as it is, never what it names.
    if (backups && ::rename(layout.backups.c_str(), (layout.update + backupsAside).c_str()) != 0) {
        return errno;
    }
    if (::rename(layout.journal.c_str(), (layout.update + journalAside).c_str()) != 0) {
        return errno;
    }
    return syncFolders({layout.update});
}

// ---- Installation --------------------------------------------------------------------------

std::string newToken() {
    std::random_device random;
    const std::uint64_t value = (std::uint64_t{random()} << 32) ^ random();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int shift = 60; shift >= 0; shift -= 4) {
        token += kHex[(value >> shift) & 15];
    }
    return token;
}

// Programs get the run bit: ELF executables and scripts.
mode_t newFileMode(const std::string& path, int& error) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    char head[4] = {};
    ssize_t got = -1;
    if (fd.get() >= 0) {
        do {
            got = ::pread(fd.get(), head, sizeof head, 0);
        } while (got < 0 && errno == EINTR);
    }
    if (got < 0) {
        error = errno;
        return 0;
    }
    const std::string_view start(head, static_cast<std::size_t>(got));
    return start == "\177ELF" || start.substr(0, 2) == "#!" ? 0755 : 0644;
}

// How a step's file is put in place, decided when it is planned.
struct Placement {
    mode_t mode = 0;  // the permission bits (never setuid or setgid: those stay with the old file)
    bool folderTarget = false;  // a folder stands where the file should go
    bool keepOwner = false;     // the old file's owner and group go to the new one, where allowed
    uid_t owner = 0;
    gid_t group = 0;
};

// Checks every entry and records what the journal needs, changing nothing. `placements`
// receives how each file will be put in place.
std::optional<InstallFailure> plan(const Layout& layout, const std::vector<InstallEntry>& entries,
                                   Journal& journal, std::vector<Placement>& placements) {
    std::set<std::string> sources;
    std::set<std::string> targets;
    std::set<std::string> folders;
    for (const InstallEntry& entry : entries) {
        const platform::UpdatePath source = platform::hostPathUnder(layout.update, entry.name);
        const platform::UpdatePath target = platform::hostPathUnder(layout.app, entry.target);
        if (!source || !target) {
            return failureOf(entry.name, platform::describe(source ? target.error : source.error));
        }
        Step step;
        step.name = entry.name;
        step.source = source.path.substr(layout.update.size());
        step.target = target.path.substr(layout.app.size());
        if (installerOwnsName(step.source)) {
            return failureOf(entry.name, "the name is that of the installation's own files");
        }
        if (inUpdateFolder(step.target)) {
            return failureOf(entry.name, "the target lies in the update folder");
        }
        // A journal naming it could not be trusted either (checkedRelative): so no such step.
        if (!staysInside(layout.app, parentOf(step.target)) ||
            !staysInside(layout.update, parentOf(step.source))) {
            return failureOf(entry.name,
                             "the folder of the file is a link that leads out of "
                             "the application folder");
        }
        if (!sources.insert(step.source).second || !targets.insert(step.target).second) {
            return failureOf(entry.name, "another entry names the same file");
        }
        struct stat info {};
        if (::lstat(source.path.c_str(), &info) != 0) {
            return failureOf(entry.name, errno);
        }
        if (!S_ISREG(info.st_mode)) {
            return failureOf(entry.name, "the downloaded file is not a regular file");
        }
        step.newDevice = info.st_dev;
        step.newInode = info.st_ino;
        Placement placement;
        mode_t& mode = placement.mode;
        if (::lstat(target.path.c_str(), &info) == 0) {
            step.existed = true;
            step.device = info.st_dev;
            step.inode = info.st_ino;
            placement.folderTarget = S_ISDIR(info.st_mode);
            placement.owner = info.st_uid;
            placement.group = info.st_gid;
            placement.keepOwner = S_ISREG(info.st_mode);
            // A link is replaced by the file itself, with the bits of the file it named.
            if (S_ISLNK(info.st_mode) && ::stat(target.path.c_str(), &info) != 0) {
                info.st_mode = 0;
            }
            if (S_ISREG(info.st_mode)) {
                mode = info.st_mode & 0777;
            }
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return failureOf(entry.name, errno);
        }
        if (mode == 0) {
            int error = 0;
            mode = newFileMode(source.path, error);
            if (error != 0) {
                return failureOf(entry.name, error);
            }
        }
        if (entry.program) {
            mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
        }
        // Folders missing now are the ones this installation creates; once one level is
        // missing, so are the ones below it.
        const std::string parent = parentOf(step.target);
        bool missing = false;
        for (std::size_t slash = parent.find('/'); slash != std::string::npos;
             slash = parent.find('/', slash + 1)) {
            const std::string folder = parent.substr(0, slash);
            missing = missing || !exists(layout.app + folder);
            if (missing && folders.insert(folder).second) {
                journal.folders.push_back(folder);
            }
        }
        journal.steps.push_back(std::move(step));
        placements.push_back(placement);
    }
    return std::nullopt;
}

// Keeps the target so a rollback can put it back: a hard link when the file system allows
// (instant, any size), else a copy under a temporary name renamed into place, so a backup that
// exists is always whole.
int makeBackup(const Layout& layout, const Step& step, std::size_t index) {
    const std::string target = targetPath(layout, step);
    const std::string backup = backupPath(layout, step);
    if (const int error = platform::createFoldersUnder(
            layout.update, std::string(kBackupFolderName) + "/files/" + parentOf(step.target), 0700,
            platform::LinkPolicy::NoFollow);
        error != 0) {
        return error;
    }
    if (::link(target.c_str(), backup.c_str()) == 0) {
        return 0;
    }
    const std::string part = backupPartPath(layout, index);
    ::unlink(part.c_str());
    return copyThenRename(target, backup, part);
}

int putInPlace(const Layout& layout, const Journal& journal, std::size_t index,
               const Placement& placement) {
    const Step& step = journal.steps[index];
    // The application's own folder links (lib -> lib64) stay usable, as they always were.
    if (const int error = platform::createFoldersUnder(layout.app, parentOf(step.target), 0755,
                                                       platform::LinkPolicy::Follow);
        error != 0) {
        return error;
    }
    const std::string source = sourcePath(layout, step);
    // Only root may give a file away; anyone else keeps the group where they belong to it.
    // Refused is no failure: the file is then this user's, as a new file would be.
    if (placement.keepOwner) {
        (void)::lchown(source.c_str(), placement.owner, placement.group);
    }
    // After the owner: the mode is the last word (a change of owner may clear bits).
    if (::chmod(source.c_str(), placement.mode) != 0) {
        return errno;
    }
    return renameOver(source, targetPath(layout, step), copyPartPath(layout, journal, index));
}

}  // namespace

namespace {
bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && net::startsWithNoCase(a, b);
}
}  // namespace

bool installerOwnsName(std::string_view name) {
    const auto separator = [](char c) { return c == '/' || c == '\\'; };
    bool first = true;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t end = pos;
        while (end < name.size() && !separator(name[end])) {
            ++end;
        }
        const std::string_view part = name.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") {
            continue;  // dropped by the path rules, as "\\install.journal" or "./x"
        }
        // Folded: on a folder without case, "Install.Journal" is the journal itself.
        // Prefixes: journals and backups set aside carry a date after the name.
        if (first &&
            (net::startsWithNoCase(part, kJournalName) ||
             net::startsWithNoCase(part, kBackupFolderName) || sameNoCase(part, kLockName))) {
            return true;
        }
        if (net::startsWithNoCase(part, kCopyPartPrefix)) {
            return true;
        }
        first = false;
    }
    return false;
}

InstallResult installFiles(const std::string& appFolder, const std::vector<InstallEntry>& entries) {
    InstallResult result;
    if (RecoveryResult earlier = recoverInterruptedInstall(appFolder); earlier.failure) {
        result.failure = std::move(earlier.failure);
        result.recoveryPending = true;
        return result;
    }
    if (entries.empty()) {
        return result;
    }
    const Layout layout(appFolder);
    Journal journal;
    journal.token = newToken();
    std::vector<Placement> placements;
    if (auto failure = plan(layout, entries, journal, placements)) {
        result.failure = std::move(failure);
        return result;
    }
    // Every download on disk before anything changes (see syncFile).
    for (const Step& step : journal.steps) {
        if (const int error = syncFile(sourcePath(layout, step)); error != 0) {
            result.failure = failureOf(step.name, error);
            return result;
        }
    }
    // Left by a clean-up that was cut short; without a journal nothing needs it.
    std::error_code ignored;
    std::filesystem::remove_all(layout.backups, ignored);
    if (auto failure = writeJournal(layout, journal)) {
        result.failure = std::move(failure);
        return result;
    }
    const auto fail = [&](InstallFailure failure) {
        result.recoveryPending = rollBack(layout, journal).has_value();
        result.failure = std::move(failure);
        return result;
    };
    // Every backup before the first rename: a failure here has changed nothing yet. A folder
    // in a target's place cannot be replaced; its rename fails in turn.
    std::set<std::string> backupFolders{layout.update};
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        const Step& step = journal.steps[i];
        if (step.existed && !placements[i].folderTarget) {
            if (const int error = makeBackup(layout, step, i); error != 0) {
                return fail(failureOf(step.name, error));
            }
            addFolderChain(backupFolders, layout.backups, "files/" + parentOf(step.target));
        }
    }
    if (const int error = syncFolders(backupFolders); error != 0) {
        return fail(failureOf("", error));
    }
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        if (const int error = putInPlace(layout, journal, i, placements[i]); error != 0) {
            return fail(failureOf(journal.steps[i].name, error));
        }
    }
    // The renames durable before the commit says they happened.
    if (const int error = syncFolders(foldersTouched(layout, journal)); error != 0) {
        return fail(failureOf("", error));
    }
    journal.committed = true;
    if (auto failure = writeJournal(layout, journal)) {
        journal.committed = false;
        return fail(std::move(*failure));
    }
    // Everything is in place; a clean-up cut short is finished at the next start.
    complete(layout, journal);
    for (const Step& step : journal.steps) {
        result.installed.push_back(targetPath(layout, step));
    }
    return result;
}

RecoveryResult recoverInterruptedInstall(const std::string& appFolder) {
    const Layout layout(appFolder);
    RecoveryResult result;
    LoadedJournal loaded = loadJournal(layout);
    if (!loaded.found) {
        ::unlink(layout.journalTemp.c_str());  // a journal whose writing was cut short
        return result;
    }
    result.journalFound = true;
    if (!loaded.journal) {
        // Not a permanent block: kept for a look, under names no installation uses.
        std::string journalAside;
        std::string backupsAside;
        if (const int error = setAside(layout, journalAside, backupsAside); error != 0) {
            result.failure = failureOf("", error);
            return result;
        }
        result.setAsideJournal = std::move(journalAside);
        result.setAsideBackups = std::move(backupsAside);
        return result;
    }
    if (loaded.journal->committed) {
        result.failure = complete(layout, *loaded.journal);
        result.completed = !result.failure;
    } else {
        result.failure = rollBack(layout, *loaded.journal);
        result.rolledBack = !result.failure;
    }
    return result;
}

}  // namespace upd::wizard
