// TLS on a connected socket of the download engine (OpenSSL 3), for https. It is driven by
// the reactor's notifications like everything else on the socket, never by a blocking call
// or a thread of its own:
//
//   Handshake --(handshake() on read/write notifications)--> Open --> Closed
//       \--> Failed (failureReason())           \--> Failed (a bad record)
//
// A step that needs the socket returns at once: the handshake says whether it waits for a
// read or a write notification; receive() and send() report "nothing now" as the socket
// layer does. The socket's own rules stay: every receive re-arms the read notification, a
// send that would block arms the write one.
//
// Trust: TLS 1.2 or newer; the chain must lead to a certificate of the system's trust store
// (OpenSSL's default paths, which SSL_CERT_FILE and SSL_CERT_DIR replace); the certificate
// must name the host (a DNS name, or the IP address of an address literal); names get SNI.
// Nothing switches these checks off.
//
// Resumption: the session a server hands out (a TLS 1.3 ticket, a TLS 1.2 session) is kept
// per host and port and offered by the next connection there, which then skips the key
// exchange and the certificate; the store is emptied when the trust store changes, so a
// session verified under one store is never taken for one verified under another.
//
// Ownership: the session uses the socket and the reactor, which its owner keeps open for
// its lifetime; it owns its OpenSSL objects. Nothing here throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/reactor.h"
#include "net/socket_layer.h"

struct ssl_st;  // OpenSSL's SSL

namespace upd::net {

class TlsSession {
  public:
    enum class State { Handshake, Open, Closed, Failed };

    // A client session for `host` and `port` on `socket` (connected, watched by `reactor`).
    // The host is a name, an IPv4 address, or an IPv6 address with or without brackets.
    // `early` holds bytes of the server that arrived before TLS started (behind a proxy's
    // CONNECT reply); they are read before the socket. Nothing is sent before the first
    // handshake().
    TlsSession(int socket, std::string_view host, std::int32_t port, Reactor& reactor,
               std::string early = {});
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    State state() const { return m_state; }

    // In Handshake: goes on with the handshake as far as the socket allows. Returns the new
    // state: still Handshake (wait for the notification that wantsWrite() names), Open, or
    // Failed.
    State handshake();
    // The handshake waits for a write notification (otherwise for a read one).
    bool wantsWrite() const { return m_wantsWrite; }

    // In Open: the handshake resumed an earlier session with the same host and port.
    bool resumed() const;
    // Changes whenever the trust store (SSL_CERT_FILE, SSL_CERT_DIR) does: what was verified
    // under another generation is not taken again.
    static std::uint64_t trustGeneration();

    // In Open: decrypted bytes into `buffer`, all that are there up to `size`. Returns the
    // count; 0 once the peer has ended the stream; -1 when nothing is waiting; or
    // kReceiveFailed when the connection broke (a reset), or when a record is bad (state
    // Failed then, with the reason).
    std::int64_t receive(std::uint8_t* buffer, std::size_t size);
    // In Open: encrypts and sends what the socket takes now, as trySend() does. After a
    // send that would block, the rest must be offered again, starting at the same byte.
    SendResult send(std::string_view bytes);

    // Decrypted or received bytes are held here that the socket no longer shows: the next
    // read notification must be made (Reactor::deferRead).
    bool holdsBytes() const;
    // The peer ended the stream without TLS's close_notify: a body that ends at the close
    // may have been cut by someone on the way. A stream ended after noteLocalShutdown()
    // does not count.
    bool endedWithoutNotice() const;
    void noteLocalShutdown() { m_io.localShutdown = true; }

    // In Failed: why, in English: "the certificate of localhost was not accepted:
    // certificate has expired", "the TLS handshake with localhost failed: wrong version
    // number".
    const std::string& failureReason() const { return m_reason; }

    // Receives "from => to" for every change of state.
    void setTrace(std::function<void(std::string_view)> trace) { m_trace = std::move(trace); }
    static std::string_view stateName(State state);

    // What the custom transport of the session reads and writes through; public only for
    // the OpenSSL callbacks.
    struct Io {
        int socket = -1;
        Reactor* reactor = nullptr;
        std::string early;
        std::size_t earlyUsed = 0;
        bool eof = false;            // a receive returned the end of the stream
        bool broken = false;         // a receive or send met a reset or another error
        int errorNumber = 0;         // its errno
        bool localShutdown = false;  // our side shut the socket first
    };

  private:
    void setState(State next);
    void fail(std::string reason);
    std::string describeHandshakeFailure(int sslError) const;

    struct SslDeleter {
        void operator()(ssl_st* ssl) const;
    };

    Io m_io;
    std::string m_host;        // without brackets
    std::string m_sessionKey;  // host and port: where the session may be offered again
    std::unique_ptr<ssl_st, SslDeleter> m_ssl;
    State m_state = State::Handshake;
    bool m_wantsWrite = false;
    bool m_closeNotified = false;
    std::string m_reason;
    std::function<void(std::string_view)> m_trace;
};

}  // namespace upd::net
