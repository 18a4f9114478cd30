#include "wizard/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/monotonic_clock.h"
#include "platform/write_all.h"

namespace upd::wizard {
namespace {

using platform::CodePage;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// update.ini and proxy.ini, with room for a few more; the least recently used goes first.
constexpr std::size_t kMaxCachedFiles = 8;

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Only on UTF-8 text: in a double-byte code page the second byte of a character may be an
// ASCII letter ("\x81\x41" and "\x81\x61" are two different characters).
void foldAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

// The name as callers give it: blanks around it dropped, ASCII case folded.
std::string lookupKey(std::string_view utf8Name) {
    std::string key(trimBlanks(utf8Name));
    foldAscii(key);
    return key;
}

bool isLeadByte(unsigned char byte, CodePage cp) {
    if (cp == 932) {
        // 0xA1-0xDF are the one-byte half-width katakana.
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }
    return platform::isDoubleByteCodePage(cp) && byte >= 0x81 && byte <= 0xFE;
}

// Every double-byte code page here takes its second bytes from 0x40 upwards, so the
// characters that give a line its structure (blanks, '=', ';', '"', '\'') never hide inside a
// character; '[' and ']' (0x5B, 0x5D) can, and are searched character by character.
bool isTrailByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

// Length in bytes of the ANSI character at text[pos]: 2 for a lead byte with a valid second
// byte, else 1 (a lone lead byte counts as a character of its own).
std::size_t ansiCharacterLength(std::string_view text, std::size_t pos, CodePage cp) {
    if (pos + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[pos]), cp) &&
        isTrailByte(static_cast<unsigned char>(text[pos + 1]))) {
        return 2;
    }
    return 1;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string errorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

IniWriteResult failure(IniWriteError error, std::string message) {
    return IniWriteResult{error, std::move(message)};
}

// ---- Files -------------------------------------------------------------------------------

// What must stay the same for a parsed file to be reused.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& info) {
    return FileStamp{
        info.st_dev,         info.st_ino,          static_cast<std::uint64_t>(info.st_size),
        info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ctim.tv_sec,
        info.st_ctim.tv_nsec};
}

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }

    int get() const { return m_fd; }
    // Closes now, reporting the error that a deferred write may only show here.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

  private:
    int m_fd = -1;
};

enum class ReadStatus { Ok, Missing, Failed, TooLarge };

struct FileContent {
    FileDescriptor fd;  // still open, for the cache
    std::string bytes;
    FileStamp stamp;
    mode_t mode = 0;
    bool stable = false;  // the file did not change while it was read
    int error = 0;
};

// `openFlags` adds to O_RDONLY: a private write passes O_NOFOLLOW and O_NONBLOCK.
ReadStatus readWholeFile(const std::string& path, FileContent& out, int openFlags = 0) {
    FileDescriptor& fd = out.fd;
    fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | openFlags));
    if (fd.get() < 0) {
        out.error = errno;
        return out.error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) {
        out.error = errno;
        return ReadStatus::Failed;
    }
    if (!S_ISREG(before.st_mode)) {
        out.error = EINVAL;
        return ReadStatus::Failed;
    }
    if (static_cast<std::uint64_t>(before.st_size) > kMaxProfileFileBytes) {
        return ReadStatus::TooLarge;
    }
    out.bytes.clear();
    out.bytes.reserve(static_cast<std::size_t>(before.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            out.error = errno;
            return ReadStatus::Failed;
        }
        if (got == 0) {
            break;
        }
        out.bytes.append(buffer, static_cast<std::size_t>(got));
        if (out.bytes.size() > kMaxProfileFileBytes) {
            return ReadStatus::TooLarge;
        }
    }
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) {
        out.error = errno;
        return ReadStatus::Failed;
    }
    out.stamp = stampOf(after);
    out.stable = stampOf(before) == out.stamp && out.bytes.size() == out.stamp.size;
    out.mode = before.st_mode;
    return ReadStatus::Ok;
}

