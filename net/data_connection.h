// DataConnection: the program's download object. One instance performs one HTTP GET at a
// time over a TCP socket of its own (IPv6 or IPv4), with TLS for an https URL, directly or
// through an HTTP (a CONNECT tunnel for https), SOCKS4(a) or SOCKS5 proxy, and delivers the
// body to a file, to a memory buffer, or to its owner chunk by chunk. No method waits for the
// transfer: progress and outcome arrive only as events (data_connection_events.h), raised from
// inside FetchURL/FetchURLString/Disconnect or from the reactor's dispatch (mainReactor(), which
// the program's loop drives).
//
//     upd::net::DataConnectionEvents events;
//     events.BytesReceived = [](std::int64_t n, std::int32_t) { ... };
//     events.Disconnected = [](std::int32_t) { ... };            // complete
//     events.DownloadFailed = [](std::int32_t why, std::int32_t) { ... };
//     upd::net::DataConnection download(events);
//     download.setFilename("/path/file"); download.setUseTempFile(false);
//     download.FetchURLString("http://host/file");
//     while (!finished) upd::net::mainReactor().runOnce(1000);   // or the GUI's loop
//
// Every transfer ends with exactly one final event: Disconnected, or DownloadFailed with
// the connection closed (IsConnected false). A reply whose announced length (its
// content-length, or a range's end) has fully arrived is complete at once: the object
// closes the connection itself, so a keep-alive peer cannot hold the transfer open. A
// reply without a length ends at the peer's close; a reset there is DownloadFailed(0).
// DownloadFailed(4) for an unwanted status is not final when the connection stays open: the reply's
// body still follows and the close raises the final event.
//
// KeepAlive (off unless set) asks for a persistent HTTP/1.1 connection: a reply read to its
// last byte on a connection the peer keeps open ends the transfer (Disconnected, as at a
// close) and leaves the connection to the pool (connection_pool.h), and the next transfer
// of any object to the same origin along the same route takes it instead of connecting.
// A reply not read to its end (MaxDownload, Disconnect, a redirect) closes it. When a
// connection taken from the pool is closed or fails before the first byte of the reply,
// the request is sent once more on a new connection; never after that byte. Over https a failed
// handshake, a certificate that is not trusted, has expired or names another host, and a redirect
// to a plain http URL are DownloadFailed(12); lastFailureDetail() says which.
//
// Ownership: the object owns its socket, its output file and its buffer and releases them
// when a transfer ends and when it is destroyed. The owner owns the object; the module
// registry (mdl_data_connection.h) only refers to it. Not copyable or movable: the
// registry and the reactor's routing refer to it by address.
//
// Types: Long properties are 32-bit, except byte counts and offsets, which are 64-bit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/base64.h"
#include "net/chunked_decoder.h"
#include "net/connect_tunnel.h"
#include "net/data_connection_events.h"
#include "net/download_buffer.h"
#include "net/http_response.h"
#include "net/output_file.h"
#include "net/socks4_handshake.h"
#include "net/socks5_handshake.h"
#include "net/tls_session.h"

namespace upd::net {

class DataConnection {
  public:
    // Registers the object for socket notifications. When the notification hub cannot be
    // made, DownloadFailed(2, 0) is raised from here and the object stays unregistered.
    explicit DataConnection(DataConnectionEvents events = {});
    // Closes the socket and the file, clears the buffer, unregisters. Raises nothing.
    ~DataConnection();
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;

    void setEvents(DataConnectionEvents events);

