#include "net/data_connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <ctime>
#include <limits>

#include "net/ascii_case.h"
#include "net/connection_pool.h"
#include "net/failure_code.h"
#include "net/http_request.h"
#include "net/mdl_data_connection.h"
#include "net/socket_layer.h"
#include "net/temp_file.h"
#include "net/tls_session.h"
#include "net/url.h"
#include "platform/code_page.h"
#include "platform/monotonic_clock.h"

namespace upd::net {
namespace {

// PacketSize is a 32-bit property; a receive buffer of gigabytes would only waste memory,
// since one recv never returns more than the socket holds.
constexpr std::size_t kMaxReceiveBuffer = 1 << 20;
// The most a download into memory (type 1) keeps; more is failure 0, as when the memory
// runs out. MaxDownload ends such a transfer earlier, and normally.
constexpr std::int64_t kMaxMemoryBody = std::int64_t{64} << 20;
// What one receive asks for when a fast transfer keeps the socket full: many packets.
constexpr std::size_t kReceiveBatchBytes = 256 * 1024;
// How long one read notification may receive before it yields to the event loop.
constexpr std::int64_t kReadSliceNs = 4'000'000;
// A body of known length wakes the loop once this much has come (or the rest, when less is
// left), not for every segment a proxy relays: fewer wake-ups and system calls per byte.
constexpr std::int64_t kLowWaterBytes = 64 * 1024;

std::string ansi(std::string_view text) {
    return platform::toAnsi(text, platform::systemCodePage());
}

// The host as a Host header or a URL writes it: an IPv6 address in brackets.
std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos && !host.starts_with("[") ? "[" + host + "]" : host;
}

std::span<const std::uint8_t> asBytes(const std::uint8_t* data, std::int64_t n) {
    return {data, static_cast<std::size_t>(n)};
}

// A server's "content-length" (up to the 64-bit maximum) plus ResumeFrom, or a count that
// starts at ResumeFrom: they stop at the maximum instead of wrapping to a negative number.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

}  // namespace

// ---------------------------------------------------------------- creation, destruction

DataConnection::DataConnection(DataConnectionEvents events)
    : m_events(std::make_shared<const DataConnectionEvents>(std::move(events))) {
    if (!createSocketWindow()) {
        raiseDownloadFailed(toWhy(FailureCode::NoWindow));
        return;
    }
    RegisterConnection(*this);
}

DataConnection::~DataConnection() {
    closeSocket(m_socket, mainReactor());
    m_socket = -1;
    m_file.close();
    ClearBuffer();
    UnregisterConnection(*this);
    if (LiveConnections() == 0) {
        destroySocketWindow();
    }
}

void DataConnection::setEvents(DataConnectionEvents events) {
    m_events = std::make_shared<const DataConnectionEvents>(std::move(events));
}

// ---------------------------------------------------------------- properties

void DataConnection::setPacketSize(std::int32_t v) {
    if (v > 0) {
        m_PacketSize = v;
    }
}

std::int64_t DataConnection::ReceivedBytes() const {
    if (m_MaxDownload >= 0) {
        return std::min(m_transfer.ReceivedCount, m_MaxDownload);
    }
    return m_transfer.ReceivedCount;
}

std::int64_t DataConnection::RealReceivedBytes() const {
    return m_UseResume ? ReceivedBytes() - m_ResumeFrom : ReceivedBytes();
}

std::string DataConnection::FailureToString(std::int32_t Why) {
    return net::FailureToString(Why);
}

// ---------------------------------------------------------------- buffer

std::int64_t DataConnection::GetBuffer(std::vector<std::uint8_t>& bBytes) {
    return m_buffer.copyTo(bBytes);
}

std::string DataConnection::GetBufferAsString() const {
    if (m_buffer.used() == 0) {
        return {};
    }
    return platform::fromAnsi(m_buffer.bytes(), platform::systemCodePage());
}

// ---------------------------------------------------------------- re-entrancy

bool DataConnection::stillCurrent(const DataConnection* self, const Scope& s) {
    // The weak pointer is checked before `self` is touched: it may be gone.
    return !s.life.expired() && self->m_transferSerial == s.transfer && self->m_epoch == s.epoch;
}

bool DataConnection::sameTransfer(const DataConnection* self, const Scope& s) {
    return !s.life.expired() && self->m_transferSerial == s.transfer;
}

// Each raise takes its own reference to the handlers: a handler may replace them or
// destroy the object, and nothing of the object is touched after the call.
void DataConnection::raiseConnected() {
    const auto events = m_events;
    if (events->Connected) {
        events->Connected(m_id);
    }
}

void DataConnection::raiseDisconnected() {
    const auto events = m_events;
    if (events->Disconnected) {
        events->Disconnected(m_id);
    }
}

void DataConnection::raiseDownloadFailed(std::int32_t why) {
    // Every file failure passes here, whichever step met it; the file keeps its number after
    // it has been closed.
    if (why == toWhy(FailureCode::FileFailed)) {
        m_transfer.fileError = m_file.error();
    }
    const auto events = m_events;
    if (events->DownloadFailed) {
        events->DownloadFailed(why, m_id);
    }
}

void DataConnection::raiseBytesReceived(std::int64_t count) {
    const auto events = m_events;
    if (events->BytesReceived) {
        events->BytesReceived(count, m_id);
    }
}

void DataConnection::raiseStreamBytes(std::int64_t count, std::span<const std::uint8_t> bytes) {
    const auto events = m_events;
    if (events->StreamBytes) {
        events->StreamBytes(count, bytes, m_id);
    }
}

