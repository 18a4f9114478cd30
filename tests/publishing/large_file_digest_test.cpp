// A file over 2 GiB is hashed in one streamed pass with constant memory: 3 GiB of zeros,
// sparse on disk, against the value sha256sum prints for it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "publishing/file_digest.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

TEST(FileDigest, HashesAFileLargerThanTwoGigabytes) {
    const test::TempDir dir;
    const std::string path = dir.file("zeros");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
    ::close(fd);
    std::string error;
    EXPECT_EQ(sha256FileHex(path, &error),
              "305b66a59d15b252092fbda9d09711230c429f351897cbd430e7b55a35fd3b97")
        << error;
}

}  // namespace
}  // namespace upd::wizard
