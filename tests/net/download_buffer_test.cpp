// The memory buffer's growth rule and its copy-out.
#include <gtest/gtest.h>

#include "net/download_buffer.h"

namespace upd::net {
namespace {

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value) {
    return std::vector<std::uint8_t>(n, value);
}

TEST(DownloadBuffer, GrowsByTheNeedPlusATenthOfItsSize) {
    DownloadBuffer b;
    ASSERT_TRUE(b.append(bytes(10, 1)));
    EXPECT_EQ(b.allocated(), 11);  // 1 + 0 + 10
    ASSERT_TRUE(b.append(bytes(20, 2)));
    EXPECT_EQ(b.allocated(), 32);  // 11 + 1 + 20
    ASSERT_TRUE(b.append(bytes(1, 3)));
    EXPECT_EQ(b.allocated(), 32);  // it fits
    ASSERT_TRUE(b.append(bytes(2, 4)));
    EXPECT_EQ(b.allocated(), 32 + 3 + 2);
    EXPECT_EQ(b.bytes(), std::string(10, '\1') + std::string(20, '\2') + "\3\4\4");
}

TEST(DownloadBuffer, CopyTrimsTheAllocationAndLeavesAnArrayAloneWhenEmpty) {
    DownloadBuffer b;
    std::vector<std::uint8_t> out = {9, 9};
    EXPECT_EQ(b.copyTo(out), 0);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{9, 9}));
    b.append(bytes(10, 5));
    EXPECT_EQ(b.copyTo(out), 10);
    EXPECT_EQ(out, bytes(10, 5));
    EXPECT_EQ(b.allocated(), 10);
}

}  // namespace
}  // namespace upd::net
