// Pages 4 and 5 on the engine, against scripted servers: every row fetched and installed, a
// connection dropped halfway and the retry (resumed or whole), a stall, Back and a second
// pass, and a failed installation that changes nothing; every failure in Chinese; several
// files at once, a failed one among them, and the labels that follow the whole update.
#include <QCheckBox>
#include <QElapsedTimer>
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

// Files f1.dat to f<count>.dat by date, 4096 bytes each, with their sizes when `sizes`.
std::string filesIni(int count, bool sizes) {
    std::string ini = "[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=0\r\n[Time]\r\nNum=" +
                      std::to_string(count) + "\r\n";
    for (int n = 1; n <= count; ++n) {
        const std::string i = std::to_string(n);
        ini += "File" + i + "=f" + i + ".dat\r\nDate" + i + "=2030-01-01\r\n" +
               (sizes ? "Size" + i + "=4096\r\n" : "");
    }
    return ini;
}

// The order in which the rows of filesIni finished: "124" for f1.dat, f2.dat, f4.dat.
struct FinishOrder final : WizardObserver {
    std::string rows;
    void pageShown(PageId) override {}
    void fileFinished(const std::string& name) override { rows += name.substr(1, 1); }
    void failed(const std::string&) override {}
    void finished(FinishOutcome) override {}
};

class DownloadPages : public test::EnginePagesTest {
  protected:
    void SetUp() override {
        vendorHost = "127.0.0.1:" + std::to_string(advert.port());
        restart();
    }
    ~DownloadPages() override { wizard.reset(); }  // before the advertisement's server

    // From page 1 to page 4 with the plan the server gives first, `parallel` files at once;
    // the first download starts from the loop.
    frmUpdate4* planFrom(const std::string& url, int parallel = 1) {
        fetchFrom(url);
        EXPECT_TRUE(QTest::qWaitFor([&] { return wizard->visiblePage() == Analysis; }));
        wizard->pageAs<frmUpdate3>(Analysis)->Check1->setChecked(false);
        wizard->pageAs<frmUpdate3>(Analysis)->Next_Button_Click();
        auto* page = wizard->pageAs<frmUpdate4>(FileDownload);
        page->setParallel(parallel);
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
    FinishOrder finishOrder;  // outlives the wizard
};

TEST_F(DownloadPages, EveryRowIsFetchedThenInstalled) {
    ScriptedServer server({serving(kPlanIni), serving(kMain), serving(kData)});
    frmUpdate4* page = planFrom(server.url("/"));
    ASSERT_TRUE(settled(page));
    ASSERT_EQ(wizard->visiblePage(), Finish);
    EXPECT_EQ(server.received(1),
              test::expectedRequest({.target = "/Main.exe",
                                     .host = "127.0.0.1:" + std::to_string(server.port()),
                                     .keepAlive = true}));
    EXPECT_EQ(server.received(2),
              test::expectedRequest({.target = "/sub/data.dat",
                                     .host = "127.0.0.1:" + std::to_string(server.port()),
                                     .keepAlive = true}));
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

// Six files, f3.dat missing at first and served on the retry, from a server that serves one
// connection after the other (`served`: the file of each connection, x the 404): the rows
// start in order, at most `parallel` at once (`started`: the state icons right after the
// start), finish in the order they are served, and all reach page 5 in the list's order.
struct ParallelCase {
    int parallel;
    const char* served;
    const char* started;
    const char* finished;
};
void PrintTo(const ParallelCase& c, std::ostream* os) {
    *os << "N" << c.parallel;
}
class ParallelDownloads : public DownloadPages,
                          public ::testing::WithParamInterface<ParallelCase> {};

TEST_P(ParallelDownloads, AFailedRowIsRetriedAndTheListStaysInOrder) {
    const ParallelCase& c = GetParam();
    std::vector<Script> scripts{serving(filesIni(6, false))};
    for (const char file : std::string(c.served)) {
        scripts.push_back(file == 'x' ? serving("gone", "404 Not Found")
                                      : serving(std::string(4096, file)));
    }
    ScriptedServer server(scripts);
    wizard->setObserver(&finishOrder);
    frmUpdate4* page = planFrom(server.url("/"), c.parallel);
    page->StartDownloads();  // before the loop can serve a reply
    std::string started;
    for (int row = 1; row <= 6; ++row) {
        started += page->trelListViewCtl1->stateIcon(row) == 1 ? '1' : '0';
    }
    EXPECT_EQ(started, c.started);
    ASSERT_TRUE(settled(page));
    EXPECT_EQ(page->failedRow(), 3);
    page->Retry_Click();
    ASSERT_TRUE(settled(page));
    ASSERT_EQ(wizard->visiblePage(), Finish);
    EXPECT_EQ(finishOrder.rows, c.finished);
    EXPECT_EQ(finishedFiles(),
              (QStringList{"f1.dat", "f2.dat", "f3.dat", "f4.dat", "f5.dat", "f6.dat"}));
    EXPECT_EQ(test::readFile(dir.file("f3.dat")), std::string(4096, '3'));
}

INSTANTIATE_TEST_SUITE_P(AtOnce, ParallelDownloads,
                         ::testing::Values(ParallelCase{6, "12x4563", "111111", "124563"},
                                           ParallelCase{4, "12x4563", "111100", "124563"},
                                           ParallelCase{1, "12x3456", "100000", "123456"}),
                         [](const auto& each) {
                             return "N" + std::to_string(each.param.parallel);
                         });

// Two files in flight, half of the first there (the server holds it and the second waits): the
// labels follow the whole update, by its sizes or, without them, by its files. The first
// request comes as soon as the page is shown, not at Timer1's first second.
TEST_F(DownloadPages, SeveralFilesAtOnceShowTheWholeUpdate) {
    const struct {
        bool sizes;
        QStringList labels;
        int bar;
    } cases[] = {
        {true, {"Downloaded:2KB", "Size:8KB", "Percent:25%"}, 25},
        {false, {"Downloaded:2KB", "Files done:0 of 2", ""}, 0},
    };
    for (const auto& c : cases) {
        ScriptedServer server(
            {serving(filesIni(2, c.sizes)),
             Script()
                 .readRequest()
                 .send("HTTP/1.0 200 OK\r\nContent-Length: 4096\r\n\r\n" + std::string(2048, 'h'))
                 .readBytes(1)});
        frmUpdate4* page = planFrom(server.url("/"), 6);
        QElapsedTimer shown;
        shown.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.received(1).empty(); }, 900));
        EXPECT_LT(shown.elapsed(), 500);
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->Label4[0]->text() == c.labels[0]; }));
        EXPECT_EQ(page->Label2->text(), "Downloading 2 files at once; the whole update:");
        EXPECT_EQ((QStringList{page->Label4[0]->text(), page->Label4[1]->text(),
                               page->Label4[2]->text()}),
                  c.labels);
        EXPECT_EQ(page->SmallBar1->PercentValue(), c.bar);
        restart();
    }
}

TEST(Advertisement, AddressByLanguage) {
    EXPECT_EQ(frmUpdate5::advertisementUrl("h.example", 2052), "http://h.example/ad.asp");
    EXPECT_EQ(frmUpdate5::advertisementUrl("h.example", 1028), "http://h.example/adeng.asp");
}

}  // namespace
}  // namespace upd::wizard
