#include "platform/update_path.h"

#include <gtest/gtest.h>

namespace upd::platform {
namespace {

TEST(HostPathUnder, BackslashNamesBecomeNestedPaths) {
    EXPECT_EQ(hostPathUnder("/opt/app", "sub\\dir\\file.dll").path, "/opt/app/sub/dir/file.dll");
    EXPECT_EQ(hostPathUnder("/opt/app/", "sub/dir\\.\\f").path, "/opt/app/sub/dir/f");
    EXPECT_EQ(hostPathUnder("/opt/app/", "a\\\\b").path, "/opt/app/a/b");
    // Dots inside a name are not a parent folder.
    EXPECT_EQ(hostPathUnder("/u/", "..x\\y..").path, "/u/..x/y..");
}

TEST(HostPathUnder, RefusesNamesThatLeaveTheFolder) {
    EXPECT_EQ(hostPathUnder("/u/", "").error, PathError::Empty);
    EXPECT_EQ(hostPathUnder("/u/", ".").error, PathError::Empty);
    EXPECT_EQ(hostPathUnder("/u/", "\\windows\\x.dll").error, PathError::Absolute);
    EXPECT_EQ(hostPathUnder("/u/", "c:x.dll").error, PathError::DriveLetter);
    EXPECT_EQ(hostPathUnder("/u/", "\\\\server\\share\\x").error, PathError::Unc);
    EXPECT_EQ(hostPathUnder("/u/", "//server/share").error, PathError::Unc);
    EXPECT_EQ(hostPathUnder("/u/", "a/..").error, PathError::ParentFolder);
    EXPECT_EQ(hostPathUnder("/u/", "file.txt:stream").error, PathError::BadCharacter);
    EXPECT_EQ(hostPathUnder("/u/", std::string_view("a\0b", 3)).error, PathError::BadCharacter);
}

}  // namespace
}  // namespace upd::platform
