#include "app/server_list.h"

#include <gtest/gtest.h>

#include "net/base64.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

std::string line(std::string_view record) {
    return net::base64EncodeBytes(record);
}

// "北京" as GBK bytes; the last two records as the release tool encodes them. What English
// and Chinese systems read from such a file, in order: startup_gui_test.
const std::string kMixed =
    line("East,http://east/,info/update.ini,EN,") + "\r\n" +
    line("\xB1\xB1\xBE\xA9,http://bj/,info/update.ini,CHS,") + "\r\n" +
    encodeServerLine("West", "http://west/", "info/update.ini", "EN", 1252) + "\r\n" +
    encodeServerLine("上海", "http://sh/", "info/cn.ini", "CHS", 936) + "\r\n";

TEST(ServerFile, GivesTheServersOfTheLanguageAndTheInfoFile) {
    // clang-format off
    const struct {
        const char* name; platform::LangId language; const char* servers;  // "name address", ...
        const char* infoFile; std::string file;                             // empty: no file
    } cases[] = {
        {"traditional chinese gets english", 1028, "East http://east/, West http://west/", "info/cn.ini", kMixed},
        // Case, a trailing blank, and the decoder's NULs left on a tag without a field after it.
        {"tag must match exactly", 1033, "D http://d/", "u.ini",
         line("A,http://a/,u.ini,en,") + "\n" + line("B,http://b/,u.ini,EN ,") + "\n" +
             line("C,http://c/,u.ini,EN") + "\n" + line("D,http://d/,u.ini,EN,") + "\n"},
        {"other language only still gives the info file", 1033, "", "x.ini",
         line("B,http://b/,x.ini,CHS,") + "\r\n"},
        {"short last line empties the info file", 1033, "A http://a/", "",
         line("A,http://a/,u.ini,EN,") + "\n" + line("X,Y") + "\n"},
        {"blank lines are not the last line", 1033, "A http://a/, B http://b/", "v.ini",
         line("A,http://a/,u.ini,EN,") + "\r\n\r\n" + line("B,http://b/,v.ini,EN,") + "\r\n\r\n   \r\n"},
        {"last line without line end", 1033, "A http://a/", "u.ini", line("A,http://a/,u.ini,EN,")},
        {"missing file", 1033, "", "", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::string path =
            c.file.empty() ? dir.file("update.svr") : dir.write("update.svr", c.file);
        const ServerList list = loadServerList(path, c.language);
        std::string servers;
        for (const ServerEntry& server : list.servers) {
            servers += (servers.empty() ? "" : ", ") + server.name + " " + server.address;
        }
        EXPECT_EQ(servers, c.servers);
        EXPECT_EQ(list.infoFile, c.infoFile);
    }
}

}  // namespace
}  // namespace upd::app
