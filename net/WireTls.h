#pragma once
// TLS (OpenSSL 3) over the socket client's own receive and send steps, so
// time-outs, Abort and every socket call stay where they are. A TTlsContext
// is shared by the connections of one run: it reads the trust store once and
// keeps each server's last session so the next connection resumes it.

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;
using SSL_SESSION = struct ssl_session_st;
using BIO = struct bio_st;

namespace og {

// Whom to trust. With neither a CA file nor a fingerprint the system's trust
// store is used and the host name must match the certificate.
struct TTlsTrust {
    std::string CAFile;      // PEM file of the authority to trust instead
    std::string Fingerprint; // SHA-256 of the server's certificate, hex, ":" optional
    bool NoVerify = false;   // check nothing (the caller says so on every run)
    bool operator==(const TTlsTrust&) const = default;
};

class TTlsContext {
public:
    // EWireTlsError when the CA file cannot be read.
    explicit TTlsContext(const TTlsTrust& trust);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    const TTlsTrust& Trust() const { return trust_; }
    SSL_CTX* Native() const { return ctx_; }

    // The session to offer to `server` ("host:port"), up-referenced, or null.
    SSL_SESSION* SessionFor(const std::string& server);
    // Keeps `session` (owned from now on) as the server's latest.
    void Keep(const std::string& server, SSL_SESSION* session);

private:
    TTlsTrust trust_;
    SSL_CTX* ctx_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, SSL_SESSION*> sessions_;
};

// One TLS connection. The raw steps are the socket client's plain receive
// and send; errors they raise (time-out, closed, aborted) come out of every
// call here unchanged.
class TTlsChannel {
public:
    using ReceiveRaw = std::function<std::size_t(char*, std::size_t)>;
    using SendRaw = std::function<std::size_t(const char*, std::size_t)>;

    TTlsChannel(
        std::shared_ptr<TTlsContext> context, const std::string& host, int port, ReceiveRaw receive, SendRaw send);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // EWireTlsError naming the host and OpenSSL's reason when it fails. The
    // certificate is judged afterwards (see Problem), so that a caller that
    // sends no password may still go ahead encrypted. `plainHeld`: the caller
    // already holds bytes the server sent after agreeing to TLS. Those, or
    // first bytes from the server that are no TLS record, fail it with "the
    // server sent data before the TLS handshake" before anything is read as
    // a reply.
    void Handshake(bool plainHeld = false);
    // Empty when the certificate passed the checks or matched the
    // fingerprint; otherwise why not ("certificate has expired"). Also empty
    // when checking was switched off: see Checked.
    const std::string& Problem() const { return problem_; }
    bool Checked() const { return !context_->Trust().NoVerify; }
    bool Resumed() const;
    std::string Protocol() const; // "TLSv1.3"
    // The server certificate's SHA-256 as the fingerprint setting wants it.
    std::string PeerFingerprint() const;

    std::size_t Receive(char* into, std::size_t room);
    std::size_t Send(const char* data, std::size_t size);
    // Sends close_notify; never raises.
    void Close() noexcept;

private:
    static int BioRead(BIO* bio, char* into, int room);
    static int BioWrite(BIO* bio, const char* data, int size);
    [[noreturn]] void Raise(const std::string& what, int sslResult);
    [[noreturn]] void RaiseDataBeforeHandshake() const;
    void Judge();

    std::shared_ptr<TTlsContext> context_;
    std::string host_, server_;
    ReceiveRaw receive_;
    SendRaw send_;
    SSL* ssl_ = nullptr;
    std::exception_ptr rawError_; // raised by a raw step inside OpenSSL
    std::string inbox_;           // raw bytes received, not yet taken by OpenSSL
    std::size_t inboxAt_ = 0;
    bool heardFrom_ = false; // the server's first bytes have arrived and were TLS
    std::string problem_;
};

} // namespace og
