#include "app/server_list.h"

#include <gtest/gtest.h>

#include "net/base64.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

using namespace std::string_literals;

std::string line(std::string_view record) {
    return net::base64EncodeBytes(record);
}

class ServerFileTest : public ::testing::Test {
  protected:
    std::string writeSvr(const std::string& content) { return m_dir.write("update.svr", content); }
    test::TempDir m_dir;
};

TEST_F(ServerFileTest, MixedLanguagesKeepFileOrderAndAlignment) {
    const std::string path =
        writeSvr(line("East,http://east/,info/update.ini,EN,") + "\r\n" +
                 line("\xB1\xB1\xBE\xA9,http://bj/,info/update.ini,CHS,") + "\r\n" +  // 北京
                 line("West,http://west/,info/update.ini,EN,") + "\r\n" +
                 line("\xC9\xCF\xBA\xA3,http://sh/,info/cn.ini,CHS,") + "\r\n");  // 上海
    const ServerList en = loadServerList(path, 1033);
    ASSERT_EQ(en.servers.size(), 2u);
    EXPECT_EQ(en.servers[0].name, "East");
    EXPECT_EQ(en.servers[1].address, "http://west/");
    EXPECT_EQ(en.infoFile, "info/cn.ini");

    const ServerList chs = loadServerList(path, 2052);
    ASSERT_EQ(chs.servers.size(), 2u);
    EXPECT_EQ(chs.servers[0].name, "北京");
    EXPECT_EQ(chs.servers[0].address, "http://bj/");
    EXPECT_EQ(chs.servers[1].name, "上海");
    EXPECT_EQ(chs.servers[1].address, "http://sh/");

    // Traditional Chinese systems are offered the English servers.
    EXPECT_EQ(loadServerList(path, 1028).servers.size(), 2u);
}

TEST_F(ServerFileTest, LanguageTagMustMatchExactly) {
    const std::string path =
        writeSvr(line("A,http://a/,u.ini,en,") + "\n" + line("B,http://b/,u.ini,EN ,") + "\n" +
                 // No trailing field: the NULs stay on the tag.
                 line("C,http://c/,u.ini,EN") + "\n" + line("D,http://d/,u.ini,EN,") + "\n");
    const ServerList list = loadServerList(path, 1033);
    ASSERT_EQ(list.servers.size(), 1u);
    EXPECT_EQ(list.servers[0].name, "D");
}

TEST_F(ServerFileTest, DecodedNulsStayOnTheLastField) {
    const std::string path = writeSvr(line("A,http://a/,u.ini,EN,") + "\n");
    const ServerFile file = readServerFile(path, 1252);
    ASSERT_EQ(file.records.size(), 1u);
    ASSERT_EQ(file.records[0].size(), 5u);
    EXPECT_EQ(file.records[0][3], "EN");
    EXPECT_EQ(file.records[0][4], "\0"s);
}

TEST_F(ServerFileTest, InfoFileComesFromTheLastLineWhateverItsLanguage) {
    const std::string path = writeSvr(line("A,http://a/,first.ini,EN,") + "\n" +
                                      line("B,http://b/,last.ini,CHS,") + "\n");
    const ServerList list = loadServerList(path, 1033);
    EXPECT_EQ(list.servers.size(), 1u);
    EXPECT_EQ(list.infoFile, "last.ini");
}

TEST_F(ServerFileTest, RecordsOfTheOtherLanguageOnlyGiveAnEmptyListButAnInfoFile) {
    const std::string path = writeSvr(line("B,http://b/,x.ini,CHS,") + "\r\n");
    const ServerList list = loadServerList(path, 1033);
    EXPECT_TRUE(list.servers.empty());
    EXPECT_EQ(list.infoFile, "x.ini");
}

TEST_F(ServerFileTest, ShortLastLineEmptiesTheInfoFile) {
    const std::string path = writeSvr(line("A,http://a/,u.ini,EN,") + "\n" + line("X,Y") + "\n");
    const ServerList list = loadServerList(path, 1033);
    EXPECT_EQ(list.servers.size(), 1u);
    EXPECT_EQ(list.infoFile, "");
}

TEST_F(ServerFileTest, BlankLinesAreNeitherRecordsNorTheLastLine) {
    const std::string path = writeSvr(line("A,http://a/,u.ini,EN,") + "\r\n\r\n" +
                                      line("B,http://b/,v.ini,EN,") + "\r\n\r\n   \r\n");
    const ServerFile file = readServerFile(path, 1252);
    EXPECT_EQ(file.records.size(), 2u);
    EXPECT_EQ(file.infoFile, "v.ini");
}

TEST_F(ServerFileTest, LastLineWithoutLineEnd) {
    const std::string path = writeSvr(line("A,http://a/,u.ini,EN,"));
    const ServerList list = loadServerList(path, 1033);
    ASSERT_EQ(list.servers.size(), 1u);
    EXPECT_EQ(list.infoFile, "u.ini");
}

TEST_F(ServerFileTest, MissingFileGivesNothing) {
    const ServerFile file = readServerFile(m_dir.file("none.svr"), 1252);
    EXPECT_FALSE(file.readable);
    EXPECT_TRUE(file.records.empty());
    EXPECT_EQ(file.infoFile, "");
}

TEST(ServerLine, EncodesInTheCodePageOfTheLanguage) {
    const std::string en = encodeServerLine("Main", "http://h/", "u.ini", "EN", 1252);
    EXPECT_EQ(net::Base64DecodeText(en, 1252), "Main,http://h/,u.ini,EN,\0"s);
    const std::string chs = encodeServerLine("主站", "http://h/", "u.ini", "CHS", 936);
    const net::Bytes raw = net::base64DecodeBytes(chs);
    EXPECT_EQ(raw[0], 0xD6);  // 主 is D6 F7 in GBK
    EXPECT_EQ(raw[1], 0xF7);
    EXPECT_EQ(net::Base64DecodeText(chs, 936).substr(0, 7), "主站,");
}

}  // namespace
}  // namespace upd::app
