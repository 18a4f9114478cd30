#include "tests/net/net_test_support.h"

#include "net/http_request.h"
#include "net/reactor.h"
#include "tests/support/reactor_pump.h"

namespace upd::net::test {

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
    const bool ended = upd::test::pumpUntil([this] { return recorder.finalEvents > 0; }, timeoutMs);
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
    return "GET " + std::string(url) + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: " + userAgent() +
           "\r\nHost: " + std::string(host) +
           "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n";
}

std::string patternBytes(std::size_t n, int seed) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>((i * 131 + i / 251 + static_cast<std::size_t>(seed) * 7) & 0xFF);
    }
    return out;
}

}  // namespace upd::net::test
