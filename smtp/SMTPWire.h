#pragma once
// Delivers mail messages to an SMTP server over one connection: greeting,
// EHLO (HELO as fallback), TLS (implicit or STARTTLS) as the security
// setting asks, login, the envelope (pipelined where offered), the data and
// "Quit"; with KeepConnection the connection stays open and the next
// message starts with RSET unless the last one was accepted. docs/transport.md
// describes the settings and the errors.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/WireTls.h"
#include "smtp/MessageClient.h"
#include "smtp/SmtpCapabilities.h"
#include "smtp/SmtpLogin.h"
#include "smtp/SmtpSecurity.h"

namespace og {

class TWireSMTP : public TWireMessageClient {
public:
    // atAny: Connect logs in with the first mechanism of net/SmtpLogin.h
    // the server offers after TLS. atLogin is the older way: AUTH LOGIN
    // after RSET, only where offered.
    enum class TAuthenticationType { atNone = 0, atLogin = 1, atAny = 2 };
    using TSecurity = TSmtpSecurity;

    TWireSMTP();
    ~TWireSMTP() override;

    static int DefaultPort(TSecurity security) { return DefaultSmtpPort(security); }
    // Seconds the greeting may take on the port of TLS from the first byte
    // when the client starts in plain text; other ports wait Timeout, as
    // servers may hold their greeting back on purpose.
    static constexpr int kTlsPortGreetingWait = 3;

    TSecurity Security = TSecurity::Automatic;
    TTlsTrust Trust;
    // With Security None only: the user has agreed to send the password in
    // plain text to this server.
    bool AllowPlainPassword = false;
    // The name after EHLO; empty: the machine's fully qualified name, else
    // the address literal of the local end ("[192.0.2.10]").
    std::string HeloName;
    // Shared by the connections of one run for TLS session resumption; made
    // on first use (and again when Trust changes). Keep it, or hand the same
    // one to other instances, to resume.
    std::shared_ptr<TTlsContext> TlsContext;
    // Sends RSET, MAIL, RCPT and DATA together where the server offers it.
    bool UsePipelining = true;
    // Where the server offers CHUNKING besides PIPELINING, MAIL, RCPT and the
    // message itself (in BDAT chunks) leave in one flight: one wait for
    // replies a message instead of two.
    bool UseChunking = true;
    static constexpr std::size_t kChunkBytes = 1 << 20;
    // A Send that opens the connection leaves it open after an accepted
    // message (and after a refused one where no reply is left unread), so
    // the next Send goes on it after its RSET; Disconnect ends it.
    bool KeepConnection = false;
    // UserID and Password live in TWireClient.
    TAuthenticationType AuthenticationType = TAuthenticationType::atNone;
    // Where the login at Connect takes its secret from instead of Password:
    // one credential shared by every connection of a run.
    std::shared_ptr<TSmtpCredential> Credential;
    // The mechanism the provider wants first ("XOAUTH2" for Microsoft),
    // used where the server offers it; empty: the table's order.
    std::string PreferredLogin;

    // What the server offered in its last EHLO reply; empty after HELO.
    TSmtpCapabilities Capabilities;
    // After Connect: whether the connection is encrypted, and one line that
    // says how (protocol, resumed, certificate checked or why not). Empty
    // for plain text.
    bool Encrypted() const { return tlsActive_; }
    const std::string& TlsNote() const { return tlsNote_; }
    // TlsNote, or with Automatic security against a server that offers no
    // STARTTLS, that the messages go unencrypted ("Sent without encryption:
    // <host> offers no STARTTLS."). Empty with None, which asks for plain text.
    const std::string& SecurityNote() const { return tlsNote_.empty() ? plainNote_ : tlsNote_; }
    const std::string& ClientName() const { return clientName_; }

