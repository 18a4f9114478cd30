#include "app/server_list.h"

#include <gtest/gtest.h>

#include "net/base64.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

std::string line(std::string_view record) {
    return net::base64EncodeBytes(record);
}

// "北京" as GBK bytes, the code page of Simplified Chinese systems; the last two records as
// the release tool encodes them.
const std::string kMixed =
    line("East,http://east/,info/update.ini,EN,") + "\r\n" +
    line("\xB1\xB1\xBE\xA9,http://bj/,info/update.ini,CHS,") + "\r\n" +
    encodeServerLine("West", "http://west/", "info/update.ini", "EN", 1252) + "\r\n" +
    encodeServerLine("上海", "http://sh/", "info/cn.ini", "CHS", 936) + "\r\n";

struct SvrCase {
    const char* name;
    platform::LangId language;
    const char* servers;  // "name address", ...
    const char* infoFile;
    std::string file;  // empty: no file
};

void PrintTo(const SvrCase& c, std::ostream* os) {
    *os << c.name;
}

const SvrCase kCases[] = {
    {"english_in_file_order", 1033, "East http://east/, West http://west/", "info/cn.ini", kMixed},
    {"chinese_in_its_code_page", 2052, "北京 http://bj/, 上海 http://sh/", "info/cn.ini", kMixed},
    {"traditional_chinese_gets_english", 1028, "East http://east/, West http://west/",
     "info/cn.ini", kMixed},
    // Case, a trailing blank, and the decoder's NULs left on a tag without a field after it.
    {"tag_must_match_exactly", 1033, "D http://d/", "u.ini",
     line("A,http://a/,u.ini,en,") + "\n" + line("B,http://b/,u.ini,EN ,") + "\n" +
         line("C,http://c/,u.ini,EN") + "\n" + line("D,http://d/,u.ini,EN,") + "\n"},
    {"other_language_only_still_gives_the_info_file", 1033, "", "x.ini",
     line("B,http://b/,x.ini,CHS,") + "\r\n"},
    {"short_last_line_empties_the_info_file", 1033, "A http://a/", "",
     line("A,http://a/,u.ini,EN,") + "\n" + line("X,Y") + "\n"},
    {"blank_lines_are_not_the_last_line", 1033, "A http://a/, B http://b/", "v.ini",
     line("A,http://a/,u.ini,EN,") + "\r\n\r\n" + line("B,http://b/,v.ini,EN,") +
         "\r\n\r\n   \r\n"},
    {"last_line_without_line_end", 1033, "A http://a/", "u.ini", line("A,http://a/,u.ini,EN,")},
    {"missing_file", 1033, "", "", ""},
};

class ServerFile : public ::testing::TestWithParam<SvrCase> {};

TEST_P(ServerFile, GivesTheServersOfTheLanguageAndTheInfoFile) {
    const SvrCase& c = GetParam();
    test::TempDir dir;
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

INSTANTIATE_TEST_SUITE_P(Svr, ServerFile, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace upd::app
