#include "net/WireTls.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "net/WireExceptions.h"

namespace og {

namespace {

// OpenSSL's reason for the last failure on this thread, emptying its queue.
std::string OpenSslReason()
{
    std::string reason;
    while (unsigned long code = ERR_get_error()) {
        if (const char* text = ERR_reason_error_string(code))
            reason = text;
    }
    return reason;
}

std::string VerifyReason(long result)
{
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "host name mismatch";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "self-signed certificate";
    default:
        return X509_verify_cert_error_string(result);
    }
}

// What a certificate may be named by: its DNS and IP names, else its common
// name; bytes that are no printable ASCII shown as "?" (the certificate is
// the server's word, and the text goes into logs).
std::string CertificateNames(X509* cert)
{
    std::string names;
    const auto add = [&names](const std::string& name) {
        std::string shown = name;
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
                c = '?';
        names += (names.empty() ? "" : ", ") + shown;
    };
    if (auto* all = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr))) {
        for (int i = 0; i < sk_GENERAL_NAME_num(all); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(all, i);
            char text[INET6_ADDRSTRLEN] = {};
            if (name->type == GEN_DNS) {
                add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                    std::size_t(ASN1_STRING_length(name->d.dNSName))));
            } else if (name->type == GEN_IPADD) {
                const int length = ASN1_STRING_length(name->d.iPAddress);
                if ((length == 4 || length == 16) &&
                    inet_ntop(
                        length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(name->d.iPAddress), text, sizeof text))
                    add(text);
            }
        }
        GENERAL_NAMES_free(all);
    }
    char common[256] = {};
    if (names.empty() &&
        X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common, sizeof common) > 0)
        add(common);
    return names.empty() ? "no name" : names;
}

std::string NormalisedFingerprint(const std::string& text)
{
    std::string hex;
    for (unsigned char c : text)
        if (std::isxdigit(c))
            hex += static_cast<char>(std::toupper(c));
    return hex;
}

bool IsAddressLiteral(const std::string& host)
{
    in6_addr any {};
    return inet_pton(AF_INET, host.c_str(), &any) == 1 || inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

int NewSession(SSL* ssl, SSL_SESSION* session)
{
    auto* context = static_cast<TTlsContext*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), 0));
    const auto* server = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (!context || !server)
        return 0;
    context->Keep(*server, session);
    return 1; // the session is ours now
}

BIO_METHOD* RawMethod(int (*read)(BIO*, char*, int), int (*write)(BIO*, const char*, int))
{
    static BIO_METHOD* method = [&] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "og raw steps");
        BIO_meth_set_read(m, read);
        BIO_meth_set_write(m, write);
        BIO_meth_set_create(m, [](BIO* bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
        BIO_meth_set_ctrl(m, [](BIO*, int cmd, long, void*) -> long { return cmd == BIO_CTRL_FLUSH ? 1 : 0; });
        return m;
    }();
    return method;
}

} // namespace

// ---------------------------------------------------------------- TTlsContext

TTlsContext::TTlsContext(const TTlsTrust& trust)
    : trust_(trust)
{
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_)
        throw EWireTlsError("Cannot set up TLS: " + OpenSslReason() + ".");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The certificate is judged after the handshake (TTlsChannel::Judge).
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_ex_data(ctx_, 0, this);
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, NewSession);
    const bool loaded = trust.CAFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                             : SSL_CTX_load_verify_locations(ctx_, trust.CAFile.c_str(), nullptr) == 1;
    if (!loaded && !trust.CAFile.empty()) {
        const std::string reason = OpenSslReason();
        SSL_CTX_free(ctx_);
        throw EWireTlsError("Cannot read the CA file \"" + trust.CAFile + "\": " + reason + ".");
    }
    ERR_clear_error();
}

TTlsContext::~TTlsContext()
{
    for (auto& [server, session] : sessions_)
        SSL_SESSION_free(session);
    SSL_CTX_free(ctx_);
}

SSL_SESSION* TTlsContext::SessionFor(const std::string& server)
{
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(server);
    if (found == sessions_.end())
        return nullptr;
    // A copy for each connection: parallel connections that share one
    // session object spoil each other's resumption (OpenSSL updates it as
    // new tickets arrive), so about one in five fell back to a full handshake.
    return SSL_SESSION_dup(found->second);
}

void TTlsContext::Keep(const std::string& server, SSL_SESSION* session)
{
    std::lock_guard lock(mutex_);
    SSL_SESSION*& slot = sessions_[server];
    if (slot)
        SSL_SESSION_free(slot);
    slot = session;
}

// ---------------------------------------------------------------- TTlsChannel

TTlsChannel::TTlsChannel(
    std::shared_ptr<TTlsContext> context, const std::string& host, int port, ReceiveRaw receive, SendRaw send)
    : context_(std::move(context)),
      host_(host),
      server_(host + ":" + std::to_string(port)),
      receive_(std::move(receive)),
      send_(std::move(send))
{
    ssl_ = SSL_new(context_->Native());
    if (!ssl_)
        throw EWireTlsError("Cannot set up TLS for " + host_ + ": " + OpenSslReason() + ".");
    BIO* bio = BIO_new(RawMethod(BioRead, BioWrite));
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_app_data(ssl_, &server_);
    if (IsAddressLiteral(host_)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_, host_.c_str());
        SSL_set1_host(ssl_, host_.c_str());
    }
    if (SSL_SESSION* session = context_->SessionFor(server_)) {
        SSL_set_session(ssl_, session);
        SSL_SESSION_free(session);
    }
}

