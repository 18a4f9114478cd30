// Helpers of the download engine's tests: recording the events of a download object as
// text, driving it to its final event, and building HTTP replies.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/data_connection.h"

namespace upd::net::test {

// Records every event of one DataConnection as a line in the trace format of
// `updtool fetch`: "Connected 0", "BytesReceived 100 0", "DownloadFailed 4 0", ...
// StreamBytes lines carry the length only; the bytes go to `streamed`.
class EventRecorder {
  public:
    DataConnectionEvents events();
    // The object whose IsConnected tells a final DownloadFailed from a status failure.
    void watch(const DataConnection* connection) { m_connection = connection; }
    // Runs `action` after recording the first event whose line starts with `prefix`.
    void onEvent(std::string prefix, std::function<void()> action);

    std::vector<std::string> lines;
    std::string streamed;
    // Disconnected, or DownloadFailed with the connection closed.
    int finalEvents = 0;

  private:
    void record(const std::string& line, bool final);

    const DataConnection* m_connection = nullptr;
    std::vector<std::pair<std::string, std::function<void()>>> m_actions;
};

// A download object with a recorder attached, driven to its final event.
struct Download {
    Download();
    EventRecorder recorder;
    std::unique_ptr<DataConnection> connection;
    // Pumps until the final event (false when it does not come in time), then delivers what
    // is still pending once, so that any event after the final one would be recorded.
    bool runToEnd(int timeoutMs = 5000);
    DataConnection& operator*() { return *connection; }
    DataConnection* operator->() { return connection.get(); }
};

// "HTTP/1.0 <status> Reason\r\n" + headers + "\r\n" + body; a Content-Length header is
// added when withLength is true.
std::string httpReply(int status, std::string_view body, bool withLength = true,
                      std::string_view extraHeaders = {});

// The request the engine sends for a plain GET of `url` on `host` (no options).
std::string plainRequest(std::string_view url, std::string_view host);

// `n` bytes of a repeating, position-dependent pattern (so shifted data is noticed).
std::string patternBytes(std::size_t n, int seed = 0);

}  // namespace upd::net::test
