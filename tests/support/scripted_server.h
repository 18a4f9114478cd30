// A TCP server for tests that follows a script of exact bytes: what to read, what to send
// (each send its own segment), when to close or reset. It binds 127.0.0.1 on a free port,
// runs on threads of its own, starts each connection's script from the beginning, and
// records exactly the bytes each connection received, so a test asserts on the wire.
//
// Every wait inside has a bound (kStepTimeoutMs); a step that cannot complete is recorded
// in errors() and ends that connection. Destruction stops everything and joins.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace upd::test {

class Script {
  public:
    struct Step {
        enum class Kind { ReadUntil, ReadBytes, Send, Close, Reset, WaitGate, ReadUntilClosed };
        Kind kind;
        std::string bytes;  // ReadUntil: the terminator; Send: the bytes; WaitGate: the name
        std::size_t count = 0;
    };

    // Reads until the bytes received so far contain `terminator`.
    Script& readUntil(std::string terminator);
    // Reads an HTTP request: up to its blank line.
    Script& readRequest() { return readUntil("\r\n\r\n"); }
    // Reads exactly n more bytes.
    Script& readBytes(std::size_t n);
    // One send call (TCP_NODELAY: its own segment).
    Script& send(std::string bytes);
    // A graceful close (FIN), then waits for the client to close its side.
    Script& close();
    // A reset (RST).
    Script& reset();
    // Waits until the test calls openGate(name).
    Script& waitGate(std::string name);
    // Reads until the client closes.
    Script& readUntilClosed();

    const std::vector<Step>& steps() const { return m_steps; }

  private:
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

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(std::string_view path) const;

    std::size_t connections() const;
    // What connection k received so far (empty for an unknown k).
    std::string received(std::size_t connection) const;
    std::vector<std::string> errors() const;

    void openGate(const std::string& name);
    // Blocks until connection k has ended (the script is done and the client has closed),
    // at most timeoutMs; true when it has.
    bool waitFinished(std::size_t connection, int timeoutMs = kStepTimeoutMs);

  private:
    struct Connection;

    void acceptLoop();
    void serve(std::size_t index, int fd);
    void fail(std::size_t index, std::size_t step, const std::string& what);

    int m_listen = -1;
    int m_stopPipe[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::vector<Script> m_scripts;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_received;
    std::vector<bool> m_finished;
    std::vector<std::string> m_errors;
    std::set<std::string> m_openGates;
    bool m_stopping = false;

    std::vector<std::thread> m_workers;  // guarded by m_mutex
    std::thread m_acceptThread;
};

}  // namespace upd::test
