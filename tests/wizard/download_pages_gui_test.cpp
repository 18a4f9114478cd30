// Pages 4 and 5 on the engine, against scripted servers: every row fetched and installed, a
// connection dropped halfway and the retry (resumed or whole), a stall, Back and a second
// pass, and a failed installation that changes nothing; every failure in Chinese.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <algorithm>

#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "tests/support/expected_request.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/failure_text.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/frm_update5.h"

namespace upd::wizard {
namespace {

using enum PageId;
using test::Script;
using test::ScriptedServer;
using test::serving;

// Two files, both missing locally: Main.exe (by version) and sub\data.dat (by date).
const std::string kPlanIni =
    "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=1\r\nFile1=Main.exe\r\nVer1=2.1\r\n"
    "[Time]\r\nNum=1\r\nFile1=sub\\data.dat\r\nDate1=2005-06-01\r\n";
const std::string kMain(30000, 'M');
const std::string kData = "data file";

class DownloadPages : public test::EnginePagesTest {
  protected:
    void SetUp() override {
        vendorHost = "127.0.0.1:" + std::to_string(advert.port());
        restart();
    }
    ~DownloadPages() override { wizard.reset(); }  // before the advertisement's server

    // From page 1 to page 4 with the plan of kPlanIni; the first download has started.
    frmUpdate4* planFrom(const std::string& url) {
        fetchFrom(url);
        EXPECT_TRUE(QTest::qWaitFor([&] { return wizard->visiblePage() == Analysis; }));
        wizard->pageAs<frmUpdate3>(Analysis)->Check1->setChecked(false);
        wizard->pageAs<frmUpdate3>(Analysis)->Next_Button_Click();
        auto* page = wizard->pageAs<frmUpdate4>(FileDownload);
        page->Timer1_Timer();  // the one-second tick that sees StartPending
        return page;
    }
    bool settled(frmUpdate4* page) {
        return QTest::qWaitFor([&] { return wizard->visiblePage() == Finish || page->failed(); },
                               10'000);
    }
    QStringList finishedFiles() {
        QStringList names;
        const QListWidget* list = wizard->pageAs<frmUpdate5>(Finish)->List1;
        for (int i = 0; i < list->count(); ++i) {
            names << list->item(i)->text();
        }
        return names;
    }

    ScriptedServer advert{serving("<html><body><p>Buy now</p></body></html>")};
};

TEST_F(DownloadPages, EveryRowIsFetchedThenInstalled) {
    ScriptedServer server({serving(kPlanIni), serving(kMain), serving(kData)});
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    ASSERT_EQ(wizard->visiblePage(), Finish);
    EXPECT_EQ(server.received(1), test::expectedRequest({.target = "/Main.exe"}));
    EXPECT_EQ(server.received(2), test::expectedRequest({.target = "/sub/data.dat"}));
    EXPECT_EQ(finishedFiles(), (QStringList{"Main.exe", "sub\\data.dat"}));
    EXPECT_EQ(page->trelListViewCtl1->stateIcon(1), 2);
    EXPECT_EQ(page->trelListViewCtl1->stateIcon(2), 2);
    // The last file's final figures, exact although the display is coalesced.
    EXPECT_EQ(page->Label4[0]->text(), "Downloaded:0KB");
    EXPECT_EQ(page->Label4[1]->text(), "Size:0KB");
    EXPECT_EQ(page->Label4[2]->text(), "Percent:100%");
    EXPECT_EQ(page->SmallBar1->PercentValue(), 100);
    // Page 5 installed both at their relative paths and emptied the update folder.
    auto* finish = wizard->pageAs<frmUpdate5>(Finish);
    EXPECT_EQ(test::readFile(dir.file("Main.exe")), kMain);
    EXPECT_EQ(test::readFile(dir.file("sub/data.dat")), kData);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("update/Main.exe"))));
    EXPECT_EQ(finish->Label2->text(), "You have already updated to the latest version!");
    // The advertisement, fetched by the engine, fills the browser area.
    EXPECT_TRUE(QTest::qWaitFor([&] { return finish->WebBrowser1->toPlainText() == "Buy now"; }));
    EXPECT_EQ(advert.received(0), test::expectedRequest({.target = "/adeng.asp"}));
}