// The file that a write must replace: the one a symbolic link names, not the link.
std::string writeTarget(const std::string& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(file.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return file;
}

// Writes `bytes` to a new file beside `target` and renames it over `target`: readers see
// the old file or the new one, never a part of either.
IniWriteResult replaceFile(const std::string& target, std::string_view bytes, mode_t mode,
                           struct stat& written) {
    namespace fs = std::filesystem;
    const fs::path targetPath(target);
    fs::path folder = targetPath.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temporary = (folder / ("." + targetPath.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return failure(IniWriteError::WriteFailed, "cannot create a temporary file in " +
                                                       folder.string() + ": " + errorText(errno));
    }
    // mkostemp's 0600 is reduced by the umask; set the bits explicitly either way.
    bool ok = ::fchmod(fd.get(), mode) == 0 && platform::writeAll(fd.get(), bytes) &&
              ::fsync(fd.get()) == 0 && ::fstat(fd.get(), &written) == 0;
    int error = ok ? 0 : errno;
    if (!fd.close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return failure(IniWriteError::WriteFailed,
                       "cannot write " + target + ": " + errorText(error));
    }
    // Make the rename itself durable; a failure here no longer risks the content.
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() >= 0) {
        ::fsync(folderFd.get());
    }
    return {};
}

// ---- Cache -------------------------------------------------------------------------------

// A syscall is what a cached read costs, so the check uses the cheapest one: fstat on the
// descriptor the file was read through. Any change to that file shows in it: new content
// (size, modification time), a rename or delete (change time, link count). Only a change of
// what the path names (a folder along it replaced, a link pointed elsewhere) leaves the file
// itself untouched; the path is looked up again when the last look-up is older than this.
constexpr std::int64_t kPathCheckIntervalMs = 100;

class ProfileCache {
  public:
    std::string read(const std::string& section, const std::string& key, const std::string& file) {
        const CodePage cp = platform::systemCodePage();
        std::lock_guard lock(m_mutex);
        if (auto it = m_entries.find(file); it != m_entries.end()) {
            if (isCurrent(file, it->second, cp)) {
                it->second.lastUse = ++m_clock;
                return it->second.document.value(section, key);
            }
            m_entries.erase(it);
        }
        FileContent content;
        if (readWholeFile(file, content) != ReadStatus::Ok) {
            return {};
        }
        ++m_loads;
        ProfileDocument document = ProfileDocument::parse(std::move(content.bytes), cp);
        std::string value = document.value(section, key);
        if (content.stable) {
            rememberLocked(file, std::move(content.fd), content.stamp, std::move(document));
        }
        return value;
    }

    // After a write: `fd` is open on the file that was written, `stamp` is its state then.
    void remember(const std::string& file, FileDescriptor fd, const FileStamp& stamp,
                  ProfileDocument document) {
        std::lock_guard lock(m_mutex);
        rememberLocked(file, std::move(fd), stamp, std::move(document));
    }

    void forget(const std::string& file) {
        std::lock_guard lock(m_mutex);
        m_entries.erase(file);
    }

    std::uint64_t loads() const {
        std::lock_guard lock(m_mutex);
        return m_loads;
    }

  private:
    struct Entry {
        FileDescriptor fd;
        FileStamp stamp;
        ProfileDocument document;
        std::int64_t pathCheckedMs = 0;  // platform::monotonicMs()
        std::uint64_t lastUse = 0;
    };

    static bool isCurrent(const std::string& file, Entry& entry, CodePage cp) {
        struct stat info {};
        if (entry.document.codePage() != cp || ::fstat(entry.fd.get(), &info) != 0 ||
            info.st_nlink == 0 || stampOf(info) != entry.stamp) {
            return false;
        }
        const std::int64_t now = platform::monotonicMs();
        if (now - entry.pathCheckedMs >= kPathCheckIntervalMs) {
            struct stat byPath {};
            if (::stat(file.c_str(), &byPath) != 0 || byPath.st_dev != info.st_dev ||
                byPath.st_ino != info.st_ino) {
                return false;
            }
            entry.pathCheckedMs = now;
        }
        return true;
    }

    void rememberLocked(const std::string& file, FileDescriptor fd, const FileStamp& stamp,
                        ProfileDocument document) {
        if (m_entries.size() >= kMaxCachedFiles && m_entries.find(file) == m_entries.end()) {
            auto oldest = m_entries.begin();
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
                if (it->second.lastUse < oldest->second.lastUse) {
                    oldest = it;
                }
            }
            m_entries.erase(oldest);
        }
        m_entries.insert_or_assign(file, Entry{std::move(fd), stamp, std::move(document),
                                               platform::monotonicMs(), ++m_clock});
    }

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::uint64_t m_clock = 0;
    std::uint64_t m_loads = 0;
};