TTlsChannel::~TTlsChannel()
{
    SSL_free(ssl_);
}

int TTlsChannel::BioRead(BIO* bio, char* into, int room)
{
    auto* self = static_cast<TTlsChannel*>(BIO_get_data(bio));
    if (self->rawError_ || room <= 0)
        return -1;
    try {
        // Take a whole segment at once: OpenSSL asks for a record header,
        // then its body, and each would otherwise be a system call.
        if (self->inboxAt_ == self->inbox_.size()) {
            self->inbox_.resize(16 * 1024 + 64);
            self->inbox_.resize(self->receive_(self->inbox_.data(), self->inbox_.size()));
            self->inboxAt_ = 0;
            if (self->inbox_.empty())
                return 0;
            if (!self->heardFrom_) {
                // A server's first record is a handshake or an alert of
                // protocol version 3.x. Anything else is plain text that was
                // on its way before TLS began (a plain-text greeting, or
                // replies put in by someone on the path).
                const auto type = static_cast<unsigned char>(self->inbox_[0]);
                if ((type != 22 && type != 21) || (self->inbox_.size() > 1 && self->inbox_[1] != 3))
                    self->RaiseDataBeforeHandshake();
                self->heardFrom_ = true;
            }
        }
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(room), self->inbox_.size() - self->inboxAt_);
        std::copy_n(self->inbox_.data() + self->inboxAt_, n, into);
        self->inboxAt_ += n;
        return static_cast<int>(n);
    } catch (...) {
        self->rawError_ = std::current_exception();
        return -1;
    }
}

int TTlsChannel::BioWrite(BIO* bio, const char* data, int size)
{
    auto* self = static_cast<TTlsChannel*>(BIO_get_data(bio));
    if (self->rawError_)
        return -1;
    try {
        std::size_t sent = 0;
        while (sent < static_cast<std::size_t>(size)) {
            const std::size_t n = self->send_(data + sent, static_cast<std::size_t>(size) - sent);
            if (n == 0)
                return sent ? static_cast<int>(sent) : 0;
            sent += n;
        }
        return size;
    } catch (...) {
        self->rawError_ = std::current_exception();
        return -1;
    }
}

void TTlsChannel::Raise(const std::string& what, int sslResult)
{
    if (rawError_) {
        std::exception_ptr error = rawError_;
        rawError_ = nullptr;
        ERR_clear_error();
        std::rethrow_exception(error);
    }
    const int code = SSL_get_error(ssl_, sslResult);
    std::string reason = OpenSslReason();
    if (reason.empty())
        reason = code == SSL_ERROR_ZERO_RETURN || code == SSL_ERROR_SYSCALL ? "the server closed the connection"
                                                                            : "error " + std::to_string(code);
    throw EWireTlsError(what + " " + host_ + " failed: " + reason + ".");
}

void TTlsChannel::RaiseDataBeforeHandshake() const
{
    throw EWireTlsError("TLS handshake with " + host_ + " failed: the server sent data before the TLS handshake.");
}

void TTlsChannel::Handshake(bool plainHeld)
{
    if (plainHeld)
        RaiseDataBeforeHandshake();
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    if (result != 1)
        Raise("TLS handshake with", result);
    Judge();
}

void TTlsChannel::Judge()
{
    problem_.clear();
    if (!Checked())
        return;
    X509* peer = SSL_get0_peer_certificate(ssl_);
    if (!peer) {
        problem_ = "no certificate";
        return;
    }
    const std::string& wanted = context_->Trust().Fingerprint;
    if (!wanted.empty()) {
        if (NormalisedFingerprint(wanted) != NormalisedFingerprint(PeerFingerprint()))
            problem_ = "certificate fingerprint is " + PeerFingerprint() + ", not the one to trust";
        return;
    }
    const long result = SSL_get_verify_result(ssl_);
    if (result != X509_V_OK)
        problem_ = VerifyReason(result);
    if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH)
        problem_ += " (it is for " + CertificateNames(peer) + "; SHA-256 " + PeerFingerprint() + ")";
}

bool TTlsChannel::Resumed() const
{
    return SSL_session_reused(ssl_) == 1;
}

std::string TTlsChannel::Protocol() const
{
    return SSL_get_version(ssl_);
}

std::string TTlsChannel::PeerFingerprint() const
{
    X509* peer = SSL_get0_peer_certificate(ssl_);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!peer || X509_digest(peer, EVP_sha256(), digest, &length) != 1)
        return {};
    static const char* hex = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i)
            text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::size_t TTlsChannel::Receive(char* into, std::size_t room)
{
    ERR_clear_error();
    std::size_t got = 0;
    const int result = SSL_read_ex(ssl_, into, room, &got);
    if (result == 1)
        return got;
    const int code = SSL_get_error(ssl_, result);
    if (!rawError_ && (code == SSL_ERROR_ZERO_RETURN || (code == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)))
        return 0; // closed, with or without close_notify: the caller's "closed gracefully"
    Raise("TLS with", result);
}

std::size_t TTlsChannel::Send(const char* data, std::size_t size)
{
    ERR_clear_error();
    std::size_t sent = 0;
    const int result = SSL_write_ex(ssl_, data, size, &sent);
    if (result == 1)
        return sent;
    Raise("TLS with", result);
}

void TTlsChannel::Close() noexcept
{
    if (!rawError_)
        SSL_shutdown(ssl_);
    rawError_ = nullptr;
    ERR_clear_error();
}

} // namespace og
