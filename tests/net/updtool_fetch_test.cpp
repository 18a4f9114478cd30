// `updtool fetch` from the outside, against scripted servers: the trace format, what goes
// to standard output, the exit statuses, and the time-out of a stalled transfer.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"

namespace {

using upd::test::Script;
using upd::test::ScriptedServer;
using namespace std::string_literals;

struct Outcome {
    int status = -1;  // exit status; -1 when it did not end in time or was killed
    std::string out;
    std::string err;
};

std::int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// Runs updtool fetch ARGS, collecting both outputs, for at most timeoutMs. With readerGone
// its standard output is a pipe that nobody reads any more (`updtool fetch URL | head -c0`).
Outcome fetch(std::vector<std::string> args, int timeoutMs = 10'000, bool readerGone = false) {
    args.insert(args.begin(), {UPDTOOL_PATH, "fetch"});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return {};
    }
    if (readerGone) {
        close(out[0]);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // As a shell starts it, whatever this test process does with SIGPIPE.
        signal(SIGPIPE, SIG_DFL);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (!readerGone) {
            close(out[0]);
        }
        close(err[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome o;
    const std::int64_t deadline = nowMs() + timeoutMs;
    bool outOpen = !readerGone;
    bool errOpen = true;
    while ((outOpen || errOpen) && nowMs() < deadline) {
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(deadline - nowMs())) <= 0) {
            continue;
        }
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (p[i].revents == 0) {
                continue;
            }
            const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
            } else {
                (i == 0 ? o.out : o.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    if (outOpen || errOpen) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!readerGone) {
        close(out[0]);
    }
    close(err[0]);
    if (!outOpen && !errOpen && WIFEXITED(status)) {
        o.status = WEXITSTATUS(status);
    }
    return o;
}

std::string reply(int status, const std::string& body, const std::string& extra = "") {
    return "HTTP/1.0 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(UpdtoolFetch, StreamsTheBodyAndTracesEveryEvent) {
    ScriptedServer server(Script().readRequest().send(reply(200, "hello")).close());
    const Outcome o = fetch({"--trace", "--id", "3", server.url("/f")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "hello");
    EXPECT_EQ(o.err,
              "Connected 3\nQuerySent 3\nStreamBytes 5 3\nBytesReceived 5 3\n"
              "Disconnected 3\n");
}

TEST(UpdtoolFetch, ErrorStatusExitsWith1AndSaysWhy) {
    ScriptedServer server(Script().readRequest().send(reply(404, "none")).close());
    const Outcome o = fetch({"--trace", server.url("/f")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("DownloadFailed 4 0\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Disconnected 0\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("updtool: The server didn't reply with a 200 or 206 reply code.\n"),
              std::string::npos)
        << o.err;
}

TEST(UpdtoolFetch, MovedWithoutRedirectIsReported) {
    ScriptedServer server(
        Script().readRequest().send(reply(302, "", "Location: http://h/x\r\n")).close());
    const Outcome o = fetch({"--trace", "--no-redirect", "--memory", server.url("/f")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "Connected 0\nQuerySent 0\nObjectMoved http://h/x 0\nDisconnected 0\n");
}

TEST(UpdtoolFetch, IntoAFileIntoMemoryAndIntoATemporaryFile) {
    upd::test::TempDir dir;
    ScriptedServer server(Script().readRequest().send(reply(200, "0123456789")).close());
    const Outcome toFile = fetch({"-o", dir.file("out.bin"), server.url("/f")});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(fileContents(dir.file("out.bin")), "0123456789");

    const Outcome toMemory =
        fetch({"--memory", "--max", "4", "--packet-size", "3", server.url("/f")});
    EXPECT_EQ(toMemory.status, 0) << toMemory.err;
    EXPECT_EQ(toMemory.out, "0123");

    const std::string oldTmp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    const Outcome toTemp = fetch({"--temp", server.url("/f")});
    setenv("TMPDIR", oldTmp.c_str(), 1);
    if (oldTmp.empty()) {
        unsetenv("TMPDIR");
    }
    EXPECT_EQ(toTemp.status, 0) << toTemp.err;
    ASSERT_TRUE(toTemp.out.starts_with(dir.path())) << toTemp.out;
    ASSERT_TRUE(toTemp.out.ends_with(".tmp\n")) << toTemp.out;
    EXPECT_EQ(fileContents(toTemp.out.substr(0, toTemp.out.size() - 1)), "0123456789");
}

TEST(UpdtoolFetch, ThroughSocks5WithUserAndPassword) {
    ScriptedServer proxy(Script()
                             .readBytes(4)
                             .send("\x05\x02"s)
                             .readBytes(5)
                             .send("\x01\x00"s)
                             .readBytes(18)
                             .send("\x05\x00\x00\x01\x7F\x00\x00\x01\x00\x50"s)
                             .readRequest()
                             .send(reply(200, "tunnelled"))
                             .close());
    const Outcome o = fetch({"--proxy", "socks5", "--proxy-host", "127.0.0.1", "--proxy-port",
                             std::to_string(proxy.port()), "--proxy-auth", "2", "--proxy-user", "u",
                             "--proxy-pass", "p", "--remote-dns", "http://example.org/x"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "tunnelled");
    EXPECT_EQ(proxy.received(0).substr(0, 27),
              "\x05\x02\x02\x00\x01\x01u\x01p\x05\x01\x00\x03\x0B"
              "example.org\x00\x50"s);
}

TEST(UpdtoolFetch, StalledTransferEndsAtTheTimeOut) {
    ScriptedServer server(Script()
                              .readRequest()
                              .send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc")
                              .readUntilClosed());
    const std::int64_t start = nowMs();
    const Outcome o = fetch({"--trace", "--timeout", "0.3", server.url("/f")});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_LT(nowMs() - start, 8000);
    EXPECT_NE(o.err.find("DownloadFailed 1 0\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("seconds; the transfer was stopped"), std::string::npos) << o.err;
}

TEST(UpdtoolFetch, UnusableUrlAndRefusedConnectionExitWith1) {
    const Outcome badUrl = fetch({"https://example.org/"});
    EXPECT_EQ(badUrl.status, 1);
    EXPECT_NE(badUrl.err.find("updtool: Unknown Error!"), std::string::npos) << badUrl.err;
    const Outcome refused = fetch({"--trace", "http://127.0.0.1:1/x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "DownloadFailed 5 0\nupdtool: Unable to connect to the host.\n");
}

TEST(UpdtoolFetch, ReaderOfTheOutputGoingAwayIsAFailureNotADeath) {
    ScriptedServer server(Script().readRequest().send(reply(200, "hello")).close());
    const Outcome o = fetch({server.url("/f")}, 10'000, true);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.err.find("updtool: cannot write to standard output\n"), std::string::npos) << o.err;
}

TEST(UpdtoolFetch, UsageErrorsExitWith2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "http://h/"},
        {"--proxy", "ftp", "http://h/"},
        {"-o", "f", "--memory", "http://h/"},
        {"--packet-size", "0", "http://h/"},
        {"--proxy-port", "70000", "http://h/"},
        {"--proxy-auth", "1", "http://h/"},
        {"--resume-from", "-5", "http://h/"},
        {"--timeout", "0", "http://h/"},
        {"--id"},
        {"http://a/", "http://b/"},
    };
    for (const auto& args : cases) {
        const Outcome o = fetch(args);
        std::string joined;
        for (const auto& a : args) {
            joined += a + " ";
        }
        EXPECT_EQ(o.status, 2) << joined;
        EXPECT_NE(o.err.find("usage: updtool fetch"), std::string::npos) << joined;
    }
}

}  // namespace
