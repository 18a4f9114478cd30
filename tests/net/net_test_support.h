// Helpers of the download engine's tests: a download object whose events are recorded as
// text, driven to its final event, and HTTP replies.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/data_connection.h"
#include "tests/support/expected_request.h"
#include "tests/support/reactor_pump.h"

namespace upd::net::test {

// Records every event as a line in the trace format of `updtool fetch`: "Connected 0",
// "BytesReceived 100 0", "DownloadFailed 4 0", ... StreamBytes lines carry the length only.
struct Download {
    Download() : connection(std::make_unique<DataConnection>(events())) {}
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;
    DataConnection* operator->() { return connection.get(); }

    // Runs `action` after recording the first event whose line starts with `prefix`.
    void onEvent(std::string prefix, std::function<void()> action) {
        actions.emplace_back(std::move(prefix), std::move(action));
    }
    // Pumps until the final event (false when it does not come in time), then delivers what
    // is still pending once, so that any event after the final one would be recorded.
    bool runToEnd(int timeoutMs = 5000) {
        const bool ended = upd::test::pumpUntil([this] { return finalEvents > 0; }, timeoutMs);
        mainReactor().processReady();
        return ended;
    }

    std::vector<std::string> lines;
    int finalEvents = 0;  // Disconnected, or DownloadFailed with the connection closed
    std::vector<std::pair<std::string, std::function<void()>>> actions;  // see onEvent
    std::unique_ptr<DataConnection> connection;  // last: its events use the members above

  private:
    void record(std::string line, bool final) {
        lines.push_back(line);
        finalEvents += final ? 1 : 0;
        for (auto& [prefix, action] : actions) {
            if (action && line.starts_with(prefix)) {
                std::exchange(action, nullptr)();
                return;
            }
        }
    }
    DataConnectionEvents events() {
        using std::to_string;
        DataConnectionEvents e;
        e.Connected = [this](std::int32_t id) { record("Connected " + to_string(id), false); };
        e.Disconnected = [this](std::int32_t id) { record("Disconnected " + to_string(id), true); };
        e.DownloadFailed = [this](std::int32_t why, std::int32_t id) {
            // During construction and destruction `connection` is empty.
            record("DownloadFailed " + to_string(why) + " " + to_string(id),
                   !connection || !connection->IsConnected());
        };
        e.BytesReceived = [this](std::int64_t n, std::int32_t id) {
            record("BytesReceived " + to_string(n) + " " + to_string(id), false);
        };
        e.StreamBytes = [this](std::int64_t n, std::span<const std::uint8_t>, std::int32_t id) {
            record("StreamBytes " + to_string(n) + " " + to_string(id), false);
        };
        e.QuerySent = [this](std::int32_t id) { record("QuerySent " + to_string(id), false); };
        e.ObjectMoved = [this](const std::string& url, std::int32_t id) {
            record("ObjectMoved " + url + " " + to_string(id), false);
        };
        return e;
    }
};

// "HTTP/1.0 <status> Reason\r\n" + a Content-Length header when withLength + extraHeaders +
// "\r\n" + body.
inline std::string httpReply(int status, std::string_view body, bool withLength = true,
                             std::string_view extraHeaders = {}) {
    return "HTTP/1.0 " + std::to_string(status) + " Reason\r\n" +
           (withLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

// `n` bytes of a repeating, position-dependent pattern (so shifted data is noticed).
inline std::string patternBytes(std::size_t n, int seed = 0) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>((i * 131 + i / 251 + static_cast<std::size_t>(seed) * 7) & 0xFF);
    }
    return out;
}

}  // namespace upd::net::test
