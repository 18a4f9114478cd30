#include "wizard/profile_cache.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/monotonic_clock.h"
#include "wizard/profile_file.h"

namespace upd::wizard::profile_detail {
namespace {

using platform::CodePage;

// update.ini and proxy.ini, with room for a few more; the least recently used goes first.
constexpr std::size_t kMaxCachedFiles = 8;

// A syscall is what a cached read costs, so the check uses the cheapest one: fstat on the
// descriptor the file was read through. Any change to that file shows in it: new content
// (size, modification time), a rename or delete (change time, link count). Only a change of
// what the path names (a folder along it replaced, a link pointed elsewhere) leaves the file
// itself untouched; the path is looked up again when the last look-up is older than this.
constexpr std::int64_t kPathCheckIntervalMs = 100;

}  // namespace

FileStamp stampOf(const struct stat& info) {
    return FileStamp{
        info.st_dev,         info.st_ino,          static_cast<std::uint64_t>(info.st_size),
        info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ctim.tv_sec,
        info.st_ctim.tv_nsec};
}

ReadStatus readWholeFile(const std::string& path, FileContent& out, int openFlags) {
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

std::string ProfileCache::read(const std::string& section, const std::string& key,
                               const std::string& file) {
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

void ProfileCache::remember(const std::string& file, FileDescriptor fd, const FileStamp& stamp,
                            ProfileDocument document) {
    std::lock_guard lock(m_mutex);
    rememberLocked(file, std::move(fd), stamp, std::move(document));
}

void ProfileCache::forget(const std::string& file) {
    std::lock_guard lock(m_mutex);
    m_entries.erase(file);
}

std::uint64_t ProfileCache::loads() const {
    std::lock_guard lock(m_mutex);
    return m_loads;
}

bool ProfileCache::isCurrent(const std::string& file, Entry& entry, CodePage cp) {
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

void ProfileCache::rememberLocked(const std::string& file, FileDescriptor fd,
                                  const FileStamp& stamp, ProfileDocument document) {
    if (m_entries.size() >= kMaxCachedFiles && m_entries.find(file) == m_entries.end()) {
        auto oldest = m_entries.begin();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        m_entries.erase(oldest);
    }
    m_entries.insert_or_assign(
        file, Entry{std::move(fd), stamp, std::move(document), platform::monotonicMs(), ++m_clock});
}

ProfileCache& profileCache() {
    static ProfileCache instance;
    return instance;
}

}  // namespace upd::wizard::profile_detail
