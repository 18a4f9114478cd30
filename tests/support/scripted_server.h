// A TCP server for tests that follows a script of exact bytes: what to read, what to send
// (each send its own segment), when to close or reset. It listens on 127.0.0.1 with a free
// port and serves one connection after the other on a thread of its own (the next waits in
// the listen queue), each from the start of its script, and records exactly the bytes each
// connection received, so a test asserts on the wire.
//
// Every wait has a bound (kStepTimeoutMs); a step that cannot complete is recorded in
// errors() and ends that connection. Destruction stops everything and joins.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace upd::test {

// A script that ends without close() or reset() waits for the client to close; it is an
// error when the client does not.
struct Script {
    enum class Kind { ReadRequest, ReadBytes, Send, Close, Reset };
    struct Step {
        Kind kind;
        std::string bytes;  // Send: the bytes
        std::size_t count = 0;
    };

    // Reads an HTTP request: up to its blank line.
    Script& readRequest() { return add({Kind::ReadRequest, {}}); }
    Script& readBytes(std::size_t n) { return add({Kind::ReadBytes, {}, n}); }
    // One send call (TCP_NODELAY: its own segment).
    Script& send(std::string bytes) { return add({Kind::Send, std::move(bytes)}); }
    // A graceful close (FIN), then waits for the client to close its side.
    Script& close() { return add({Kind::Close, {}}); }
    // A reset (RST).
    Script& reset() { return add({Kind::Reset, {}}); }

    Script& add(Step step) {
        steps.push_back(std::move(step));
        return *this;
    }
    std::vector<Step> steps;
};

class ScriptedServer {
  public:
    static constexpr int kStepTimeoutMs = 10'000;

    // Connection k follows scripts[k]; connections after the last script follow the last.
    explicit ScriptedServer(std::vector<Script> scripts);
    explicit ScriptedServer(Script script)
        : ScriptedServer(std::vector<Script>{std::move(script)}) {}
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return m_listener.port(); }
    // "http://127.0.0.1:<port>" + path.
    std::string url(std::string_view path) const { return m_listener.url(std::string(path)); }

    std::size_t connections() const;
    // What connection k received so far (empty for an unknown k).
    std::string received(std::size_t connection) const;
    std::vector<std::string> errors() const;

    // Blocks until connection k has ended (the script is done and the client has closed),
    // at most timeoutMs; true when it has.
    bool waitFinished(std::size_t connection, int timeoutMs = kStepTimeoutMs);

  private:
    void acceptLoop();
    void serve(std::size_t index, int fd);

    struct Connection {
        std::string received;
        bool finished = false;
    };

    LoopbackListener m_listener;
    int m_stopPipe[2] = {-1, -1};
    std::vector<Script> m_scripts;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Connection> m_connections;
    std::vector<std::string> m_errors;
    std::thread m_thread;
};

}  // namespace upd::test
