#include "net/tls_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "net/ascii_case.h"
#include "net/url.h"

namespace upd::net {
namespace {

// ---- the transport: OpenSSL reads and writes the socket through the engine's rules

int ioRead(BIO* bio, char* out, size_t size, size_t* done) {
    BIO_clear_retry_flags(bio);
    auto* io = static_cast<TlsSession::Io*>(BIO_get_data(bio));
    if (io->earlyUsed < io->early.size()) {
        const std::size_t n = std::min(size, io->early.size() - io->earlyUsed);
        std::memcpy(out, io->early.data() + io->earlyUsed, n);
        io->earlyUsed += n;
        *done = n;
        return 1;
    }
    const std::int64_t n =
        receiveData(io->socket, reinterpret_cast<std::uint8_t*>(out), size, *io->reactor);
    if (n > 0) {
        *done = static_cast<std::size_t>(n);
        return 1;
    }
    if (n == 0) {
        io->eof = true;
    } else if (n == -1) {
        BIO_set_retry_read(bio);
    } else {
        io->broken = true;
        io->errorNumber = errno;
    }
    return 0;
}

int ioWrite(BIO* bio, const char* in, size_t size, size_t* done) {
    BIO_clear_retry_flags(bio);
    auto* io = static_cast<TlsSession::Io*>(BIO_get_data(bio));
    const SendResult r = trySend(io->socket, std::string_view(in, size), *io->reactor);
    if (r.sent > 0) {
        *done = static_cast<std::size_t>(r.sent);
        return 1;
    }
    if (r.wouldBlock) {
        BIO_set_retry_write(bio);
    } else {
        io->broken = true;
        io->errorNumber = errno;
    }
    return 0;
}

long ioControl(BIO*, int command, long, void*) {
    // Writes go straight to the socket: nothing to flush. Everything else is unsupported.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int ioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* ioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "upd socket");
        if (m != nullptr) {
            BIO_meth_set_read_ex(m, ioRead);
            BIO_meth_set_write_ex(m, ioWrite);
            BIO_meth_set_ctrl(m, ioControl);
            BIO_meth_set_create(m, ioCreate);
        }
        return m;
    }();
    return method;
}

// ---- resumption: the newest session of each host and port

struct SessionDeleter {
    void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SessionStore = std::map<std::string, std::unique_ptr<SSL_SESSION, SessionDeleter>>;

SessionStore& sessions() {
    // Never destroyed: at exit OpenSSL may be cleaned up before a static's destructor runs.
    static SessionStore* const store = new SessionStore;
    return *store;
}

// Where an SSL object keeps its session key (TlsSession::m_sessionKey) for the callback.
int sessionKeyIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

SSL_CTX* clientContext();

// OpenSSL hands over each new session (TLS 1.3 sends its tickets after the handshake); 1
// takes the reference.
int keepSession(SSL* ssl, SSL_SESSION* session) {
    const auto* key = static_cast<const std::string*>(SSL_get_ex_data(ssl, sessionKeyIndex()));
    // A ticket that comes late to a connection made under an earlier trust store stays out.
    if (key == nullptr || SSL_SESSION_is_resumable(session) != 1 ||
        SSL_get_SSL_CTX(ssl) != clientContext()) {
        return 0;
    }
    sessions()[*key].reset(session);
    return 1;
}

// ---- the context: one per process, made again when the trust store's variables change

struct ContextDeleter {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string("\x01unset") : std::string(value);
}

std::uint64_t contextGeneration = 0;

SSL_CTX* clientContext() {
    static std::unique_ptr<SSL_CTX, ContextDeleter> context;
    static std::string trustKey;
    // OpenSSL reads SSL_CERT_FILE and SSL_CERT_DIR when the store is set up; a test that
    // sets them for one transfer must not meet a store made before.
    const std::string key = environment("SSL_CERT_FILE") + '\0' + environment("SSL_CERT_DIR");
    if (context && key == trustKey) {
        return context.get();
    }
    std::unique_ptr<SSL_CTX, ContextDeleter> made(SSL_CTX_new(TLS_client_method()));
    if (!made || SSL_CTX_set_min_proto_version(made.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(made.get()) != 1) {
        return nullptr;
    }
    SSL_CTX_set_verify(made.get(), SSL_VERIFY_PEER, nullptr);
    // The request may be offered again from another address after a send that would block.
    SSL_CTX_set_mode(made.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // An end of the stream without close_notify reads as an end (endedWithoutNotice() tells
    // it apart), as a plain close does; renegotiation would make a read wait for a write.
    SSL_CTX_set_options(made.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // Read-ahead: one receive per record instead of two (its header, then the rest). The
    // buffer stays at its default size of about one record: OpenSSL 3.0 moves the unread
    // rest of the buffer to its front for every record, so a larger one costs more copying
    // than the system calls it saves.
    SSL_CTX_set_read_ahead(made.get(), 1);
    SSL_CTX_set_session_cache_mode(made.get(),
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(made.get(), keepSession);
    // A session says its certificate was verified under the store it was made with.
    sessions().clear();
    ++contextGeneration;
    context = std::move(made);
    trustKey = key;
    return context.get();
}

bool isIpAddress(const std::string& host) {
    in_addr v4{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || isIpv6Address(host);
}

// The newest error OpenSSL queued, as its reason text ("wrong version number").
std::string lastLibraryError() {
    const unsigned long code = ERR_peek_last_error();
    if (code == 0) {
        return {};
    }
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
}

}  // namespace

void TlsSession::SslDeleter::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}

TlsSession::TlsSession(int socket, std::string_view host, std::int32_t port, Reactor& reactor,
                       std::string early)
    : m_host(unbracketed(host)), m_sessionKey(asciiLower(m_host) + ':' + std::to_string(port)) {
    m_io.socket = socket;
    m_io.reactor = &reactor;
    m_io.early = std::move(early);
    ERR_clear_error();
    SSL_CTX* ctx = clientContext();
    const BIO_METHOD* method = ioMethod();
    if (ctx == nullptr || method == nullptr) {
        fail("TLS could not be set up: " + lastLibraryError());
        return;
    }
    m_ssl.reset(SSL_new(ctx));
    BIO* bio = m_ssl ? BIO_new(method) : nullptr;
    if (bio == nullptr) {
        fail("TLS could not be set up: " + lastLibraryError());
        return;
    }
    BIO_set_data(bio, &m_io);
    SSL_set_bio(m_ssl.get(), bio, bio);
    SSL_set_connect_state(m_ssl.get());
    bool named = false;
    if (isIpAddress(m_host)) {
        // An address is checked against the certificate's IP entries; SNI carries names only.
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl.get()), m_host.c_str()) == 1;
    } else {
        named = SSL_set_tlsext_host_name(m_ssl.get(), m_host.c_str()) == 1 &&
                SSL_set1_host(m_ssl.get(), m_host.c_str()) == 1;
    }
    if (!named) {
        fail("the host name \"" + m_host + "\" cannot be checked against a certificate");
        return;
    }
    SSL_set_ex_data(m_ssl.get(), sessionKeyIndex(), &m_sessionKey);
    if (const auto kept = sessions().find(m_sessionKey); kept != sessions().end()) {
        (void)SSL_set_session(m_ssl.get(), kept->second.get());
    }
}

TlsSession::~TlsSession() {
    if (!m_ssl) {
        return;
    }
    // The callback may still come while OpenSSL frees the object; the key goes with us.
    SSL_set_ex_data(m_ssl.get(), sessionKeyIndex(), nullptr);
    // Freed without close_notify, OpenSSL would take the connection for a broken one and mark
    // its session unusable. A connection we end ourselves, or one the server ended, is no
    // such thing; only a failed one (a bad record, a refused handshake) loses its session.
    if (m_state == State::Open || m_state == State::Closed) {
        SSL_set_shutdown(m_ssl.get(), SSL_get_shutdown(m_ssl.get()) | SSL_SENT_SHUTDOWN);
    }
}

std::uint64_t TlsSession::trustGeneration() {
    (void)clientContext();  // made again when the store's variables have changed
    return contextGeneration;
}

bool TlsSession::resumed() const {
    return m_ssl && SSL_session_reused(m_ssl.get()) == 1;
}

TlsSession::State TlsSession::handshake() {
    if (m_state != State::Handshake) {
        return m_state;
    }
    ERR_clear_error();
    const int rc = SSL_do_handshake(m_ssl.get());
    m_io.reactor->rearmRead(m_io.socket);
    if (rc == 1) {
        m_wantsWrite = false;
        setState(State::Open);
        return m_state;
    }
    const int error = SSL_get_error(m_ssl.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        m_wantsWrite = error == SSL_ERROR_WANT_WRITE;
        return m_state;
    }
    fail(describeHandshakeFailure(error));
    return m_state;
}

std::string TlsSession::describeHandshakeFailure(int sslError) const {
    const long verified = SSL_get_verify_result(m_ssl.get());
    if (verified != X509_V_OK) {
        return "the certificate of " + m_host +
               " was not accepted: " + X509_verify_cert_error_string(verified);
    }
    std::string why = lastLibraryError();
    if (why.empty()) {
        if (sslError == SSL_ERROR_ZERO_RETURN || m_io.eof) {
            why = "the connection was closed";
        } else if (m_io.broken && m_io.errorNumber != 0) {
            why = std::strerror(m_io.errorNumber);
        } else {
            why = "error " + std::to_string(sslError);
        }
    }
    return "the TLS handshake with " + m_host + " failed: " + why;
}

std::int64_t TlsSession::receive(std::uint8_t* buffer, std::size_t size) {
    if (m_state == State::Closed) {
        return 0;
    }
    // Once our side has shut the socket the transfer is judged already; what the socket
    // says after that (a proxy resets a connection shut with the server's close_notify
    // still on its way) is only its end.
    if (m_state == State::Open && m_io.localShutdown && m_io.broken) {
        setState(State::Closed);
        return 0;
    }
    if (m_state != State::Open || m_io.broken) {
        return kReceiveFailed;
    }
    std::size_t got = 0;
    std::int64_t end = -1;  // what to report when nothing was decrypted
    while (got < size) {
        std::size_t n = 0;
        ERR_clear_error();
        if (SSL_read_ex(m_ssl.get(), buffer + got, size - got, &n) == 1) {
            got += n;
            continue;
        }
        const int error = SSL_get_error(m_ssl.get(), 0);
        if (error == SSL_ERROR_ZERO_RETURN ||
            (m_io.localShutdown && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)) {
            m_closeNotified = (SSL_get_shutdown(m_ssl.get()) & SSL_RECEIVED_SHUTDOWN) != 0;
            setState(State::Closed);
            end = 0;
        } else if (error == SSL_ERROR_SSL && !m_io.broken) {
            fail("the TLS connection with " + m_host + " failed: " + lastLibraryError());
            end = kReceiveFailed;
        } else if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            end = kReceiveFailed;  // a reset
        }
        break;
    }
    // A read served from OpenSSL's buffer never reached the socket, which must still be
    // re-armed after this receive, as after any other.
    m_io.reactor->rearmRead(m_io.socket);
    return got > 0 ? static_cast<std::int64_t>(got) : end;
}

SendResult TlsSession::send(std::string_view bytes) {
    SendResult result;
    if (m_state != State::Open) {
        result.failed = true;
        return result;
    }
    while (static_cast<std::size_t>(result.sent) < bytes.size()) {
        std::size_t n = 0;
        ERR_clear_error();
        const auto offset = static_cast<std::size_t>(result.sent);
        if (SSL_write_ex(m_ssl.get(), bytes.data() + offset, bytes.size() - offset, &n) == 1) {
            result.sent += static_cast<std::int64_t>(n);
            continue;
        }
        const int error = SSL_get_error(m_ssl.get(), 0);
        if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
            result.wouldBlock = true;
        } else {
            result.failed = true;
        }
        break;
    }
    return result;
}

bool TlsSession::holdsBytes() const {
    return m_state == State::Open &&
           (SSL_has_pending(m_ssl.get()) == 1 || m_io.earlyUsed < m_io.early.size());
}

bool TlsSession::endedWithoutNotice() const {
    return m_state == State::Closed && !m_closeNotified && !m_io.localShutdown;
}

std::string_view TlsSession::stateName(State state) {
    switch (state) {
        case State::Handshake:
            return "Handshake";
        case State::Open:
            return "Open";
        case State::Closed:
            return "Closed";
        case State::Failed:
            return "Failed";
    }
    return "?";
}

void TlsSession::fail(std::string reason) {
    m_reason = std::move(reason);
    // A session that led to a failed handshake is not offered again.
    if (m_state == State::Handshake) {
        sessions().erase(m_sessionKey);
    }
    setState(State::Failed);
}

void TlsSession::setState(State next) {
    if (m_trace) {
        m_trace(std::string("tls: ") + std::string(stateName(m_state)) + " => " +
                std::string(stateName(next)));
    }
    m_state = next;
    if (next == State::Open && m_trace && resumed()) {
        m_trace("tls: session resumed");
    }
}

}  // namespace upd::net