ProfileCache& cache() {
    static ProfileCache instance;
    return instance;
}

}  // namespace

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// ---- ProfileDocument ---------------------------------------------------------------------

ProfileDocument::ProfileDocument() = default;

ProfileDocument ProfileDocument::parse(std::string bytes, CodePage codePage) {
    ProfileDocument document;
    document.m_bytes = std::move(bytes);
    document.m_codePage = codePage;
    if (std::string_view(document.m_bytes).starts_with(kUtf8Bom)) {
        document.m_encoding = ProfileEncoding::Utf8;
        document.m_bodyBegin = kUtf8Bom.size();
    }
    // The first line break sets the style of lines that a write adds.
    const std::size_t firstBreak = document.m_bytes.find('\n', document.m_bodyBegin);
    if (firstBreak != std::string::npos &&
        (firstBreak == document.m_bodyBegin || document.m_bytes[firstBreak - 1] != '\r')) {
        document.m_lineEnding = "\n";
    }
    document.buildIndex();
    return document;
}

void ProfileDocument::buildIndex() {
    m_sections.clear();
    const bool doubleByte =
        m_encoding == ProfileEncoding::Ansi && platform::isDoubleByteCodePage(m_codePage);
    const std::string_view all(m_bytes);
    Section* current = nullptr;  // null above the first section and in repeated sections
    std::size_t lineBegin = m_bodyBegin;
    while (lineBegin < all.size()) {
        const std::size_t lineBreak = all.find('\n', lineBegin);
        const std::size_t next = lineBreak == std::string_view::npos ? all.size() : lineBreak + 1;
        std::size_t lineEnd = lineBreak == std::string_view::npos ? all.size() : lineBreak;
        if (lineEnd > lineBegin && all[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        const std::size_t thisLine = lineBegin;
        lineBegin = next;

        std::size_t pos = thisLine;
        while (pos < lineEnd && isBlank(all[pos])) {
            ++pos;
        }
        if (pos == lineEnd || all[pos] == ';') {
            continue;
        }
        const std::string_view line = all.substr(pos, lineEnd - pos);
        if (line.front() == '[') {
            std::size_t close = 1;
            while (close < line.size() && line[close] != ']') {
                close += doubleByte ? ansiCharacterLength(line, close, m_codePage) : 1;
            }
            // "[Section" without its bracket is no header, just a key line.
            if (close < line.size()) {
                auto [it, inserted] =
                    m_sections.try_emplace(foldedName(trimBlanks(line.substr(1, close - 1))));
                current = inserted ? &it->second : nullptr;
                if (current != nullptr) {
                    current->lastLineEnd = lineEnd;
                    current->lastLineNext = next;
                }
                continue;
            }
        }
        if (current == nullptr) {
            continue;
        }
        KeyEntry entry;
        entry.lineEnd = lineEnd;
        std::string_view name;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            // A bare "Key" line is a key with an empty value.
            name = trimBlanks(line);
            entry.editBegin = pos + name.size();
            entry.valueBegin = entry.valueEnd = lineEnd;
        } else {
            name = trimBlanks(line.substr(0, equals));
            entry.hasEquals = true;
            std::size_t valueBegin = pos + equals + 1;
            while (valueBegin < lineEnd && isBlank(all[valueBegin])) {
                ++valueBegin;
            }
            std::size_t valueEnd = lineEnd;
            while (valueEnd > valueBegin && isBlank(all[valueEnd - 1])) {
                --valueEnd;
            }
            entry.editBegin = valueBegin < lineEnd ? valueBegin : pos + equals + 1;
            // Password="secret" and Password='secret' both read as secret.
            if (valueEnd - valueBegin >= 2 && (all[valueBegin] == '"' || all[valueBegin] == '\'') &&
                all[valueEnd - 1] == all[valueBegin]) {
                ++valueBegin;
                --valueEnd;
            }
            entry.valueBegin = valueBegin;
            entry.valueEnd = valueEnd;
        }
        current->keys.try_emplace(foldedName(name), entry);
        current->lastLineEnd = lineEnd;
        current->lastLineNext = next;
    }
}

std::string ProfileDocument::decode(std::string_view raw) const {
    if (m_encoding == ProfileEncoding::Utf8 || isAscii(raw)) {
        return std::string(raw);
    }
    return platform::fromAnsi(raw, m_codePage);
}

std::string ProfileDocument::encode(std::string_view utf8) const {
    if (m_encoding == ProfileEncoding::Utf8 || isAscii(utf8)) {
        return std::string(utf8);
    }
    return platform::toAnsi(utf8, m_codePage);
}

std::string ProfileDocument::foldedName(std::string_view raw) const {
    std::string name = decode(raw);
    foldAscii(name);
    return name;
}

std::size_t ProfileDocument::cutToLimit(std::string_view raw) const {
    // Every character takes at least as many bytes in UTF-8 as in an ANSI code page.
    if (raw.size() <= kMaxIniValueBytes) {
        return raw.size();
    }
    std::size_t pos = 0;
    std::size_t ansiBytes = 0;
    while (pos < raw.size()) {
        std::size_t length = 1;
        std::size_t ansiLength = 1;
        if (m_encoding == ProfileEncoding::Utf8) {
            ansiLength = static_cast<std::size_t>(
                platform::ansiLengthOfCharacter(raw, pos, m_codePage, length));
        } else {
            length = ansiLength = ansiCharacterLength(raw, pos, m_codePage);
        }
        // "\xD6\xD0" at bytes 253-254 would end half-way: the value ends before it.
        if (ansiBytes + ansiLength > kMaxIniValueBytes) {
            break;
        }
        ansiBytes += ansiLength;
        pos += length;
    }
    return pos;
}

std::optional<std::string> ProfileDocument::find(std::string_view section,
                                                 std::string_view key) const {
    const auto sectionIt = m_sections.find(lookupKey(section));
    if (sectionIt == m_sections.end()) {
        return std::nullopt;
    }
    const auto keyIt = sectionIt->second.keys.find(lookupKey(key));
    if (keyIt == sectionIt->second.keys.end()) {
        return std::nullopt;
    }
    std::string_view raw(m_bytes);
    raw = raw.substr(keyIt->second.valueBegin, keyIt->second.valueEnd - keyIt->second.valueBegin);
    // The value arrives in a C string buffer: a NUL byte ends it.
    raw = raw.substr(0, raw.find('\0'));
    return decode(raw.substr(0, cutToLimit(raw)));
}

std::string ProfileDocument::value(std::string_view section, std::string_view key) const {
    return find(section, key).value_or(std::string());
}

IniWriteResult ProfileDocument::setValue(std::string_view section, std::string_view key,
                                         std::string_view value) {
    const std::string_view sectionName = trimBlanks(section);
    const std::string_view keyName = trimBlanks(key);
    // Names that the file could not give back as written are refused rather than written
    // into a line that reads as something else.
    if (hasLineBreakOrNul(sectionName) || sectionName.find(']') != std::string_view::npos) {
        return failure(IniWriteError::InvalidName,
                       "section name holds a line break, NUL or ']': " + std::string(section));
    }
    if (keyName.empty() || hasLineBreakOrNul(keyName) ||
        keyName.find('=') != std::string_view::npos || keyName.front() == ';' ||
        keyName.front() == '[') {
        return failure(IniWriteError::InvalidName,
                       "key name is empty, holds a line break, NUL or '=', or starts with ';' or "
                       "'[': " +
                           std::string(key));
    }
    if (hasLineBreakOrNul(value)) {
        return failure(IniWriteError::InvalidValue, "value holds a line break or NUL");
    }

    const auto sectionIt = m_sections.find(lookupKey(sectionName));
    if (sectionIt == m_sections.end()) {
        std::string added;
        if (m_bytes.size() > m_bodyBegin && m_bytes.back() != '\n') {
            added += m_lineEnding;
        }
        added += '[' + encode(sectionName) + ']' + m_lineEnding;
        added += encode(keyName) + '=' + encode(value) + m_lineEnding;
        m_bytes += added;
    } else if (const auto keyIt = sectionIt->second.keys.find(lookupKey(keyName));
               keyIt != sectionIt->second.keys.end()) {
        // The key keeps its spelling and whatever stands before its value.
        const KeyEntry& entry = keyIt->second;
        const std::string replacement = (entry.hasEquals ? "" : "=") + encode(value);
        m_bytes.replace(entry.editBegin, entry.lineEnd - entry.editBegin, replacement);
    } else {
        const Section& found = sectionIt->second;
        const std::string line = encode(keyName) + '=' + encode(value);
        const bool lastHasBreak = m_bytes[found.lastLineNext - 1] == '\n';
        m_bytes.insert(found.lastLineNext,
                       lastHasBreak ? line + m_lineEnding : m_lineEnding + line);
    }
    buildIndex();
    return {};
}

// ---- Module functions --------------------------------------------------------------------

std::string ReadIniValue(const std::string& section, const std::string& key,
                         const std::string& file) {
    return cache().read(section, key, file);
}

void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) {
    static_cast<void>(tryWriteIniValue(section, key, value, file));
}