// No advertisement: its area says what was installed instead.
TEST_F(DownloadPages, WithoutAnAdvertisementThePageSaysWhatWasInstalled) {
    vendorHost = "127.0.0.1:1";  // nothing listens there: refused at once
    restart();
    ScriptedServer server({serving(kPlanIni), serving(kMain), serving(kData)});
    ASSERT_TRUE(settled(planFrom(server.url("/"))));
    auto* finish = wizard->pageAs<frmUpdate5>(Finish);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !finish->Summary->isHidden(); }));
    EXPECT_TRUE(finish->WebBrowser1->isHidden());
    EXPECT_EQ(finish->Summary->toPlainText(),
              "These files were installed:\nMain.exe\nsub\\data.dat");
    EXPECT_EQ(finish->Summary->accessibleName(), "What the update did");
}

// A reply of 20000 bytes cut after 10000 by a reset; the retry asks for the rest when page
// 1's box allows it and gets a 206, or asks for the whole file again.
TEST_F(DownloadPages, ADroppedConnectionIsShownAndRetried) {
    // clang-format off
    const Script dropped = Script().readRequest()
        .send("HTTP/1.0 200 OK\r\nContent-Length: 30000\r\n\r\n" + kMain.substr(0, 10000)).reset();
    const Script resumed = Script().readRequest()
        .send("HTTP/1.1 206 Partial Content\r\nContent-Length: 20000\r\n\r\n" + kMain.substr(10000))
        .close();
    // clang-format on
    for (const bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumed" : "whole");
        const Script rest = resume ? resumed : serving(kMain);
        ScriptedServer server({serving(kPlanIni), dropped, rest, serving(kData)});
        wizard->pageAs<frmUpdate1>(Server)->Check1->setChecked(resume);
        frmUpdate4* page = planFrom(server.url("/"));
        ASSERT_TRUE(settled(page));
        ASSERT_TRUE(page->failed());
        EXPECT_TRUE(page->Retry_Button->isVisible());
        EXPECT_TRUE(page->failureText().contains("Main.exe"));
        EXPECT_TRUE(page->failureText().contains(resume ? "where the download stopped"
                                                        : "download the file again"));
        page->Retry_Click();
        ASSERT_TRUE(settled(page));
        ASSERT_EQ(wizard->visiblePage(), Finish);
        EXPECT_EQ(server.received(2).find("Range: bytes=10000-") != std::string::npos, resume)
            << server.received(2);
        EXPECT_EQ(test::readFile(dir.file("Main.exe")), kMain);
        std::remove(dir.file("Main.exe").c_str());
        restart();
    }
}

// A new run (after Cancel, the close box or a kill) resumes what the last one left: If-Range
// names the server's validator, and only the rest is fetched.
TEST_F(DownloadPages, ANewRunResumesWhatTheLastOneLeft) {
    const Script dropped = Script().readRequest().send(
        "HTTP/1.0 200 OK\r\nContent-Length: 30000\r\nETag: \"m1\"\r\n\r\n" +
        kMain.substr(0, 10000));
    const Script rest = Script().readRequest().send(
        "HTTP/1.1 206 Partial Content\r\nContent-Length: 20000\r\n\r\n" + kMain.substr(10000));
    ScriptedServer server({serving(kPlanIni), Script(dropped).reset(), serving(kPlanIni),
                           Script(rest).close(), serving(kData)});
    ASSERT_TRUE(settled(planFrom(server.url("/"))));
    restart();
    ASSERT_TRUE(settled(planFrom(server.url("/"))));
    ASSERT_EQ(wizard->visiblePage(), Finish);
    EXPECT_NE(server.received(3).find("Range: bytes=10000-\r\nIf-Range: \"m1\"\r\n"),
              std::string::npos)
        << server.received(3);
    EXPECT_EQ(test::readFile(dir.file("Main.exe")), kMain);
}