void DataConnection::raiseQuerySent() {
    const auto events = m_events;
    if (events->QuerySent) {
        events->QuerySent(m_id);
    }
}

void DataConnection::raiseObjectMoved(std::string url) {
    // A copy: the handler may destroy the object whose member the text came from.
    const auto events = m_events;
    if (events->ObjectMoved) {
        events->ObjectMoved(url, m_id);
    }
}

// ---------------------------------------------------------------- starting a transfer

DataConnection::Transfer DataConnection::Transfer::idle() {
    Transfer t;
    t.InHeader = false;
    t.CloseHandled = true;
    return t;
}

void DataConnection::FetchURLString(std::string sURL) {
    const std::string encoded = UrlEncode(sURL);
    const auto target = splitUrl(encoded);
    if (!target) {
        raiseDownloadFailed(toWhy(FailureCode::BadUrl));
        return;
    }
    m_URL = encoded;
    m_Hostname = target->host;
    m_Port = target->port;
    // A URL from the owner starts a transfer of its own, never the rest of a redirect.
    m_Redirecting = false;
    FetchURL();
}

void DataConnection::FetchURL() {
    ++m_transferSerial;
    m_transfer = Transfer{};
    m_transfer.secure = startsWithNoCase(m_URL, "https://");
    // A redirect goes on with the same transfer: its count of hops and the withheld
    // credentials stay.
    if (!m_Redirecting) {
        m_redirects = 0;
        m_withholdAuthorization = false;
    }
    ClearBuffer();
    if (m_ResumeFrom == 0) {
        m_UseResume = false;
    }

    if (!m_Redirecting) {
        m_file.close();  // a file of an abandoned earlier transfer
    }
    if (m_DownloadType == DownloadKind::File && !m_Redirecting) {
        if (m_UseTempFile) {
            m_Filename = MakeTempFileName();
        }
        if (!m_file.open(m_Filename, m_UseResume)) {
            // No connection is attempted; one left over from an earlier transfer goes too.
            if (m_socket >= 0) {
                endConnection();
            }
            m_transfer.CloseHandled = true;
            raiseDownloadFailed(toWhy(FailureCode::FileFailed));
            return;
        }
    }

    Reactor& reactor = mainReactor();
    if (m_socket >= 0) {
        closeSocket(m_socket, reactor);
        m_socket = -1;
        ++m_epoch;
        // Pending notifications run once, as the message loop would run them here.
        const Scope s = scope();
        reactor.processReady();
        if (!stillCurrent(this, s)) {
            return;
        }
    }

    const bool viaProxy = m_ProxyType != ProxyKind::None;
    int fd = -1;
    if (m_KeepAlive && !m_freshConnection) {
        // A kept connection has done its proxy exchange and TLS handshake already; it is
        // watched again, and its first write notification sends the request.
        if (std::optional<IdleConnection> idle = connectionPool().take(routeKey())) {
            if (reactor.watch(idle->socket, socketWindowSink())) {
                fd = idle->socket;
                m_transfer.tls = std::move(idle->tls);
                m_transfer.reused = true;
                m_transfer.ProxyHandshakeDone = true;
            } else {
                idle->tls.reset();
                closeSocket(idle->socket, reactor);
            }
        }
    }
    m_freshConnection = false;
    if (fd < 0) {
        fd = ConnectToHost(viaProxy ? m_ProxyHostname : m_Hostname, viaProxy ? m_ProxyPort : m_Port,
                           reactor, socketWindowSink());
    }
    m_SocketHandle = fd;
    if (fd < 0) {
        m_file.close();
        m_IsConnected = false;
        m_Redirecting = false;
        m_transfer.CloseHandled = true;
        raiseDownloadFailed(
            toWhy(viaProxy ? FailureCode::ProxyUnreachable : FailureCode::HostUnreachable));
        return;
    }
    m_socket = fd;
    m_IsConnected = true;
    const Scope s = scope();
    if (!m_Redirecting) {
        raiseConnected();
    }
    // A kept connection is open and idle: the request goes now, not a turn of the loop later.
    if (stillCurrent(this, s) && m_transfer.reused) {
        writeHandling();
    }
}

// ---------------------------------------------------------------- notifications

void DataConnection::ProcessMessage(std::int32_t Message) {
    switch (Message) {
        case static_cast<std::int32_t>(kFdRead):
            readHandling();
            break;
        case static_cast<std::int32_t>(kFdWrite):
            writeHandling();
            break;
        case static_cast<std::int32_t>(kFdClose):
            closeHandling();
            break;
        default:
            break;
    }
}

// The stages of a connection, in order: the proxy's exchange (SOCKS, or CONNECT for https
// through an HTTP proxy), the TLS handshake (https), the request, the reply.
bool DataConnection::socksPending() const {
    return (m_ProxyType == ProxyKind::Socks4 || m_ProxyType == ProxyKind::Socks5) &&
           !m_transfer.ProxyHandshakeDone;
}

bool DataConnection::tunnelPending() const {
    return m_ProxyType == ProxyKind::Http && m_transfer.secure && !m_transfer.ProxyHandshakeDone;
}

bool DataConnection::tlsPending() const {
    return m_transfer.secure &&
           (!m_transfer.tls || m_transfer.tls->state() == TlsSession::State::Handshake);
}

void DataConnection::readHandling() {
    if (!m_IsConnected || m_socket < 0) {
        return;
    }
    if (socksPending()) {
        socksReadStep();
    } else if (tunnelPending()) {
        tunnelReadStep();
    } else if (tlsPending()) {
        tlsStep();
    } else {
        receiveLoop();
    }
}

