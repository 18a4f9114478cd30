#include "app/update_log.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "net/ascii_case.h"
#include "platform/app_folder.h"
#include "platform/create_folders.h"
#include "platform/link_policy.h"
#include "platform/printable_text.h"

namespace upd::app {
namespace {

constexpr const char* kLogFileName = "update.log";
constexpr const char* kOldLogFileName = "update.log.1";
constexpr char kLogHex[] = "0123456789abcdef";

// O_NONBLOCK: a named pipe put at update.log fails at once (ENXIO) instead of blocking the
// update until a reader comes; on the regular file that is kept it changes nothing.
int openLogFileAt(int folderFd) {
    const int fd =
        ::openat(folderFd, kLogFileName,
                 O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    // A hard link planted at the name would make our lines land in another file.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// "p%40ss" gives "p@ss": a password inside a URL is percent-encoded, and must be found there
// too. A '%' not followed by two hex digits stays as it is.
std::string percentDecodedForLog(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && net::hexDigitValue(text[i + 1]) >= 0 &&
            net::hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(net::hexDigitValue(text[i + 1]) * 16 +
                                     net::hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool holdsSecret(std::string_view value, std::span<const std::string> secrets) {
    if (secrets.empty()) {
        return false;
    }
    const std::string decoded = percentDecodedForLog(value);
    for (const std::string& secret : secrets) {
        if (!secret.empty() && (value.find(secret) != std::string_view::npos ||
                                decoded.find(secret) != std::string::npos)) {
            return true;
        }
    }
    return false;
}

// A blank would split the value in two for a reader that cuts at blanks, so such a value (and
// an empty one, which would vanish) is quoted; the quote itself is written as \x22, so a value
// can never close its quotes early.
void appendLogValue(std::string& line, std::string_view value) {
    const bool quoted = value.empty() || value.find(' ') != std::string_view::npos;
    if (quoted) {
        line += '"';
    }
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (platform::isControlByte(byte) || c == '"') {
            line += "\\x";
            line += kLogHex[byte >> 4];
            line += kLogHex[byte & 0x0F];
        } else {
            line += c;
        }
    }
    if (quoted) {
        line += '"';
    }
}

// A folder given as "/a/b/" is opened as "/a/b": with a trailing '/' the kernel resolves a
// link in the last place even under O_NOFOLLOW.
std::string withoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

UpdateLog::UpdateLog(int folderFd, int fd, std::string path)
    : m_folderFd(folderFd), m_fd(fd), m_path(std::move(path)) {}

UpdateLog::UpdateLog(UpdateLog&& other) noexcept
    : m_folderFd(std::exchange(other.m_folderFd, -1)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_lastWriteOk(other.m_lastWriteOk),
      m_path(std::move(other.m_path)),
      m_secrets(std::move(other.m_secrets)) {}

UpdateLog& UpdateLog::operator=(UpdateLog&& other) noexcept {
    if (this != &other) {
        close();
        m_folderFd = std::exchange(other.m_folderFd, -1);
        m_fd = std::exchange(other.m_fd, -1);
        m_lastWriteOk = other.m_lastWriteOk;
        m_path = std::move(other.m_path);
        m_secrets = std::move(other.m_secrets);
    }
    return *this;
}

UpdateLog::~UpdateLog() {
    close();
}

void UpdateLog::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_folderFd >= 0) {
        ::close(m_folderFd);
        m_folderFd = -1;
    }
}

UpdateLog UpdateLog::openIn(const std::string& folder) {
    const std::string name = withoutTrailingSeparator(folder);
    const int folderFd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0) {
        return {};
    }
    const int fd = openLogFileAt(folderFd);
    if (fd < 0) {
        ::close(folderFd);
        return {};
    }
    return UpdateLog(folderFd, fd, name + '/' + kLogFileName);
}

UpdateLog UpdateLog::open(const std::string& appFolder) {
    if (appFolder.empty()) {
        return {};
    }
    const std::string folder = platform::withTrailingSeparator(appFolder);
    // The update folder is the wizard's own: a link there is refused, as for its downloads.
    if (platform::createFoldersUnder(folder, "update", 0755, platform::LinkPolicy::NoFollow) == 0) {
        if (UpdateLog log = openIn(folder + "update"); log.m_fd >= 0) {
            return log;
        }
    }
    const std::string fallback = fallbackLogFolder(folder);
    if (fallback.empty()) {
        return {};
    }
    // The user's state folders may be links (a home on another disk); the last level, which
    // is the log's own, is opened without following one.
    if (platform::createFoldersUnder("/", std::string_view(fallback).substr(1), 0700,
                                     platform::LinkPolicy::Follow) != 0) {
        return {};
    }
    return openIn(fallback);
}

void UpdateLog::event(std::string_view kind, std::initializer_list<LogField> fields) {
    if (m_fd < 0) {
        return;
    }
    std::string line = logLine(std::time(nullptr), kind,
                               std::span<const LogField>(fields.begin(), fields.size()), m_secrets);
    line += '\n';
    struct stat info {};
    if (::fstat(m_fd, &info) == 0 && info.st_size > 0 &&
        static_cast<long long>(info.st_size) + static_cast<long long>(line.size()) > kMaxBytes &&
        !rotate()) {
        return;
    }
    // One write: with O_APPEND the line lands whole at the end even when another process
    // (a second wizard of the folder, refused a moment later) writes too.
    ssize_t written = -1;
    do {
        written = ::write(m_fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    m_lastWriteOk = written == static_cast<ssize_t>(line.size());
}

bool UpdateLog::rotate() {
    struct stat mine {};
    struct stat named {};
    // Another process may have rotated the file under this descriptor already: its new
    // update.log is then the one to go on with, and renaming it would lose the old copy.
    const bool stillNamed = ::fstat(m_fd, &mine) == 0 &&
                            ::fstatat(m_folderFd, kLogFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                            mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
    if (stillNamed && ::renameat(m_folderFd, kLogFileName, m_folderFd, kOldLogFileName) != 0) {
        // Left as it is, the file would grow without bound.
        m_lastWriteOk = false;
        return false;
    }
    ::close(m_fd);
    m_fd = openLogFileAt(m_folderFd);
    m_lastWriteOk = m_fd >= 0;
    return m_fd >= 0;
}

std::string logLine(std::time_t utc, std::string_view kind, std::span<const LogField> fields,
                    std::span<const std::string> secrets) {
    char stamp[32] = "0000-00-00T00:00:00Z";
    std::tm parts{};
    if (::gmtime_r(&utc, &parts) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
    }
    std::string line = stamp;
    line += ' ';
    line += kind;
    for (const LogField& field : fields) {
        line += ' ';
        line += field.key;
        line += '=';
        appendLogValue(line, holdsSecret(field.value, secrets) ? std::string_view("***")
                                                               : std::string_view(field.value));
    }
    return line;
}

std::string redactedUrl(std::string_view url) {
    // "scheme://" only when the scheme is one word: in "host/a?next=http://u:p@h" the
    // "://" is in the query, and the address has no credentials of its own.
    std::size_t start = url.find("://");
    if (start == std::string_view::npos ||
        url.substr(0, start).find_first_of("/?#@") != std::string_view::npos) {
        start = 0;
    } else {
        start += 3;
    }
    std::size_t end = url.find_first_of("/?#", start);
    if (end == std::string_view::npos) {
        end = url.size();
    }
    const std::size_t at = url.substr(start, end - start).rfind('@');
    if (at == std::string_view::npos) {
        return std::string(url);
    }
    return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

std::string fallbackLogFolder(std::string_view appFolder) {
    std::string root;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        root = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        root = std::string(home) + "/.local/state";
    } else {
        return {};
    }
    root = platform::withTrailingSeparator(std::move(root));
    // One folder per application folder, named by a digest: a path cannot be a file name.
    const std::string key = platform::withTrailingSeparator(std::string(appFolder));
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(key.data()),
                       key.size());
    std::string hex;
    for (std::size_t i = 0; i < 8; ++i) {
        hex += kLogHex[digest[i] >> 4];
        hex += kLogHex[digest[i] & 0x0F];
    }
    return root + "update-wizard/" + hex + '/';
}

}  // namespace upd::app
