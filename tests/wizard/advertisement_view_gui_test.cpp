// The advertisement view loads nothing its text names. A named pipe would hang the window and
// /dev/zero would be read without end (an alarm bounds each row); a file of the test's own
// stands for /etc/hostname, since only its opens can be seen (inotify on the folder); a
// listening socket sees any fetch; a data: image would be decoded into the document.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <csignal>

#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"
#include "wizard/advertisement_view.h"

namespace upd::wizard {
namespace {

std::string g_hung;  // what the alarm reports, set before each row

void failHung(int) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, g_hung.data(), g_hung.size());
    _exit(1);
}

TEST(AdvertisementView, LoadsNothingItsTextNames) {
    const test::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = "file://" + dir.write("hostname", "host\n");
    const test::LoopbackListener server;
    ASSERT_EQ(fcntl(server.fd(), F_SETFL, O_NONBLOCK), 0);
    const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(opens, dir.path().c_str(), IN_OPEN), 0);
    const char* img = R"(<img src="%1">)";
    const char* sheet = R"(<link rel="stylesheet" href="%1"><p>text</p>)";
    const std::pair<const char*, std::string> rows[] = {
        {img, fifo},
        {img, "file://" + fifo},
        {img, "/dev/zero"},
        {sheet, "/dev/zero"},
        {img, file},
        {R"(<a href="%1">link</a>)", file},
        {sheet, file},
        {R"(<body background="%1"><p>text</p></body>)", file},
        {R"x(<p style="background-image: url(%1)">text</p>)x", file},
        {img,
         "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8"
         "DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg=="},
        {img, server.url("/img.png")},
    };
    std::signal(SIGALRM, failHung);
    for (const auto& [html, reference] : rows) {
        const QString text = QString::fromUtf8(html).arg(QString::fromStdString(reference));
        SCOPED_TRACE(text.toStdString());
        g_hung = "the advertisement view hung on: " + text.toStdString() + "\n";
        alarm(10);
        AdvertisementView view;
        view.resize(300, 200);
        view.setHtml(text);
        view.grab();
        QTest::keyClick(&view, Qt::Key_Tab);     // to the link, if there is one
        QTest::keyClick(&view, Qt::Key_Return);  // and follow it
        char event[4096];
        EXPECT_LT(read(opens, event, sizeof event), 1) << "a file in the test folder was opened";
        EXPECT_LT(server.accept(), 0) << "the view connected to the server";
        EXPECT_FALSE(
            view.document()
                ->resource(QTextDocument::ImageResource, QUrl(QString::fromStdString(reference)))
                .isValid());
        alarm(0);
    }
    std::signal(SIGALRM, SIG_DFL);
    close(opens);
}

// A page of spaces, a zero-width space, an image and empty cells shows nothing: the finish page
// puts its summary there instead.
TEST(AdvertisementView, ShowsNothingWithoutAVisibleCharacter) {
    const std::pair<const char*, bool> rows[] = {
        {"", true},
        {R"(<p> &nbsp;&#8203;</p><img src="a.png"><table><tr><td></td></tr></table>)", true},
        {"<p>Buy now</p>", false},
        {R"(<img src="a.png">.)", false},
    };
    for (const auto& [html, nothing] : rows) {
        AdvertisementView view;
        view.setHtml(QString::fromUtf8(html));
        EXPECT_EQ(view.showsNothing(), nothing) << html;
    }
}

}  // namespace
}  // namespace upd::wizard