void DataConnection::writeHandling() {
    if (!m_IsConnected || m_socket < 0) {
        return;
    }
    if (!m_transfer.pendingOutput.empty()) {
        flushPendingOutput();
    } else if (socksPending()) {
        socksWriteStep();
    } else if (tunnelPending()) {
        tunnelWriteStep();
    } else if (tlsPending()) {
        tlsStep();
    } else if (!m_transfer.requestSent) {
        sendRequest();
    }
}

std::size_t DataConnection::receiveSize() const {
    return std::min(static_cast<std::size_t>(m_PacketSize), kMaxReceiveBuffer);
}

// The receive buffer is lent out for one receive loop: a nested loop (a handler that
// disconnects runs one) gets a buffer of its own, so the bytes a StreamBytes handler is
// looking at are never overwritten under it.
std::vector<std::uint8_t> DataConnection::borrowReceiveBuffer(std::size_t size) {
    std::vector<std::uint8_t> buffer = std::move(m_receiveBuffer);
    m_receiveBuffer.clear();
    if (buffer.size() != size) {
        buffer.resize(size);
    }
    return buffer;
}

// The socket's receive low-water mark (SO_RCVLOWAT): 1 byte until a plain body of known
// length is under way, then the next 64 KiB or the rest, which always arrives in full or
// with the close. Over TLS the socket's bytes are records, not the body: 1 byte there.
void DataConnection::updateLowWater() {
    std::int64_t wanted = 1;
    if (!m_transfer.tls && !m_transfer.InHeader && !m_Redirecting && !m_transfer.chunked &&
        m_transfer.DownloadLength >= 0) {
        wanted = std::clamp<std::int64_t>(m_transfer.DownloadLength - ReceivedBytes(), 1,
                                          kLowWaterBytes);
    }
    const std::int64_t current = m_lowWaterSocket == m_socket ? m_lowWater : 1;
    if (wanted == current || m_socket < 0) {
        return;
    }
    const int value = static_cast<int>(wanted);
    if (::setsockopt(m_socket, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value) == 0) {
        m_lowWater = wanted;
        m_lowWaterSocket = m_socket;
    }
}

void DataConnection::receiveLoop() {
    const Scope s = scope();
    // Several packets per system call when they are waiting, each handled as if received
    // alone, so that the events keep PacketSize as their unit.
    const std::size_t packet = receiveSize();
    const std::size_t batch = std::max(packet, kReceiveBatchBytes / packet * packet);
    std::vector<std::uint8_t> buffer = borrowReceiveBuffer(batch);
    // A fast peer could keep this loop busy for the whole transfer; after a few
    // milliseconds the rest waits for the next read notification (the socket stays armed),
    // so that a window driving the reactor still paints and takes clicks.
    const std::int64_t deadlineNs = platform::monotonicNs() + kReadSliceNs;
    bool yielded = false;
    for (;;) {
        const std::int64_t n = receiveSome(buffer.data(), batch);
        if (n == kReceiveFailed && m_transfer.tls &&
            m_transfer.tls->state() == TlsSession::State::Failed) {
            // A record that does not decrypt: the stream was tampered with on the way.
            failWithDetail(toWhy(FailureCode::TlsFailed), m_transfer.tls->failureReason());
            break;
        }
        if (n == kReceiveFailed) {
            // A reset, not an orderly close: without a length nothing else tells that the
            // bytes stopped short of the end.
            m_transfer.connectionBroken = true;
        }
        bool current = true;
        for (std::int64_t at = 0; current && at < n; at += static_cast<std::int64_t>(packet)) {
            const std::int64_t length = std::min(static_cast<std::int64_t>(packet), n - at);
            // Bytes of this receive after the piece: a body that ends before them is followed
            // by bytes nobody asked for, and its connection is not kept.
            m_transfer.bytesAfterPiece = n - at - length;
            current = handleChunk(buffer.data() + at, length);
        }
        if (!current) {
            break;
        }
        if (m_DownloadType == DownloadKind::File && m_file.isOpen() && !m_file.flush()) {
            // Full disk or file-size limit: a cut file must never look complete.
            failConnection(toWhy(FailureCode::FileFailed));
            break;
        }
        // While the close is handled everything still waiting must come in first: the
        // transfer is judged complete or cut short right after this loop.
        if (n != static_cast<std::int64_t>(batch)) {
            break;
        }
        if (!m_transfer.closeInProgress && platform::monotonicNs() >= deadlineNs) {
            yielded = true;
            break;
        }
    }
    // Records that TLS has taken off the socket raise no notification of their own.
    if (yielded && stillCurrent(this, s) && m_transfer.tls && m_transfer.tls->holdsBytes()) {
        mainReactor().deferRead(m_socket);
    }
    if (stillCurrent(this, s)) {
        updateLowWater();
    }
    if (!s.life.expired() && m_receiveBuffer.empty()) {
        m_receiveBuffer = std::move(buffer);
    }
}

// ---------------------------------------------------------------- request

