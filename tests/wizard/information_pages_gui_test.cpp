// Pages 2 and 3 on the engine, against scripted servers: progress, failures shown in the frame,
// the stall, the proxy in force, information page 3 refuses, and page 3's Next into page 4 or 5.
// Against a real nginx they run end to end in auto_update_test.sh.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/string_table.h"
#include "controls/list_control.h"
#include "controls/small_bar.h"
#include "tests/support/expected_request.h"
#include "tests/support/scripted_server.h"
#include "tests/wizard/wizard_test_support.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"

namespace upd::wizard {
namespace {

using enum PageId;
using test::Script;
using test::ScriptedServer;
using test::serving;

const std::string kUpdateIni =
    "[Update]\r\nVer=2.1\r\nTime=2005.06.01\r\nContentsEN=Faster,Smaller\r\nForceUp=0\r\n"
    "Update=0\r\n[Ver]\r\nNum=2\r\nFile1=Main.exe\r\nVer1=2.1\r\nFile2=sub\\r.dll\r\nVer2=1.0\r\n"
    "[Time]\r\nNum=0\r\n[Descript]\r\nEXE=Program\r\n";

class InformationPages : public test::EnginePagesTest {
  protected:
    void SetUp() override { restart(); }

    // Pumps until page 2 has moved on or shows its failure.
    bool settled() {
        return QTest::qWaitFor(
            [&] {
                return wizard->visiblePage() != InfoDownload ||
                       wizard->pageAs<frmUpdate2>(InfoDownload)->failed();
            },
            10'000);
    }
    bool fetched(const std::string& address) {
        fetchFrom(address);
        return settled();
    }
    frmUpdate3* analysis() { return wizard->pageAs<frmUpdate3>(Analysis); }
    controls::ListControl* downloadList() {
        return wizard->pageAs<frmUpdate4>(FileDownload)->trelListViewCtl1;
    }
};

// A failed server offers the next one of the list, which page 1 then holds and page 2 fetches.
TEST_F(InformationPages, AFailureOffersTheNextServer) {
    ScriptedServer missing(serving("gone", "404 Not Found"));
    ScriptedServer good(serving(kUpdateIni));
    auto* servers = wizard->pageAs<frmUpdate1>(Server);
    ASSERT_TRUE(servers->addServer("Missing", QString::fromStdString(missing.url("/"))));
    ASSERT_TRUE(servers->addServer("Good", QString::fromStdString(good.url("/"))));
    servers->trelListViewCtl1_ItemClick(1);
    wizard->navigate(Server, InfoDownload);
    ASSERT_TRUE(settled());
    auto* page = wizard->pageAs<frmUpdate2>(InfoDownload);
    ASSERT_TRUE(page->NextServer_Button->isVisible());
    page->NextServer_Button->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard->visiblePage() == Analysis; }, 10'000));
    EXPECT_EQ(servers->chosenName(), "Good");
    EXPECT_EQ(good.connections(), 1u);
}

TEST_F(InformationPages, Page2EndsOnPage3OrShowsWhyNot) {
    // Update information of 30000 bytes: three packets.
    const std::string body = kUpdateIni + ";" + std::string(29999 - kUpdateIni.size(), 'x');
    const struct {
        const char* name;
        Script script;
        bool movesOn;
        int finalPercent;
        const char* shown;  // in the failure text
    } cases[] = {
        // clang-format off
        {"announced length: the bar follows", Script().readRequest()
             .send("HTTP/1.0 200 OK\r\nContent-Length: 30000\r\n\r\n").send(body.substr(0, 10000))
             .send(body.substr(10000, 10000)).send(body.substr(20000)).close(), true, 100, ""},
        {"no length: the bar stays at 0", serving(kUpdateIni, "200 OK", false), true, 0, ""},
        {"an error status is no information", serving("<html>gone</html>", "404 Not Found"),
         false, 0, "missing on this server"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.script);
        frmUpdate2* page = fetchFrom(server.url("/"));
        std::vector<int> percents;
        QObject::connect(page->SmallBar1, &controls::SmallBar::propertyChanged, page,
                         [&] { percents.push_back(page->SmallBar1->PercentValue()); });
        ASSERT_TRUE(settled());
        EXPECT_EQ(server.received(0),
                  test::expectedRequest({.target = "/update.ini",
                                         .host = "127.0.0.1:" + std::to_string(server.port()),
                                         .keepAlive = true}));
        EXPECT_EQ(wizard->visiblePage(), c.movesOn ? Analysis : InfoDownload);
        EXPECT_EQ(page->SmallBar1->PercentValue(), c.finalPercent);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(page->RemoteFile(), nullptr);
        if (c.movesOn) {
            EXPECT_TRUE(page->Next_Button->isEnabled());
            wizard->navigate(Analysis, Server);
        } else {
            EXPECT_TRUE(page->FailureText->isVisible());
            EXPECT_TRUE(page->FailureText->text().contains(c.shown))
                << page->FailureText->text().toStdString();
            EXPECT_FALSE(page->Next_Button->isEnabled());
            EXPECT_TRUE(page->Back_Button->isEnabled());
            page->Back_Button_Click();
        }
        EXPECT_EQ(wizard->visiblePage(), Server);
        EXPECT_FALSE(wizard->isLoaded(InfoDownload));
    }
}

TEST_F(InformationPages, Page2ShowsARefusedConnectionAndAStall) {
    const std::string closedPort = test::LoopbackListener().url("/");
    frmUpdate2* page = fetchFrom(closedPort);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(page->FailureText->text().contains("could not be reached"));
    page->Back_Button_Click();
    // The header arrives, then nothing: after the stall time-out the failure is shown and
    // the connection closed, so the server's script ends.
    ScriptedServer stalled(Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\npart"));
    page = fetchFrom(stalled.url("/"));
    page->setStallTimeoutMs(300);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(page->FailureText->text().contains("30 seconds"));
    EXPECT_TRUE(stalled.waitFinished(0));
}

// proxy.ini's type by list index, the port by its leading number.
TEST_F(InformationPages, Page2GoesThroughTheProxyInForce) {
    ScriptedServer proxy(serving(kUpdateIni));
    dir.write("proxy.ini", "[Proxy]\r\nType=1\r\nServer=127.0.0.1\r\nPort=" +
                               std::to_string(proxy.port()) + " (the office proxy)\r\n");
    ASSERT_TRUE(fetched("http://updates.invalid:81/"));
    EXPECT_TRUE(proxy.received(0).starts_with("GET http://updates.invalid:81/update.ini HTTP/1.1"));
}

TEST_F(InformationPages, Page3RefusesInformationItCannotUse) {
    ScriptedServer server(serving("[Ver]\r\nNum=1\r\nFile1=..\\..\\etc\\passwd\r\n"));
    boxes.answers = {app::MessageAnswer::Ok};
    ASSERT_TRUE(fetched(server.url("/")));
    const std::string message = app::LoadResString(119, platform::kLangEnglishUS);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, message);
    EXPECT_EQ(boxes.shown[0].icon, app::MessageIcon::Critical);
    EXPECT_EQ(analysis()->Text1->toPlainText().toStdString(), message);
    EXPECT_FALSE(analysis()->Next_Button->isEnabled());
}

TEST_F(InformationPages, Page3NextHandsThePlanToPage4OrGoesToPage5) {
    // Main.exe and sub\r.dll are missing: both planned. Then, both present and current
    // (no version resource reads "0", and "0" is not older than an empty version): page 5.
    ScriptedServer server(
        {serving(kUpdateIni), serving("[Update]\r\nForceUp=0\r\nUpdate=0\r\n[Ver]\r\nNum=1\r\n"
                                      "File1=Main.exe\r\n[Time]\r\nNum=0\r\n")});
    ASSERT_TRUE(fetched(server.url("/")));
    EXPECT_TRUE(analysis()->Check1->isChecked());  // the vendor's page is offered
    analysis()->Next_Button_Click();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("update.ini"))));
    ASSERT_EQ(analysis()->PlanList().rowCount(), 2);
    EXPECT_EQ(analysis()->PlanList().row(2).text, "sub\\r.dll");
    ASSERT_EQ(downloadList()->rowCount(), 2);
    EXPECT_EQ(downloadList()->rowText(1), "Main.exe");
    EXPECT_EQ(downloadList()->subItem(1, 1), "Program");
    EXPECT_EQ(downloadList()->icon(1), 0);
    boxes.answers = {app::MessageAnswer::Ok};  // page 4's Back asks first
    wizard->pageAs<frmUpdate4>(FileDownload)->Back_Button_Click();
    EXPECT_FALSE(wizard->state().StartPending);
    ASSERT_TRUE(fetched(server.url("/")));
    analysis()->Next_Button_Click();
    EXPECT_EQ(wizard->visiblePage(), Finish);
    EXPECT_EQ(downloadList()->rowCount(), 0);
}

}  // namespace
}  // namespace upd::wizard