    // ---- Properties (Get / Let), in the order of the member table ----
    std::int32_t DownloadType() const {  // 0 file, 1 memory, 2 stream
        return static_cast<std::int32_t>(m_DownloadType);
    }
    void setDownloadType(std::int32_t v) { m_DownloadType = static_cast<DownloadKind>(v); }
    const std::string& Filename() const { return m_Filename; }
    void setFilename(std::string v) { m_Filename = std::move(v); }
    bool UseTempFile() const { return m_UseTempFile; }
    void setUseTempFile(bool v) { m_UseTempFile = v; }
    std::int32_t ProxyType() const {  // 0 direct, 1 HTTP, 2 SOCKS4, 3 SOCKS5
        return static_cast<std::int32_t>(m_ProxyType);
    }
    void setProxyType(std::int32_t v) { m_ProxyType = static_cast<ProxyKind>(v); }
    const std::string& ProxyHostname() const { return m_ProxyHostname; }
    void setProxyHostname(std::string v) { m_ProxyHostname = std::move(v); }
    std::int32_t ProxyPort() const { return m_ProxyPort; }
    void setProxyPort(std::int32_t v) { m_ProxyPort = v; }
    const std::string& Hostname() const { return m_Hostname; }
    void setHostname(std::string v) { m_Hostname = std::move(v); }
    std::int32_t Port() const { return m_Port; }
    void setPort(std::int32_t v) { m_Port = v; }
    const std::string& URL() const { return m_URL; }
    void setURL(std::string v) { m_URL = std::move(v); }
    const std::string& HttpUser() const { return m_HttpUser; }
    void setHttpUser(std::string v) { m_HttpUser = std::move(v); }
    const std::string& HttpPass() const { return m_HttpPass; }
    void setHttpPass(std::string v) { m_HttpPass = std::move(v); }
    // Basic credentials for the host, port and scheme of the URL the transfer starts with.
    // A redirect elsewhere (host compared without case) sends none, there and on every
    // later hop of that transfer. Proxy credentials are the proxy's and always go to it.
    bool UseHttpAuthorization() const { return m_UseHttpAuthorization; }
    void setUseHttpAuthorization(bool v) { m_UseHttpAuthorization = v; }
    std::int32_t PacketSize() const { return m_PacketSize; }
    void setPacketSize(std::int32_t v);  // 0 or less: ignored
    std::int32_t ConnectionType() const { return m_ConnectionType; }
    void setConnectionType(std::int32_t v) { m_ConnectionType = v; }
    std::int32_t id() const { return m_id; }
    void setId(std::int32_t v) { m_id = v; }
    bool AllowCache() const { return m_AllowCache; }
    void setAllowCache(bool v) { m_AllowCache = v; }
    const std::string& ProxyUsername() const { return m_ProxyUsername; }
    void setProxyUsername(std::string v) { m_ProxyUsername = std::move(v); }
    const std::string& ProxyPassword() const { return m_ProxyPassword; }
    void setProxyPassword(std::string v) { m_ProxyPassword = std::move(v); }
    bool ProxyUseRemoteDNS() const { return m_ProxyUseRemoteDNS; }
    void setProxyUseRemoteDNS(bool v) { m_ProxyUseRemoteDNS = v; }
    // SOCKS5 method offered (0 none, 2 user/password); overwritten with the proxy's choice.
    std::int32_t ProxyAuthentication() const { return m_ProxyAuthentication; }
    void setProxyAuthentication(std::int32_t v) { m_ProxyAuthentication = v; }
    bool IsConnected() const { return m_IsConnected; }
    std::int64_t ReceivedBytes() const;
    std::int64_t RealReceivedBytes() const;
    std::int64_t MaxDownload() const { return m_MaxDownload; }
    void setMaxDownload(std::int64_t v) { m_MaxDownload = v; }
    std::int64_t DownloadLength() const { return m_transfer.DownloadLength; }
    std::int32_t HTTPReply() const { return m_transfer.HTTPReply; }
    bool UseResume() const { return m_UseResume; }
    void setUseResume(bool v) { m_UseResume = v; }
    std::int64_t ResumeFrom() const { return m_ResumeFrom; }
    void setResumeFrom(std::int64_t v) { m_ResumeFrom = v < 0 ? 0 : v; }
    // The validator of the bytes kept (ETag or Last-Modified of the reply they came from),
    // sent as "If-Range" when resuming: a server whose file has changed answers 200 and the
    // file is written whole. "" for none.
    const std::string& IfRange() const { return m_IfRange; }
    void setIfRange(std::string v) { m_IfRange = std::move(v); }
    // The seconds the last reply's "Retry-After" asks to wait (a 503 or 429 says when to come
    // back); -1 for none.
    std::int64_t RetryAfterSeconds() const { return m_transfer.retryAfter; }
    // The validator of the last reply (rangeValidator), for a later IfRange; "" for none.
    const std::string& ReplyValidator() const { return m_transfer.validator; }
    bool AutoRedirect() const { return m_AutoRedirect; }
    void setAutoRedirect(bool v) { m_AutoRedirect = v; }
    // Keep the connection for later transfers (see above); takes effect at FetchURL.
    bool KeepAlive() const { return m_KeepAlive; }
    void setKeepAlive(bool v) { m_KeepAlive = v; }
    // The request under way went over a connection taken from the pool.
    bool ConnectionReused() const { return m_transfer.reused; }
    // Over https: the connection's TLS handshake resumed an earlier session.
    bool TlsResumed() const { return m_transfer.tls && m_transfer.tls->resumed(); }
    // The current socket; -1 after a connection has ended, 0 after Disconnect.
    std::int32_t SocketHandle() const { return m_SocketHandle; }