void DataConnection::sendRequest() {
    m_transfer.requestSent = true;
    HttpRequestFields fields;
    fields.URL = absoluteUrl();
    fields.Hostname = bracketed(m_Hostname);
    fields.keepAlive = m_KeepAlive;
    if (m_KeepAlive && m_Port != (m_transfer.secure ? 443 : 80)) {
        fields.Hostname += ":" + std::to_string(m_Port);
    }
    fields.UseResume = m_UseResume;
    fields.ResumeFrom = m_ResumeFrom;
    fields.IfRange = m_IfRange;
    // Inside a CONNECT tunnel the origin itself reads the request: the origin form.
    fields.throughHttpProxy = m_ProxyType == ProxyKind::Http && !m_transfer.secure;
    fields.AllowCache = m_AllowCache;
    fields.UseHttpAuthorization = m_UseHttpAuthorization && !m_withholdAuthorization;
    fields.HttpUser = m_HttpUser;
    fields.HttpPass = m_HttpPass;
    if (fields.throughHttpProxy) {
        fields.ProxyUser = m_ProxyUsername;
        fields.ProxyPass = m_ProxyPassword;
    }
    if (!sendMessage(buildHttpRequest(fields, platform::systemCodePage()),
                     toWhy(FailureCode::SendFailed))) {
        return;
    }
    raiseQuerySent();
}

// Sends what the socket takes now and keeps the rest for the next write notification,
// which the reactor reports once the socket drains. False when the connection failed
// (and has been ended with `failureCode`).
bool DataConnection::sendMessage(const std::string& bytes, std::int32_t failureCode) {
    const SendResult r = sendSome(bytes);
    if (r.failed) {
        if (!retryOnNewConnection()) {
            failConnection(failureCode);
        }
        return false;
    }
    if (static_cast<std::size_t>(r.sent) < bytes.size()) {
        m_transfer.pendingOutput = bytes.substr(static_cast<std::size_t>(r.sent));
        m_transfer.pendingFailure = failureCode;
    }
    return true;
}

void DataConnection::flushPendingOutput() {
    const SendResult r = sendSome(m_transfer.pendingOutput);
    if (r.failed) {
        if (!retryOnNewConnection()) {
            failConnection(m_transfer.pendingFailure);
        }
        return;
    }
    m_transfer.pendingOutput.erase(0, static_cast<std::size_t>(r.sent));
}

// Once TLS is open everything goes through it; the proxy's exchange before it goes plain.
SendResult DataConnection::sendSome(std::string_view bytes) {
    if (m_transfer.tls && m_transfer.tls->state() == TlsSession::State::Open) {
        return m_transfer.tls->send(bytes);
    }
    return trySend(m_socket, bytes, mainReactor());
}

std::int64_t DataConnection::receiveSome(std::uint8_t* buffer, std::size_t size) {
    if (m_transfer.tls) {
        return m_transfer.tls->receive(buffer, size);
    }
    return receiveData(m_socket, buffer, size, mainReactor());
}

// ---------------------------------------------------------------- proxies

void DataConnection::socksWriteStep() {
    std::string message;
    // "[::1]" is the URL's way of writing the address ::1.
    const std::string host = unbracketed(m_Hostname);
    if (m_ProxyType == ProxyKind::Socks4) {
        if (!m_transfer.socks4) {
            Socks4Handshake::Params p;
            p.port = m_Port;
            p.remoteDns = m_ProxyUseRemoteDNS;
            p.address = m_ProxyUseRemoteDNS ? 0 : ResolveHost(host);
            if (p.address == -1 && ResolveHostIPv6(host)) {
                // The request has four bytes for the address; nothing is sent.
                failWithDetail(toWhy(FailureCode::ProxyRejected),
                               "SOCKS4 cannot carry the IPv6 address of " + m_Hostname +
                                   "; use SOCKS5, or SOCKS4 with remote DNS (SOCKS4a)");
                return;
            }
            p.userId = ansi(m_ProxyUsername);
            p.host = ansi(host);
            m_transfer.socks4.emplace(std::move(p));
        }
        message = m_transfer.socks4->onWritable();
    } else {
        if (!m_transfer.socks5) {
            Socks5Handshake::Params p;
            p.offeredMethod = static_cast<std::uint8_t>(m_ProxyAuthentication & 0xFF);
            p.user = ansi(m_ProxyUsername);
            p.password = ansi(m_ProxyPassword);
            p.remoteDns = m_ProxyUseRemoteDNS;
            p.host = ansi(host);
            p.address = m_ProxyUseRemoteDNS ? 0 : ResolveHost(host);
            p.port = m_Port;
            // An IPv6 address goes as one (type 4), never as a name; so does the IPv6
            // address of a name that has no IPv4 one.
            if (isIpv6Address(host) || (!m_ProxyUseRemoteDNS && p.address == -1)) {
                if (const auto v6 = ResolveHostIPv6(host)) {
                    p.address6.assign(v6->begin(), v6->end());
                }
            }
            m_transfer.socks5.emplace(std::move(p));
        }
        message = m_transfer.socks5->onWritable();
        if (m_transfer.socks5->state() == Socks5Handshake::State::Failed) {
            failConnection(m_transfer.socks5->failureCode());
            return;
        }
    }
    if (!message.empty()) {
        sendMessage(message, toWhy(FailureCode::ProxyUnreachable));
    }
}

// One receive of a proxy's handshake reply; `n` is what the receive returned.
std::string DataConnection::receiveHandshakeBytes(std::int64_t& n) {
    const std::size_t size = receiveSize();
    std::vector<std::uint8_t> buffer = borrowReceiveBuffer(size);
    n = receiveData(m_socket, buffer.data(), size, mainReactor());
    std::string bytes(reinterpret_cast<const char*>(buffer.data()),
                      n > 0 ? static_cast<std::size_t>(n) : 0);
    if (m_receiveBuffer.empty()) {
        m_receiveBuffer = std::move(buffer);
    }
    return bytes;
}