IniWriteResult tryWriteIniValue(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) {
    const IniEntry entry{key, value};
    return tryWriteIniValues(section, {&entry, 1}, file, IniFileAccess::Shared);
}

IniWriteResult tryWriteIniValues(const std::string& section, std::span<const IniEntry> entries,
                                 const std::string& file, IniFileAccess access) {
    const bool secret = access == IniFileAccess::Private;
    // A private file is replaced where it is named: the rename takes a link's own place. It
    // is never opened through a link, nor waited on: a named pipe would block the open.
    const int openFlags = secret ? O_NOFOLLOW | O_NONBLOCK : 0;
    const std::string target = secret ? file : writeTarget(file);
    FileContent content;
    ReadStatus status = readWholeFile(target, content, openFlags);
    if (secret && status == ReadStatus::Failed && content.error == ELOOP) {
        status = ReadStatus::Missing;  // a link: replaced by a new file, what it names unread
    }
    if (status == ReadStatus::Failed) {
        return failure(IniWriteError::ReadFailed,
                       "cannot read " + target + ": " + errorText(content.error));
    }
    if (status == ReadStatus::TooLarge) {
        return failure(IniWriteError::TooLarge, target + " is larger than a profile file can be");
    }
    const bool isNew = status == ReadStatus::Missing;
    const std::string original = std::move(content.bytes);
    ProfileDocument document = ProfileDocument::parse(original, platform::systemCodePage());
    IniWriteResult refused;
    bool anySet = false;
    for (const IniEntry& entry : entries) {
        IniWriteResult result = document.setValue(section, entry.key, entry.value);
        anySet = anySet || bool(result);
        if (!result && refused) {
            refused = std::move(result);
        }
    }
    if (!anySet) {
        return refused;
    }
    // A new file, and a private one whatever its bits were, is for its owner's eyes only.
    const mode_t mode = isNew || secret ? S_IRUSR | S_IWUSR : content.mode & 07777;
    if (!isNew && document.bytes() == original && (content.mode & 07777) == mode) {
        if (content.stable) {
            cache().remember(file, std::move(content.fd), content.stamp, std::move(document));
        }
        return refused;
    }
    struct stat written {};
    if (IniWriteResult result = replaceFile(target, document.bytes(), mode, written); !result) {
        return result;
    }
    // Keep what was written for the reads that follow, if the file is still the one written.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | openFlags));
    struct stat info {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && info.st_dev == written.st_dev &&
        info.st_ino == written.st_ino) {
        cache().remember(file, std::move(fd), stampOf(info), std::move(document));
    } else {
        cache().forget(file);
    }
    return refused;
}

std::uint64_t profileFileLoadCount() {
    return cache().loads();
}

}  // namespace upd::wizard
