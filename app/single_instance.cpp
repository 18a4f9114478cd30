#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace upd::app {
namespace {

constexpr std::size_t kMaxNameChars = 64;

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

std::string realPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
        return path;  // a path that cannot be resolved still names one lock
    }
    return resolved;
}

}  // namespace

std::string lockFolder() {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        if (std::string folder = absoluteVariable(name); !folder.empty()) {
            return folder;
        }
    }
    return "/tmp";
}

std::string lockFilePath(std::string_view folder, std::string_view realExecutablePath) {
    const auto slash = realExecutablePath.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? realExecutablePath : realExecutablePath.substr(slash + 1);
    std::string name;
    for (const char c : fileName.substr(0, kMaxNameChars)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(fnv1a(realExecutablePath)));
    std::string path(folder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path + name + '-' + hash + ".lock";
}

std::string runningExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

SingleInstance SingleInstance::acquire(const std::string& executablePath) {
    std::string lockPath = lockFilePath(lockFolder(), realPathOf(executablePath));
    // No symbolic links: in a shared /tmp another user could plant one to make us lock,
    // or create, a file of their choice.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return SingleInstance(State::Unchecked, -1, std::move(lockPath));
    }
    int result = 0;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return SingleInstance(State::First, fd, std::move(lockPath));
    }
    const State state = errno == EWOULDBLOCK ? State::AlreadyRunning : State::Unchecked;
    close(fd);
    return SingleInstance(state, -1, std::move(lockPath));
}

SingleInstance SingleInstance::acquireForThisProgram() {
    const std::string path = runningExecutablePath();
    if (path.empty()) {
        return SingleInstance(State::Unchecked, -1, {});
    }
    return acquire(path);
}

SingleInstance::SingleInstance(State state, int fd, std::string lockPath)
    : m_state(state), m_fd(fd), m_lockPath(std::move(lockPath)) {}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : m_state(other.m_state),
      m_fd(std::exchange(other.m_fd, -1)),
      m_lockPath(std::move(other.m_lockPath)) {}

SingleInstance& SingleInstance::operator=(SingleInstance&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_state = other.m_state;
        m_fd = std::exchange(other.m_fd, -1);
        m_lockPath = std::move(other.m_lockPath);
    }
    return *this;
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

}  // namespace upd::app