void DataConnection::socksReadStep() {
    std::int64_t n = 0;
    const std::string bytes = receiveHandshakeBytes(n);
    // Bytes before the first request was sent belong to no reply: ignored.
    if (n <= 0 || (m_ProxyType == ProxyKind::Socks4 && !m_transfer.socks4) ||
        (m_ProxyType == ProxyKind::Socks5 && !m_transfer.socks5)) {
        return;
    }
    if (m_ProxyType == ProxyKind::Socks4) {
        switch (m_transfer.socks4->onReceived(bytes)) {
            case Socks4Handshake::State::Rejected:
                failConnection(toWhy(FailureCode::ProxyRejected));
                return;
            case Socks4Handshake::State::Granted:
                m_transfer.ProxyHandshakeDone = true;
                writeHandling();
                return;
            default:
                return;
        }
    }
    const auto state = m_transfer.socks5->onReceived(bytes);
    m_transfer.Socks5Stage = static_cast<std::uint8_t>(m_transfer.socks5->repliesHandled());
    if (const auto method = m_transfer.socks5->chosenMethod()) {
        m_ProxyAuthentication = *method;
    }
    switch (state) {
        case Socks5Handshake::State::Failed:
            failConnection(m_transfer.socks5->failureCode());
            return;
        case Socks5Handshake::State::Done:
            m_transfer.ProxyHandshakeDone = true;
            writeHandling();
            return;
        case Socks5Handshake::State::SendAuth:
        case Socks5Handshake::State::SendConnect:
            writeHandling();
            return;
        default:
            return;
    }
}

// The CONNECT request for https through an HTTP proxy. The proxy's own credentials go
// along when there are any: unlike a plain request, which the proxy may answer itself, a
// tunnel is the proxy's to grant.
void DataConnection::tunnelWriteStep() {
    if (!m_transfer.tunnel) {
        ConnectTunnel::Params p;
        p.host = ansi(bracketed(m_Hostname));
        p.port = m_Port;
        p.userAgent = ansi(userAgent());
        if (!m_ProxyUsername.empty()) {
            p.proxyAuthorization = "Basic " + ToBase64(m_ProxyUsername + ":" + m_ProxyPassword);
        }
        m_transfer.tunnel.emplace(std::move(p));
    }
    const std::string message = m_transfer.tunnel->onWritable();
    if (!message.empty()) {
        sendMessage(message, toWhy(FailureCode::ProxyUnreachable));
    }
}

void DataConnection::tunnelReadStep() {
    std::int64_t n = 0;
    const std::string bytes = receiveHandshakeBytes(n);
    if (n <= 0 || !m_transfer.tunnel) {
        return;  // a close is judged by the close notification: failure 7
    }
    switch (m_transfer.tunnel->onReceived(bytes)) {
        case ConnectTunnel::State::Refused:
            failWithDetail(toWhy(FailureCode::ProxyRejected), m_transfer.tunnel->refusal());
            return;
        case ConnectTunnel::State::Established:
            m_transfer.ProxyHandshakeDone = true;
            writeHandling();
            return;
        default:
            return;
    }
}

// One step of the TLS handshake, on a read or a write notification; the first makes the
// session. Bytes that followed the proxy's CONNECT reply are the server's first.
void DataConnection::tlsStep() {
    if (!m_transfer.tls) {
        m_transfer.tls = std::make_unique<TlsSession>(
            m_socket, m_Hostname, m_Port, mainReactor(),
            m_transfer.tunnel ? m_transfer.tunnel->takeTunnelBytes() : "");
    }
    switch (m_transfer.tls->handshake()) {
        case TlsSession::State::Open:
            writeHandling();
            return;
        case TlsSession::State::Failed:
            // After Disconnect the handshake meets our own shutdown: that is no TLS
            // failure, and the close handling running now raises the abort.
            if (!m_transfer.UserAborted) {
                failWithDetail(toWhy(FailureCode::TlsFailed), m_transfer.tls->failureReason());
            }
            return;
        default:
            return;
    }
}

// ---------------------------------------------------------------- response

bool DataConnection::handleChunk(const std::uint8_t* data, std::int64_t n) {
    if (!m_transfer.InHeader) {
        return storeBody(data, n);
    }
    // Interim replies (100 Continue, 103 Early Hints) come before the real one, maybe many in
    // one receive: a loop skips them, and a peer that sends no end of them fails.
    ResponseHeader header;
    for (;;) {
        const auto r = m_transfer.header.feed(
            {reinterpret_cast<const char*>(data), static_cast<std::size_t>(n)});
        if (r.status == HeaderCollector::Status::Incomplete) {
            return true;
        }
        if (r.status == HeaderCollector::Status::TooLong) {
            failConnection(toWhy(FailureCode::BadReply));
            return false;
        }
        m_transfer.HeaderText = m_transfer.header.takeHeader();
        header = parseResponseHeader(std::move(m_transfer.HeaderText));
        m_transfer.HeaderText.clear();
        data += r.bodyOffset;
        n -= static_cast<std::int64_t>(r.bodyOffset);
        if (!header.status || *header.status < 100 || *header.status >= 200) {
            break;
        }
        if (++m_transfer.interimReplies > kMaxInterimReplies) {
            failConnection(toWhy(FailureCode::BadReply));
            return false;
        }
        m_transfer.header.reset();
        if (n <= 0) {
            return true;
        }
    }
    m_transfer.InHeader = false;
    const Scope s = scope();
    ParseHeaders(header);
    if (!stillCurrent(this, s)) {
        return false;
    }
    if (n > 0 && !m_Redirecting) {
        return storeBody(data, n);
    }
    return endIfLengthArrived();  // an empty body ("content-length: 0") is complete now
}

