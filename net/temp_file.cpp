#include "net/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace upd::net {
namespace {

// Seeded once from the system's entropy source: re-seeding from the clock for every
// character, as a simple generator would, makes names of the same second collide.
std::mt19937& generator() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

char randomNameCharacter() {
    auto& g = generator();
    if (std::uniform_int_distribution<int>(0, 2)(g) == 0) {
        return static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(g));
    }
    const char letter = static_cast<char>('A' + std::uniform_int_distribution<int>(0, 25)(g));
    return std::uniform_int_distribution<int>(0, 1)(g) == 0 ? letter
                                                            : static_cast<char>(letter - 'A' + 'a');
}

}  // namespace

std::string temporaryFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string folder = env != nullptr && *env != '\0' ? env : "/tmp";
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

std::string MakeTempFileName() {
    const std::string folder = temporaryFolder();
    // 62^8 names: a run of collisions this long means the folder is the problem.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder;
        for (int i = 0; i < 8; ++i) {
            path += randomNameCharacter();
        }
        path += ".tmp";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST) {
            return {};
        }
    }
    return {};
}

}  // namespace upd::net