    // ---- Methods ----
    // Starts a download from Hostname, Port and URL: opens the output file (DownloadType
    // 0), connects (blocking, bounded) and raises Connected; the rest follows from the
    // reactor. An absolute URL starting with "https://" is fetched over TLS. Failures: 6
    // (file), 5 (host), 7 (proxy).
    void FetchURL();
    // Encodes the URL, sets URL, Hostname (lower case; an IPv6 address in brackets) and
    // Port, then FetchURL. A URL that is not "http://host[:port]..." or
    // "https://host[:port]..." raises DownloadFailed(11) and changes nothing.
    void FetchURLString(std::string sURL);
    // Copies the memory buffer into bBytes (trimming the buffer's allocation) and returns
    // its size; when the buffer is empty returns 0 and leaves bBytes alone.
    std::int64_t GetBuffer(std::vector<std::uint8_t>& bBytes);
    // The buffer's bytes as text (system code page to UTF-8).
    std::string GetBufferAsString() const;
    std::int64_t GetBufferSize() const { return m_buffer.used(); }
    void ClearBuffer() { m_buffer.clear(); }
    // Only while connected: aborts the transfer, which ends with DownloadFailed(1).
    void Disconnect();
    // Entry for socket notifications: 1 read, 2 write, 32 close; other values are ignored.
    void ProcessMessage(std::int32_t Message);

    static std::string FailureToString(std::int32_t Why);
    // The reason of the last failure where its code leaves it open, in English: for 12
    // the TLS handshake's or the certificate check's ("the certificate of localhost was
    // not accepted: certificate has expired") or the refused redirect; for 8 the proxy's
    // answer to CONNECT, or why SOCKS4 cannot reach an IPv6 address. Empty otherwise;
    // cleared when a transfer starts.
    const std::string& lastFailureDetail() const { return m_transfer.failureDetail; }
    // Beside the detail, for 6: the errno of the output file's failure (ENOSPC: the disk is
    // full; see OutputFile::error). 0 otherwise; cleared when a transfer starts.
    int lastFileError() const { return m_transfer.fileError; }
    static std::string ToBase64(std::string_view sNormString) { return net::ToBase64(sNormString); }
    static std::string TripletToQuartet(const Bytes& bIn, std::size_t lStart) {
        return net::TripletToQuartet(bIn, lStart);
    }
    static std::uint8_t ShiftLeft(std::uint8_t bShift, int lPlaces) {
        return net::ShiftLeft(bShift, lPlaces);
    }
    static std::uint8_t ShiftRight(std::uint8_t bShift, int lPlaces) {
        return net::ShiftRight(bShift, lPlaces);
    }