// The body as received: chunks are decoded first, so that their framing never reaches the
// file; the last chunk completes the transfer and broken framing fails it.
bool DataConnection::storeBody(const std::uint8_t* data, std::int64_t n) {
    if (!m_transfer.chunked) {
        return StoreData(data, n);
    }
    std::string decoded;
    const std::size_t taken = m_transfer.chunks.feed(
        {reinterpret_cast<const char*>(data), static_cast<std::size_t>(n)}, decoded);
    m_transfer.surplus = m_transfer.surplus || taken < static_cast<std::size_t>(n);
    if (!decoded.empty() && !StoreData(reinterpret_cast<const std::uint8_t*>(decoded.data()),
                                       static_cast<std::int64_t>(decoded.size()))) {
        return false;
    }
    if (m_transfer.chunks.broken()) {
        failConnection(toWhy(FailureCode::BadReply));
        return false;
    }
    if (m_transfer.chunks.done() && m_socket >= 0) {
        if (!keepConnection()) {
            shutdownSocket();
            closeHandling();
        }
        return false;
    }
    return true;
}

// A transfer whose announced length, or MaxDownload, has arrived is complete: a keep-alive
// peer (an HTTP proxy honouring "Proxy-Connection: Keep-Alive", a server asked for a
// persistent connection) would otherwise hold it open until its idle time-out. False when the
// transfer has ended here.
bool DataConnection::endIfLengthArrived() {
    const bool atMax = m_MaxDownload >= 0 && ReceivedBytes() >= m_MaxDownload;
    if (m_Redirecting || m_transfer.InHeader || m_socket < 0 ||
        (!atMax &&
         (m_transfer.DownloadLength < 0 || ReceivedBytes() < m_transfer.DownloadLength))) {
        return true;
    }
    if (!keepConnection()) {
        shutdownSocket();
        closeHandling();
    }
    return false;
}

