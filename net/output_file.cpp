#include "net/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace upd::net {

bool OutputFile::open(const std::string& path, bool keepContents) {
    close();
    m_error = 0;
    if (path.empty() || path.find('\0') != std::string::npos) {
        m_error = path.empty() ? ENOENT : EINVAL;
        return false;
    }
    // Truncation waits until the lock is held, so a file that another download is
    // writing is not emptied under it.
    // O_NONBLOCK: a named pipe at the path must fail here, not wait for a reader.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat info {};
    int failure = 0;
    if (fstat(fd, &info) != 0) {
        failure = errno;
    } else if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode)) {
        failure = EINVAL;  // a named pipe that has a reader, a block device
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        failure = errno;
    } else if (!keepContents && ftruncate(fd, 0) != 0 && errno != EINVAL) {
        failure = errno;
    }
    if (failure != 0) {
        ::close(fd);
        m_error = failure;
        return false;
    }
    m_fd = fd;
    m_position = 0;
    return true;
}

void OutputFile::close() {
    if (m_fd >= 0) {
        flush();
        ::close(m_fd);
        m_fd = -1;
    }
    m_pending.clear();
    m_failed = false;
    m_position = 0;
}

std::int64_t OutputFile::size() {
    struct stat st {};
    if (m_fd < 0 || !flush() || fstat(m_fd, &st) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool OutputFile::truncate(std::int64_t length) {
    return m_fd >= 0 && flush() && ftruncate(m_fd, static_cast<off_t>(length)) == 0;
}

void OutputFile::setPosition(std::int64_t position) {
    flush();
    m_position = position;
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (m_fd < 0 || m_failed) {
        return false;
    }
    if (m_pending.size() + bytes.size() > kWriteBehindBytes && !flush()) {
        return false;
    }
    if (bytes.size() >= kWriteBehindBytes) {
        return writeAt(bytes);
    }
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    return true;
}

bool OutputFile::flush() {
    if (m_failed) {
        return false;
    }
    if (m_fd < 0 || m_pending.empty()) {
        return m_fd >= 0;
    }
    const bool written = writeAt(m_pending);
    m_pending.clear();
    return written;
}

bool OutputFile::writeAt(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(m_position));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_failed = true;
            // A write that makes no progress without saying why is an I/O error.
            m_error = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
        m_position += n;
    }
    return true;
}

}  // namespace upd::net