    // The hub's note that the connection ended with an error (a reset): the transfer cannot
    // be complete, whatever arrived.
    void noteConnectionBroken() { m_transfer.connectionBroken = true; }

    // The descriptor this object holds open, -1 when none; the hub routes by it.
    int liveSocket() const { return m_socket; }

    // At most this many automatic redirects per transfer.
    static constexpr int kMaxRedirects = 10;
    // At most this many interim (1xx) replies before the reply to one request; one more is
    // DownloadFailed(4), and the connection is closed.
    static constexpr int kMaxInterimReplies = 16;

  private:
    // What a step needs to know after raising an event or running nested dispatch: whether
    // the object still exists, and whether the transfer or the connection it worked on is
    // still the current one.
    struct Scope {
        std::weak_ptr<const char> life;
        std::uint64_t transfer;
        std::uint64_t epoch;
    };
    Scope scope() const { return {m_life, m_transferSerial, m_epoch}; }
    static bool stillCurrent(const DataConnection* self, const Scope& s);
    static bool sameTransfer(const DataConnection* self, const Scope& s);

    void readHandling();
    void writeHandling();
    void closeHandling();
    void receiveLoop();
    void updateLowWater();
    bool handleChunk(const std::uint8_t* data, std::int64_t n);
    void ParseHeaders(const ResponseHeader& header);
    void followRedirect(const std::string& rawLocation);
    bool endIfLengthArrived();
    bool keepConnection();
    bool retryOnNewConnection();
    std::string routeKey() const;
    bool storeBody(const std::uint8_t* data, std::int64_t n);
    bool StoreData(const std::uint8_t* bytes, std::int64_t n);
    void sendRequest();
    void socksWriteStep();
    std::string receiveHandshakeBytes(std::int64_t& n);
    void socksReadStep();
    void tunnelWriteStep();
    void tunnelReadStep();
    void tlsStep();
    bool sendMessage(const std::string& bytes, std::int32_t failureCode);
    void flushPendingOutput();
    SendResult sendSome(std::string_view bytes);
    std::int64_t receiveSome(std::uint8_t* buffer, std::size_t size);
    void shutdownSocket();
    void endConnection();
    void failConnection(std::int32_t why);
    void failWithDetail(std::int32_t why, std::string detail);
    bool incomplete() const;
    bool socksPending() const;
    bool tunnelPending() const;
    bool tlsPending() const;
    std::string absoluteUrl() const;
    std::size_t receiveSize() const;
    std::vector<std::uint8_t> borrowReceiveBuffer(std::size_t size);

    void raiseConnected();
    void raiseDisconnected();
    void raiseDownloadFailed(std::int32_t why);
    void raiseBytesReceived(std::int64_t count);
    void raiseStreamBytes(std::int64_t count, std::span<const std::uint8_t> bytes);
    void raiseQuerySent();
    void raiseObjectMoved(std::string url);

    std::shared_ptr<const DataConnectionEvents> m_events;
    std::shared_ptr<const char> m_life = std::make_shared<const char>('\0');
    std::uint64_t m_transferSerial = 0;  // bumped by FetchURL
    std::uint64_t m_epoch = 0;           // bumped whenever a connection is closed

    // DownloadType and ProxyType as the engine reads them, with the properties' numbers.
    // Another number is kept as set (the getters return it): as a download type it stores
    // nothing but still counts and reports the bytes; as a proxy type it connects to the
    // proxy host and talks to it as to the server, with no proxy exchange.
    enum class DownloadKind : std::int32_t { File = 0, Memory = 1, Stream = 2 };
    enum class ProxyKind : std::int32_t { None = 0, Http = 1, Socks4 = 2, Socks5 = 3 };