// A reply read to its last byte, and no further, on a connection its peer keeps open: the
// connection goes to the pool and the transfer ends as at an orderly close. False when the
// connection is not to be kept (the caller closes it).
bool DataConnection::keepConnection() {
    const bool wholeBody = m_transfer.chunked
                               ? m_transfer.chunks.done()
                               : m_transfer.ReceivedCount == m_transfer.DownloadLength;
    const bool tlsClean = !m_transfer.tls || (m_transfer.tls->state() == TlsSession::State::Open &&
                                              !m_transfer.tls->holdsBytes());
    if (!m_KeepAlive || !m_transfer.persistent || m_transfer.surplus ||
        m_transfer.bytesAfterPiece > 0 || !wholeBody || !tlsClean || m_Redirecting ||
        m_transfer.InHeader || m_transfer.UserAborted || m_transfer.CloseHandled ||
        m_transfer.closeInProgress || m_transfer.connectionBroken ||
        !m_transfer.pendingOutput.empty() || m_socket < 0) {
        return false;
    }
    m_transfer.CloseHandled = true;
    // Gathered file writes go out before the transfer may be called complete.
    if (m_file.isOpen() && !m_file.flush()) {
        failConnection(toWhy(FailureCode::FileFailed));
        return true;
    }
    Reactor& reactor = mainReactor();
    reactor.unwatch(m_socket);
    // The low-water mark was this body's; the next reply starts with its header.
    if (m_lowWaterSocket == m_socket && m_lowWater != 1) {
        const int one = 1;
        (void)::setsockopt(m_socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
    }
    m_lowWaterSocket = -1;
    connectionPool().put(routeKey(), {m_socket, std::move(m_transfer.tls)});
    m_socket = -1;
    endConnection();
    raiseDisconnected();
    return true;
}

// A connection taken from the pool that its server closed, or that failed, before a byte
// of the reply: the server may have closed it just as the request went out, so the request
// goes once more, over a new connection. Once the reply has started it is never sent again.
bool DataConnection::retryOnNewConnection() {
    if (!m_transfer.reused || !m_transfer.InHeader || m_transfer.header.collected() != 0 ||
        m_transfer.interimReplies != 0 || m_transfer.UserAborted || m_socket < 0) {
        return false;
    }
    m_transfer.tls.reset();
    closeSocket(m_socket, mainReactor());
    m_socket = -1;
    ++m_epoch;
    // The same transfer goes on, as after a redirect: its file stays open, nothing is raised.
    m_Redirecting = true;
    m_freshConnection = true;
    FetchURL();
    return true;
}

std::string DataConnection::routeKey() const {
    std::string key = (m_transfer.secure ? "https://" : "http://") +
                      asciiLower(bracketed(m_Hostname)) + ":" + std::to_string(m_Port);
    if (m_transfer.secure) {
        // A connection checked under another trust store is no connection to reuse.
        key += "\nt" + std::to_string(TlsSession::trustGeneration());
    }
    key += "\n" + std::to_string(static_cast<std::int32_t>(m_ProxyType));
    if (m_ProxyType != ProxyKind::None) {
        // Another proxy login is another route: the proxy may grant the other one less.
        key += "\n" + asciiLower(m_ProxyHostname) + ":" + std::to_string(m_ProxyPort) + "\n" +
               m_ProxyUsername + "\n" + m_ProxyPassword + (m_ProxyUseRemoteDNS ? "\nr" : "\nl");
    }
    return key;
}

void DataConnection::ParseHeaders(const ResponseHeader& header) {
    m_Redirecting = false;
    m_transfer.chunked = header.chunked;
    m_transfer.persistent = header.persistent;
    m_transfer.validator = rangeValidator(header);
    if (header.retryAfter) {
        m_transfer.retryAfter =
            retryAfterSeconds(*header.retryAfter, static_cast<std::int64_t>(std::time(nullptr)))
                .value_or(-1);
    }
    // The length of this reply's body; only a range (206) continues the bytes kept, and is
    // counted on from them below.
    if (header.contentLength != -1 && !header.chunked) {
        m_transfer.DownloadLength = header.contentLength;
    }
    if (header.location) {
        m_LocationValue = platform::fromAnsi(*header.location, platform::systemCodePage());
    }
    if (!header.status) {
        m_transfer.HTTPReply = 999;
        m_transfer.discardBody = m_UseResume;
        raiseDownloadFailed(toWhy(FailureCode::BadReply));
        return;
    }
    m_transfer.HTTPReply = *header.status;
    switch (m_transfer.HTTPReply) {
        case 206:
            if (m_transfer.DownloadLength >= 0) {
                m_transfer.DownloadLength =
                    saturatingAdd(m_transfer.DownloadLength, m_UseResume ? m_ResumeFrom : 0);
            }
            m_transfer.ReceivedCount = m_ResumeFrom;
            if (m_DownloadType == DownloadKind::File && m_file.isOpen()) {
                const std::int64_t size = m_file.size();
                if (size < m_ResumeFrom) {
                    // Writing at ResumeFrom would leave a hole of zeros before it.
                    failConnection(toWhy(FailureCode::ClosedEarly));
                    return;
                }
                m_file.setPosition(m_ResumeFrom);
                if (size > m_ResumeFrom) {
                    m_file.truncate(m_ResumeFrom);
                }
            }
            return;
        case 200:
            // The server ignored the range and sends the whole file: counted from 0, written
            // from byte 0 over whatever was there.
            m_UseResume = false;
            if (m_DownloadType == DownloadKind::File && m_file.isOpen()) {
                m_file.setPosition(0);
                m_file.truncate(0);
            }
            return;
        case 301:
        case 302: {
            // Only a location of this reply counts: LocationValue may hold one of an
            // earlier transfer.
            const bool hasLocation = header.location && !header.location->empty();
            m_transfer.discardBody = m_UseResume;
            if (hasLocation && m_AutoRedirect) {
                followRedirect(*header.location);
            } else if (hasLocation) {
                raiseObjectMoved(m_LocationValue);
            } else {
                raiseDownloadFailed(toWhy(FailureCode::BadReply));
            }
            return;
        }
        default:
            // An error page must not overwrite the start of a partial file being resumed.
            m_transfer.discardBody = m_UseResume;
            // These have no body, whatever the header says: on a kept connection the next
            // byte is the next reply's.
            if (m_transfer.HTTPReply == 204 || m_transfer.HTTPReply == 304) {
                m_transfer.DownloadLength = 0;
                m_transfer.chunked = false;
            }
            raiseDownloadFailed(toWhy(FailureCode::BadReply));
            return;
    }
}

std::string DataConnection::absoluteUrl() const {
    if (startsWithNoCase(m_URL, "http://") || startsWithNoCase(m_URL, "https://")) {
        return m_URL;
    }
    std::string url = "http://" + bracketed(m_Hostname);
    if (m_Port != 80) {
        url += ":" + std::to_string(m_Port);
    }
    return url + (m_URL.starts_with("/") ? m_URL : "/" + m_URL);
}

void DataConnection::followRedirect(const std::string& rawLocation) {
    if (++m_redirects > kMaxRedirects) {
        raiseDownloadFailed(toWhy(FailureCode::BadReply));
        return;
    }
    const auto absolute = resolveLocation(absoluteUrl(), encodeUnsafeUrlBytes(rawLocation));
    const auto target = absolute ? splitUrl(*absolute) : std::nullopt;
    if (!target) {
        raiseDownloadFailed(toWhy(FailureCode::BadReply));
        return;
    }
    if (m_transfer.secure && !target->secure) {
        // The rest of the transfer would go in the clear, open to reading and rewriting.
        failWithDetail(toWhy(FailureCode::TlsFailed),
                       "redirect from https to http refused: " + *absolute);
        return;
    }
    // The credentials are the first origin's: a location on another host, port or scheme
    // gets none, nor does any hop after it ("http://a/" -> "http://a:8080/" -> "http://a/").
    // A name differing only in case ("http://A/") is the same host.
    if (target->secure != m_transfer.secure || target->port != m_Port ||
        asciiLower(unbracketed(target->host)) != asciiLower(unbracketed(m_Hostname))) {
        m_withholdAuthorization = true;
    }
    // The new request goes where the location points: another host or port is connected
    // to (or asked of the same proxy), not sent to the first host.
    m_Redirecting = true;
    m_URL = *absolute;
    m_Hostname = target->host;
    m_Port = target->port;
    FetchURL();
}

bool DataConnection::StoreData(const std::uint8_t* bytes, std::int64_t n) {
    if (m_MaxDownload >= 0 && n + ReceivedBytes() >= m_MaxDownload) {
        m_transfer.surplus = m_transfer.surplus || n + ReceivedBytes() > m_MaxDownload;
        n = m_MaxDownload - ReceivedBytes();
        if (n <= 0) {
            shutdownSocket();
            // Inside a close handling already running this returns at once, and that
            // handling raises the final event when this read ends.
            closeHandling();
            return false;
        }
    }
    m_transfer.ReceivedCount = saturatingAdd(m_transfer.ReceivedCount, n);
    const Scope s = scope();
    switch (m_DownloadType) {
        case DownloadKind::File:
            if (!m_transfer.discardBody && !m_file.write(asBytes(bytes, n))) {
                // Full disk or file-size limit: a cut file must never look complete.
                failConnection(toWhy(FailureCode::FileFailed));
                return false;
            }
            break;
        case DownloadKind::Memory:
            // A lying server must not drive the process into swap: memory downloads (the
            // advertisement, small files) stop at a ceiling of their own.
            if (m_buffer.used() + n > kMaxMemoryBody || !m_buffer.append(asBytes(bytes, n))) {
                failConnection(toWhy(FailureCode::ClosedEarly));
                return false;
            }
            break;
        case DownloadKind::Stream:
            raiseStreamBytes(n, asBytes(bytes, n));
            if (!stillCurrent(this, s)) {
                return false;
            }
            break;
        default:
            break;
    }
    raiseBytesReceived(ReceivedBytes());
    return stillCurrent(this, s) && endIfLengthArrived();
}

// ---------------------------------------------------------------- ending

bool DataConnection::incomplete() const {
    const std::int64_t received = ReceivedBytes();
    return m_transfer.DownloadLength != received && m_transfer.DownloadLength != -1 &&
           (received < m_MaxDownload || m_MaxDownload < 0);
}

// Our side ends the connection (the length has arrived, MaxDownload, Disconnect): over TLS
// the end of the stream that follows is then no sign of a cut.
void DataConnection::shutdownSocket() {
    if (m_transfer.tls) {
        m_transfer.tls->noteLocalShutdown();
    }
    ::shutdown(m_socket, SHUT_RDWR);
}

void DataConnection::endConnection() {
    m_transfer.tls.reset();
    m_transfer.tunnel.reset();
    closeSocket(m_socket, mainReactor());
    m_socket = -1;
    m_file.close();
    m_IsConnected = false;
    m_SocketHandle = -1;
    m_Redirecting = false;
    m_transfer.CloseHandled = true;
    m_transfer.closeInProgress = false;
    m_transfer.pendingOutput.clear();
    m_transfer.socks4.reset();
    m_transfer.socks5.reset();
    m_transfer.header.reset();
    ++m_epoch;
}

void DataConnection::failConnection(std::int32_t why) {
    endConnection();
    raiseDownloadFailed(why);
}

void DataConnection::failWithDetail(std::int32_t why, std::string detail) {
    m_transfer.failureDetail = std::move(detail);
    failConnection(why);
}

void DataConnection::closeHandling() {
    if (m_transfer.CloseHandled || m_socket < 0) {
        return;
    }
    m_transfer.CloseHandled = true;
    m_transfer.closeInProgress = true;
    const Scope s = scope();
    ::shutdown(m_socket, SHUT_WR);
    // Data still waiting in the socket is taken in first.
    readHandling();
    if (!stillCurrent(this, s) || retryOnNewConnection()) {
        return;
    }
    m_transfer.closeInProgress = false;
    // Gathered file writes go out before the transfer may be called complete.
    const bool written = !m_file.isOpen() || m_file.flush();
    std::int32_t why = -1;
    if (m_transfer.UserAborted) {
        why = toWhy(FailureCode::UserAborted);
    } else if (!written) {
        why = toWhy(FailureCode::FileFailed);
    } else if (socksPending() || tunnelPending()) {
        why = toWhy(FailureCode::ProxyUnreachable);  // the proxy hung up mid-handshake
    } else if (tlsPending()) {
        why = toWhy(FailureCode::TlsFailed);
        m_transfer.failureDetail =
            "the TLS handshake with " + m_Hostname + " failed: the connection was closed";
    } else if (m_transfer.InHeader || incomplete() ||
               (m_transfer.chunked && !m_transfer.chunks.done()) ||
               (m_transfer.connectionBroken && m_transfer.DownloadLength < 0 &&
                !m_transfer.chunked)) {
        // No header (a redirect's new connection included), a body cut short, or a reset
        // where only the close could have told the end (after a whole length or the last
        // chunk, a reset loses nothing).
        why = toWhy(FailureCode::ClosedEarly);
    } else if (m_transfer.tls && m_transfer.tls->endedWithoutNotice() &&
               m_transfer.DownloadLength < 0 && !m_transfer.chunked) {
        // A body that ends at the close, closed without TLS's close_notify: anyone on the
        // way could have cut it there.
        why = toWhy(FailureCode::ClosedEarly);
    }
    endConnection();
    if (why >= 0) {
        raiseDownloadFailed(why);
    } else {
        raiseDisconnected();
    }
}

void DataConnection::Disconnect() {
    if (!m_IsConnected) {
        return;
    }
    const Scope s = scope();
    m_transfer.UserAborted = true;
    m_Redirecting = false;
    if (m_socket >= 0) {
        shutdownSocket();
    }
    if (!m_transfer.CloseHandled && !m_transfer.closeInProgress && m_socket >= 0) {
        closeHandling();
    } else {
        // Called from a handler while the close is being handled: that handling stops
        // once this returns, so the final event is raised here.
        endConnection();
        raiseDownloadFailed(toWhy(FailureCode::UserAborted));
    }
    if (!sameTransfer(this, s)) {
        return;
    }
    m_SocketHandle = 0;
    m_IsConnected = false;
}

}  // namespace upd::net
