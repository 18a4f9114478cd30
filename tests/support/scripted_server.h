// A TCP server for tests that follows a script of exact bytes: what to read, what to send
// (each send its own segment), when to close or reset. It listens on 127.0.0.1 with a free
// port and runs on a thread of its own, serving one connection after the other (the next
// waits in the listen queue), each from the beginning of its script. It records exactly
// the bytes each connection received, so a test asserts on the wire.
//
// Every wait inside has a bound (kStepTimeoutMs); a step that cannot complete is recorded
// in errors() and ends that connection. Destruction stops everything and joins.
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

class Script {
  public:
    struct Step {
        enum class Kind { ReadUntil, ReadBytes, Send, Close, Reset, ReadUntilClosed };
        Kind kind;
        std::string bytes;  // ReadUntil: the terminator; Send: the bytes
        std::size_t count = 0;
    };

    // Reads an HTTP request: up to its blank line.
    Script& readRequest() { return add({Step::Kind::ReadUntil, "\r\n\r\n"}); }
    // Reads exactly n more bytes.
    Script& readBytes(std::size_t n) { return add({Step::Kind::ReadBytes, {}, n}); }
    // One send call (TCP_NODELAY: its own segment).
    Script& send(std::string bytes) { return add({Step::Kind::Send, std::move(bytes)}); }
    // A graceful close (FIN), then waits for the client to close its side.
    Script& close() { return add({Step::Kind::Close, {}}); }
    // A reset (RST).
    Script& reset() { return add({Step::Kind::Reset, {}}); }
    // Reads until the client closes.
    Script& readUntilClosed() { return add({Step::Kind::ReadUntilClosed, {}}); }

    const std::vector<Step>& steps() const { return m_steps; }

  private:
    Script& add(Step step) {
        m_steps.push_back(std::move(step));
        return *this;
    }
    std::vector<Step> m_steps;
};

class ScriptedServer {
  public:
    static constexpr int kStepTimeoutMs = 10'000;

    // Connection k follows scripts[k]; connections after the last script follow the last.
    // A script that ends without a close keeps the connection until the client closes.
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
    void fail(std::size_t index, std::size_t step, const std::string& what);

    LoopbackListener m_listener;
    int m_stopPipe[2] = {-1, -1};
    std::vector<Script> m_scripts;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_received;
    std::vector<bool> m_finished;
    std::vector<std::string> m_errors;
    std::thread m_thread;
};

}  // namespace upd::test
