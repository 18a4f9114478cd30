#include "tests/net/net_test_support.h"

#include <time.h>

#include <fstream>
#include <sstream>

#include "net/http_request.h"
#include "net/reactor.h"

namespace upd::net::test {
namespace {

std::int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const std::int64_t deadline = nowMs() + timeoutMs;
    Reactor& reactor = mainReactor();
    while (!done()) {
        const std::int64_t left = deadline - nowMs();
        if (left <= 0) {
            return false;
        }
        if (!reactor.open()) {
            return false;
        }
        reactor.runOnce(std::min<std::int64_t>(left, 50));
    }
    return true;
}

void EventRecorder::record(const std::string& line, bool final) {
    lines.push_back(line);
    if (final) {
        ++finalEvents;
    }
    for (auto& [prefix, action] : m_actions) {
        if (action && line.starts_with(prefix)) {
            auto run = std::move(action);
            action = nullptr;
            run();
            return;
        }
    }
}

void EventRecorder::onEvent(std::string prefix, std::function<void()> action) {
    m_actions.emplace_back(std::move(prefix), std::move(action));
}

DataConnectionEvents EventRecorder::events() {
    using std::to_string;
    DataConnectionEvents e;
    e.Connected = [this](std::int32_t id) { record("Connected " + to_string(id), false); };
    e.Disconnected = [this](std::int32_t id) { record("Disconnected " + to_string(id), true); };
    e.DownloadFailed = [this](std::int32_t why, std::int32_t id) {
        const bool final = m_connection == nullptr || !m_connection->IsConnected();
        record("DownloadFailed " + to_string(why) + " " + to_string(id), final);
    };
    e.BytesReceived = [this](std::int64_t n, std::int32_t id) {
        record("BytesReceived " + to_string(n) + " " + to_string(id), false);
    };
    e.StreamBytes = [this](std::int64_t n, std::span<const std::uint8_t> bytes, std::int32_t id) {
        streamed.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        record("StreamBytes " + to_string(n) + " " + to_string(id), false);
    };
    e.QuerySent = [this](std::int32_t id) { record("QuerySent " + to_string(id), false); };
    e.ObjectMoved = [this](const std::string& url, std::int32_t id) {
        record("ObjectMoved " + url + " " + to_string(id), false);
    };
    return e;
}

Download::Download() : connection(std::make_unique<DataConnection>(recorder.events())) {
    recorder.watch(connection.get());
}

bool Download::runToEnd(int timeoutMs) {
    const bool ended = pumpUntil([this] { return recorder.finalEvents > 0; }, timeoutMs);
    mainReactor().processReady();
    return ended;
}

std::string httpReply(int status, std::string_view body, bool withLength,
                      std::string_view extraHeaders) {
    std::string reply = "HTTP/1.0 " + std::to_string(status) + " Reason\r\n";
    if (withLength) {
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    reply += extraHeaders;
    reply += "\r\n";
    reply += body;
    return reply;
}

std::string plainRequest(std::string_view url, std::string_view host) {
    return "GET " + std::string(url) +
           " HTTP/1.0\r\n"
           "Accept: */*\r\n"
           "User-Agent: " +
           userAgent() + "\r\nHost: " + std::string(host) +
           "\r\n"
           "Pragma: no-cache\r\n"
           "Cache-Control: no-cache\r\n"
           "\r\n";
}

std::string patternBytes(std::size_t n, int seed) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>((i * 131 + i / 251 + static_cast<std::size_t>(seed) * 7) & 0xFF);
    }
    return out;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace upd::net::test