TEST_F(DownloadPages, AnErrorStatusOrAStallIsAFailedRowNeverInstalled) {
    ScriptedServer server({serving(kPlanIni), serving("<html>gone</html>", "404 Not Found"),
                           Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\npart")});
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    EXPECT_TRUE(page->failureText().contains("missing on this server"));
    // The 404 page is gone from the update folder: a resumed retry would build on it.
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("update/Main.exe"))));
    page->setStallTimeoutMs(300);
    page->Retry_Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->failed(); }, 10'000));
    EXPECT_TRUE(page->failureText().contains("30 seconds"));
    EXPECT_TRUE(finishedFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("Main.exe"))));
}

// A missing file, then every failure the page shows: Chinese lines, English only in brackets.
TEST_F(DownloadPages, InChineseEveryFailureIsAChineseSentence) {
    userLocale = 2052;
    restart();
    ScriptedServer server({serving(kPlanIni), serving("<html>gone</html>", "404 Not Found")});
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    EXPECT_EQ(page->trelListViewCtl1->stateIcon(1), 3);
    EXPECT_TRUE(page->Server_Button->isVisible());
    EXPECT_FALSE(page->Retry_Button->isVisible());
    QStringList shown{page->failureText()};
    for (std::int32_t why = 0; why <= 12; ++why) {
        shown << page->failureMessage(describeRowFailure({.why = why}));
    }
    using enum RowFailureKind;
    for (const RowFailureKind kind :
         {BadName, LinkInPath, Stalled, DigestUnreadable, DigestMismatch}) {
        shown << page->failureMessage(describeRowFailure({.kind = kind, .detail = "in English"}));
    }
    for (const QString& line : shown.join('\n').split('\n')) {
        const QString sentence = line.section(QStringLiteral(" ("), 0, 0);
        EXPECT_TRUE(std::any_of(sentence.begin(), sentence.end(), [](QChar c) {
            return c.unicode() > 0x7F;
        })) << line.toStdString();
    }
    page->Server_Button->click();
    EXPECT_EQ(wizard->visiblePage(), Server);
}

// Back in the middle of the second file; the next pass starts at row 1 with an empty record.
TEST_F(DownloadPages, BackThenASecondPassInStep) {
    ScriptedServer server({serving(kPlanIni), serving(kMain),
                           Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nda"),
                           serving(kPlanIni), serving(kMain), serving(kData)});
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->FileIndex() == 1; }));
    boxes.answers = {app::MessageAnswer::Ok};
    page->Back_Button_Click();
    ASSERT_EQ(wizard->visiblePage(), Server);
    page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    ASSERT_EQ(wizard->visiblePage(), Finish);
    EXPECT_EQ(finishedFiles(), (QStringList{"Main.exe", "sub\\data.dat"}));
    EXPECT_EQ(test::readFile(dir.file("sub/data.dat")), kData);
}

// sub\data.dat cannot go in (a file stands where its folder should be): the message names
// it, and Main.exe, already moved, is back in the update folder; nothing installed stays.
TEST_F(DownloadPages, AFailedInstallationChangesNothing) {
    dir.write("Main.exe", "old main");
    dir.write("sub", "a file where a folder should be");
    ScriptedServer server({serving(kPlanIni), serving(kMain), serving(kData)});
    boxes.answers = {app::MessageAnswer::Ok};
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    ASSERT_EQ(boxes.shown.size(), 1u);
    const std::string& text = boxes.shown[0].text;
    EXPECT_TRUE(text.starts_with("The update could not be installed")) << text;
    EXPECT_NE(text.find("sub\\data.dat"), std::string::npos) << text;
    EXPECT_EQ(test::readFile(dir.file("update/Main.exe")), kMain);
    EXPECT_EQ(process.ended, 0);
}

TEST(Advertisement, AddressByLanguage) {
    EXPECT_EQ(frmUpdate5::advertisementUrl("h.example", 2052), "http://h.example/ad.asp");
    EXPECT_EQ(frmUpdate5::advertisementUrl("h.example", 1028), "http://h.example/adeng.asp");
}

}  // namespace
}  // namespace upd::wizard