    // Connects, sets up TLS as the security setting says, reads the 220
    // greeting, says EHLO (HELO when EHLO is not answered with 250) and logs
    // in when a user is set. Without TLS from the first byte, a server that
    // answers with a TLS record, or port 465 silent for kTlsPortGreetingWait
    // seconds, fails with EWireTlsError: that port expects TLS from the start.
    void Connect() override;
    // Says "Quit" (no reply is read) while the connection stands, then closes.
    void Disconnect() override;
    // The whole transaction for one message. Opens and closes its own
    // connection unless one was already open. A recipient the server refuses
    // raises EWireRecipientRefused with its reply.
    void Send(TWireMessage& message) override;

    // The message exactly as Send puts it on the wire (the same checks and
    // prepared headers, dots not doubled), onto a sink such as a .eml file;
    // nothing is sent.
    void WriteAsSent(TWireMessage& message, TLineSink& sink);
    // Its checks and headers alone, for a preview.
    void PrepareAsSent(TWireMessage& message);

    // How far the last Send got, for a caller that must tell "not sent" from
    // "the server may have it" when it failed: Acceptance means the whole
    // message, its final "." included, had left when the connection broke.
    enum class TSendStage { Connect, Envelope, Data, Acceptance, Done };
    TSendStage SendStage() const { return stage_; }
    bool DataSent() const { return stage_ == TSendStage::Acceptance || stage_ == TSendStage::Done; }
    // Called by Send just before the data's final "." goes: past it the
    // server may deliver the message whatever becomes of its reply, so a
    // caller that must never send twice notes it here. What it throws ends
    // the Send with the "." unsent.
    std::function<void()> OnDataEnd;
    // Which command's reply refused the last Send (None: no reply refused
    // it, or one of TLS or the login; Greeting: a 4xx to the greeting or
    // EHLO, the server's "not now"): tells a refusal of the sender from one
    // of a recipient, and a message the server refused after its data from
    // one whose reply never came.
    enum class TRefusedAt { None, Greeting, Mail, Recipient, Data, DataEnd };
    TRefusedAt RefusedAt() const { return refusedAt_; }

    // After EWireTokenRefused: asks the credential for a fresh token in
    // place of the refused one (one refresh for all the connections that
    // share it). False when it has nothing fresher; throws what the
    // credential throws (a refresh the provider refused).
    bool RenewSecret();

    virtual bool AuthSupported(TAuthenticationType type);
    virtual bool Authenticate();

protected:
    std::size_t ReceiveSome(char* into, std::size_t room) override;
    std::size_t SendSome(const char* data, std::size_t size) override;

private:
    struct TEnvelopeStep {
        std::string line;
        int expected;
        int indent;
        std::string status;
        TRefusedAt step;
    };
    void SendEnvelope(TWireMessage& message, const std::string& sender, bool& pipelined);
    void SendData(TWireMessage& message);
    void SendChunked(TWireMessage& message, const std::vector<TEnvelopeStep>& steps, bool& pipelined);
    void AwaitGreeting();
    void Hello();
    void StartTls();
    void Login();
    [[noreturn]] void RefuseLogin(const TLoginMechanism& mechanism, TSecretKind kind, const std::string& secret);
    void RequireSafeForPassword(TSecretKind kind = TSecretKind::Password);
    bool LogsInAtConnect() const { return AuthenticationType == TAuthenticationType::atAny && !UserID.empty(); }
    std::string DefaultClientName();
    std::string CheckOutgoing(TWireMessage& message, bool utf8Addresses);
    void CheckEnvelopeReply(int expected, int indent, const std::string& status, TRefusedAt step);

    std::unique_ptr<TTlsChannel> tls_;
    bool tlsActive_ = false;
    bool loggedIn_ = false;
    std::string tlsNote_;
    std::string plainNote_;
    std::string clientName_;
    std::string refusedSecret_; // the token the server refused, until RenewSecret
    TSendStage stage_ = TSendStage::Done;
    // The last transaction ended with the server's acceptance, which leaves
    // it ready for the next MAIL without an RSET (RFC 5321, 4.1.1.5).
    bool accepted_ = false;
    TRefusedAt refusedAt_ = TRefusedAt::None;
};

} // namespace og