    // Properties.
    DownloadKind m_DownloadType = DownloadKind::File;
    std::string m_Filename;
    bool m_UseTempFile = true;
    ProxyKind m_ProxyType = ProxyKind::None;
    std::string m_ProxyHostname = "localhost";
    std::int32_t m_ProxyPort = 80;
    std::string m_Hostname;
    std::int32_t m_Port = 80;
    std::string m_URL;
    std::string m_HttpUser;
    std::string m_HttpPass;
    bool m_UseHttpAuthorization = false;
    std::int32_t m_PacketSize = 1024;
    std::int32_t m_ConnectionType = 0;
    std::int32_t m_id = 0;
    bool m_AllowCache = false;
    std::string m_ProxyUsername;
    std::string m_ProxyPassword;
    bool m_ProxyUseRemoteDNS = false;
    std::int32_t m_ProxyAuthentication = 0;
    bool m_IsConnected = false;
    std::int64_t m_MaxDownload = -1;
    bool m_UseResume = false;
    std::int64_t m_ResumeFrom = 0;
    std::string m_IfRange;
    bool m_AutoRedirect = true;
    bool m_KeepAlive = false;
    std::int32_t m_SocketHandle = 0;

    // One request and the connection it goes over. FetchURL starts each request, a
    // redirect's included, with a fresh one; the defaults are a request about to start.
    // After the end DownloadLength, HTTPReply, ReceivedBytes and lastFailureDetail still
    // read the last one.
    struct Transfer {
        bool InHeader = true;
        std::string HeaderText;
        HeaderCollector header;
        int interimReplies = 0;  // before this request's reply
        bool ProxyHandshakeDone = false;
        std::uint8_t Socks5Stage = 0;
        std::optional<Socks4Handshake> socks4;
        std::optional<Socks5Handshake> socks5;
        std::optional<ConnectTunnel> tunnel;
        bool secure = false;  // the URL is https: TLS once any proxy exchange is done
        std::unique_ptr<TlsSession> tls;
        bool requestSent = false;
        bool reused = false;               // the connection came from the pool
        bool persistent = false;           // the reply's peer keeps the connection open
        bool surplus = false;              // bytes came after the end of the body
        std::int64_t bytesAfterPiece = 0;  // of the receive being handled, after its piece
        std::string pendingOutput;         // what a send that would block left over
        std::int32_t pendingFailure = 0;
        std::int64_t ReceivedCount = 0;
        std::int64_t DownloadLength = -1;
        std::int32_t HTTPReply = 0;
        std::string validator;         // rangeValidator of the reply
        std::int64_t retryAfter = -1;  // of the reply, in seconds
        bool chunked = false;          // the reply's body is in chunks
        ChunkedDecoder chunks;
        bool discardBody = false;       // an error page must not overwrite a resumed file
        bool connectionBroken = false;  // a receive met a reset
        bool UserAborted = false;
        bool CloseHandled = false;
        bool closeInProgress = false;
        std::string failureDetail;
        int fileError = 0;  // OutputFile::error behind DownloadFailed(6)

        // Before the first FetchURL: no reply awaited, nothing to close.
        static Transfer idle();
    };
    Transfer m_transfer = Transfer::idle();

    // The transfer as a whole, across its redirects: FetchURL starts the count, the
    // credentials' origin and the file afresh only for a request that follows no redirect.
    // The location is never cleared; only one of the reply at hand is read from it.
    bool m_Redirecting = false;  // the request being started follows a redirect
    int m_redirects = 0;
    bool m_withholdAuthorization = false;  // a redirect has left the credentials' origin
    bool m_freshConnection = false;        // the next connect must not take a pooled one
    OutputFile m_file;                     // FileHandle
    std::string m_LocationValue;           // the location of the last reply that had one

    // Outside any request: the buffer the owner reads after the end (FetchURL clears it,
    // as ClearBuffer does), the socket, which FetchURL closes with the reactor's pending
    // notifications run, and what is reused from one connection to the next.
    DownloadBuffer m_buffer;  // BufferBytes, BufferUsed, BufferAllocated
    int m_socket = -1;
    std::int64_t m_lowWater = 1;  // SO_RCVLOWAT set on m_lowWaterSocket
    int m_lowWaterSocket = -1;
    std::vector<std::uint8_t> m_receiveBuffer;
};

}  // namespace upd::net
