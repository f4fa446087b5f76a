#include "smtp/SMTPWire.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include <arpa/inet.h>

#include "mail/EncodeWire.h"
#include "mail/MailText.h"
#include "mail/MimeText.h"

namespace og {

namespace {

// An address without a domain gets the message's default domain, when it
// has one; otherwise it goes out as it is (a local mailbox of the server).
std::string CompleteAddress(const std::string& address, const TWireMessage& message)
{
    if (address.find('@') != std::string::npos || message.DefaultDomain.empty())
        return address;
    return address + "@" + message.DefaultDomain;
}

const char* kHidden = "****";

// Whether the envelope needs SMTPUTF8 (RFC 6531) to carry the message.
bool HoldsNonAsciiAddress(const TWireMessage& message)
{
    bool found = !IsAscii(ExtractAddress(message.From())) || !IsAscii(ExtractAddress(message.ReplyTo()));
    for (const auto* list : {&message.BCCList, &message.CCList, &message.Too})
        for (const auto& entry : *list)
            found = found || !IsAscii(ExtractAddress(entry));
    return found;
}

// The credential as one login sees it: what it handed out is kept, so that
// the token a server refused can be named to the credential, and nowhere
// else.
class TRecordingCredential : public TSmtpCredential {
public:
    explicit TRecordingCredential(TSmtpCredential& inner)
        : inner_(inner)
    {
    }
    TSecretKind Kind() const override { return inner_.Kind(); }
    std::string Secret() override { return given_ = inner_.Secret(); }
    const std::string& Given() const { return given_; }

private:
    TSmtpCredential& inner_;
    std::string given_;
};

} // namespace

TWireSMTP::TWireSMTP()
{
    Port = 25;
}

TWireSMTP::~TWireSMTP()
{
    // The base destructor can no longer reach this class's farewell.
    if (Connected())
        DisconnectQuietly();
}

void TWireSMTP::Connect()
{
    tls_.reset();
    tlsActive_ = false;
    loggedIn_ = false;
    accepted_ = false;
    tlsNote_.clear();
    plainNote_.clear();
    Capabilities.Clear();
    ReplyCode = 0; // no reply of an earlier connection stands for this one
    LastReply.clear();
    bool hello = true; // the greeting and EHLO
    TWireClient::Connect();
    try {
        if (Security == TSecurity::Tls || (Security == TSecurity::Automatic && Port == DefaultPort(TSecurity::Tls)))
            StartTls();
        else
            AwaitGreeting();
        GetResponse();
        if (ReplyCode != 220)
            throw EWireConnectRefused(LastReply);
        clientName_ = HeloName.empty() ? DefaultClientName() : HeloName;
        Hello();
        if (!tlsActive_ && Security != TSecurity::None) {
            if (Capabilities.Has("STARTTLS")) {
                Command("STARTTLS", 220, 0, "");
                StartTls();
                // What was offered in plain text may have been forged.
                Hello();
            } else if (Security == TSecurity::StartTls) {
                throw EWireTlsError(
                    Host + " does not offer STARTTLS, which the security setting requires; nothing was sent.");
            } else {
                // Automatic asked for encryption where offered: going without must be said.
                plainNote_ = "Sent without encryption: " + Host + " offers no STARTTLS.";
                LogLine("-- " + plainNote_);
                DoStatus(plainNote_);
            }
        }
        hello = false;
        if (LogsInAtConnect())
            Login();
    } catch (...) {
        // The failure of the greeting, TLS, EHLO or login is what the caller needs.
        if (hello && ReplyCode >= 400 && ReplyCode < 500)
            refusedAt_ = TRefusedAt::Greeting;
        DisconnectQuietly();
        throw;
    }
}

void TWireSMTP::AwaitGreeting()
{
    // A port that speaks TLS from the first byte waits for the client's
    // hello and says nothing, or sends an alert record; either would
    // otherwise end only after the whole time-out, as a riddle.
    const std::string where = Host + ":" + std::to_string(Port);
    const std::string hint = ": this port expects TLS from the start: choose Security TLS.";
    const bool tlsPort = Port == DefaultPort(TSecurity::Tls);
    struct DeadlineScope {
        std::optional<std::chrono::steady_clock::time_point>& slot;
        ~DeadlineScope() { slot.reset(); }
    } scope {deadline_};
    if (tlsPort && (Timeout <= 0 || Timeout > kTlsPortGreetingWait))
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(kTlsPortGreetingWait);
    try {
        FillBuffer();
    } catch (const EWireSocketError& error) {
        if (tlsPort && error.ErrorCode() == WSAETIMEDOUT)
            throw EWireTlsExpected(
                where + " sent no greeting within " + std::to_string(kTlsPortGreetingWait) + " seconds" + hint);
        throw;
    } catch (const EWireConnClosedGraceful&) {
        if (tlsPort)
            throw EWireTlsExpected(where + " closed the connection without a greeting" + hint);
        throw;
    }
    // A record's content type (alert 21, handshake 22) and major version 3
    // never begin a reply, whose first byte is a digit.
    const std::string_view first = Held();
    const auto type = static_cast<unsigned char>(first[0]);
    if ((type == 0x15 || type == 0x16) && (first.size() < 2 || first[1] == 0x03)) {
        LinkUp = false; // no farewell in plain text into a TLS conversation
        throw EWireTlsExpected(where + " answered with TLS instead of a greeting" + hint);
    }
}

void TWireSMTP::Hello()
{
    Capabilities.Clear();
    Command("ehlo " + clientName_, -1, 0, "Connected");
    if (ReplyCode == 250)
        Capabilities = TSmtpCapabilities::Parse(ReplyLines);
    else if (ReplyCode == 421) // closing: HELO would only meet the closed connection
        throw EWireResponseError(LastReply);
    else
        Command("Helo " + clientName_, 250, 0, "Connected");
}

std::string TWireSMTP::DefaultClientName()
{
    const std::string name = LocalHostName();
    if (hostent* entry = GWinsock().WSGetHostByName(name.c_str()); entry && entry->h_name) {
        const std::string full = entry->h_name;
        if (full.find('.') != std::string::npos && full.back() != '.')
            return full;
    }
    // An address literal as RFC 5321 writes it: "[192.0.2.10]", "[IPv6:2001:db8::1]".
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    char text[INET6_ADDRSTRLEN] = {};
    if (GWinsock().WSGetSockName(SocketHandle, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return name;
    if (local.ss_family == AF_INET &&
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(local).sin_addr, text, sizeof text))
        return "[" + std::string(text) + "]";
    if (local.ss_family == AF_INET6 &&
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(local).sin6_addr, text, sizeof text))
        return "[IPv6:" + std::string(text) + "]";
    return name;
}

void TWireSMTP::StartTls()
{
    if (!TlsContext || !(TlsContext->Trust() == Trust))
        TlsContext = std::make_shared<TTlsContext>(Trust);
    tls_ = std::make_unique<TTlsChannel>(
        TlsContext, Host, Port,
        [this](char* into, std::size_t room) { return TWireMessageClient::ReceiveSome(into, room); },
        [this](const char* data, std::size_t size) { return TWireMessageClient::SendSome(data, size); });
    DoStatus("Starting TLS");
    try {
        // Bytes held now came in plain text after the server agreed to TLS
        // (the greeting is read only after an implicit start): taken as
        // replies, they would stand for what the server says inside TLS.
        tls_->Handshake(BufferPos() > 1);
    } catch (...) {
        LinkUp = false; // no farewell in plain text into a TLS conversation
        throw;
    }
    tlsActive_ = true;
    const std::string how = "Encrypted with " + tls_->Protocol() + (tls_->Resumed() ? " (resumed)" : "");
    if (!tls_->Checked()) {
        tlsNote_ = how + "; the certificate of " + Host + " is NOT checked, as set.";
    } else if (!tls_->Problem().empty()) {
        if (Security != TSecurity::Automatic || LogsInAtConnect())
            throw EWireTlsError("The certificate of " + Host + " is not trusted: " + tls_->Problem() + ".");
        tlsNote_ = how + "; the certificate of " + Host + " could not be checked (" + tls_->Problem() +
            "), so no password could be sent.";
    } else {
        tlsNote_ = how + "; the certificate of " + Host + " is trusted.";
    }
    LogLine("-- " + tlsNote_);
    DoStatus(tlsNote_);
}

void TWireSMTP::RequireSafeForPassword(TSecretKind kind)
{
    if (tlsActive_ || (Security == TSecurity::None && AllowPlainPassword))
        return;
    throw EWireTlsError(std::string(kind == TSecretKind::Token ? "The access token" : "The password") +
        " is not sent to " + Host + " over an unencrypted connection" +
        (Security == TSecurity::None ? " unless plain-text passwords are allowed for this server."
                                     : ": the server did not offer STARTTLS."));
}

void TWireSMTP::Login()
{
    TFetchedCredential typed([this] { return Password; });
    TRecordingCredential credential(Credential ? *Credential : typed);
    RequireSafeForPassword(credential.Kind());
    refusedSecret_.clear();
    DoStatus("Authenticating");
    const std::unique_ptr<TLoginMechanism> mechanism =
        ChooseLoginMechanism(Capabilities, {UserID, Host, Port}, credential, PreferredLogin);
    if (!mechanism)
        throw EWireAuthError(
            Host + " offers no login this program can use (" + KnownLoginMechanisms(credential.Kind()) + ").");
    // The secret goes out only as Base64 and never into the traffic log.
    const std::string auth = std::string("AUTH ") + mechanism->Name();
    if (const std::optional<std::string> first = mechanism->FirstResponse())
        SendCommand(auth + " " + TWireEncoder::EncodeBytes(*first), auth + " " + kHidden);
    else
        SendCommand(auth, auth);
    for (;;) {
        AwaitReply(-1, 0, "");
        if (ReplyCode == 235 && mechanism->Done())
            break;
        std::optional<std::string> answer;
        if (ReplyCode == 334)
            answer = mechanism->Answer(TWireDecoder::DecodeString(LastReply.size() > 4 ? LastReply.substr(4) : ""));
        if (!answer)
            RefuseLogin(*mechanism, credential.Kind(), credential.Given());
        SendCommand(TWireEncoder::EncodeBytes(*answer), kHidden);
    }
    loggedIn_ = true;
}

void TWireSMTP::RefuseLogin(const TLoginMechanism& mechanism, TSecretKind kind, const std::string& secret)
{
    const std::string why = mechanism.Refusal();
    const std::string text = why.empty() ? LastReply : LastReply + " (" + why + ")";
    // 535 is RFC 4954's "credentials invalid"; other replies (a temporary
    // failure, a mechanism the server will not take) no fresh token mends.
    if (kind == TSecretKind::Token && (ReplyCode == 535 || !why.empty())) {
        refusedSecret_ = secret;
        throw EWireTokenRefused(text);
    }
    throw EWireAuthError(text);
}

bool TWireSMTP::RenewSecret()
{
    if (!Credential || refusedSecret_.empty())
        return false;
    return Credential->Renew(std::exchange(refusedSecret_, std::string()));
}

void TWireSMTP::Disconnect()
{
    std::exception_ptr farewellError;
    // No farewell on a connection that never stood or is known to be gone:
    // it could only fail and hide the error that ended the dialogue.
    if (Connected() && LinkUp) {
        try {
            WriteLn("Quit");
            Flush();
        } catch (...) {
            farewellError = std::current_exception();
        }
    }
    // The session is kept for the next connection; the TLS object itself
    // lives until then, as this may run inside one of its calls.
    if (tlsActive_ && Connected() && LinkUp)
        tls_->Close();
    tlsActive_ = false;
    TWireClient::Disconnect();
    if (farewellError)
        std::rethrow_exception(farewellError);
}

std::size_t TWireSMTP::ReceiveSome(char* into, std::size_t room)
{
    return tlsActive_ ? tls_->Receive(into, room) : TWireMessageClient::ReceiveSome(into, room);
}

std::size_t TWireSMTP::SendSome(const char* data, std::size_t size)
{
    return tlsActive_ ? tls_->Send(data, size) : TWireMessageClient::SendSome(data, size);
}

bool TWireSMTP::AuthSupported(TAuthenticationType type)
{
    if (type != TAuthenticationType::atLogin)
        return false;
    return Capabilities.HasAuthMechanism("LOGIN");
}

bool TWireSMTP::Authenticate()
{
    if (AuthenticationType != TAuthenticationType::atLogin)
        return false;
    RequireSafeForPassword();
    Command("auth LOGIN", 334, 0, "Authenticating");
    SendCommand(TWireEncoder::EncodeString(std::string_view(UserID).substr(0, 255)), kHidden);
    AwaitReply(334, 0, "");
    SendCommand(TWireEncoder::EncodeString(std::string_view(Password).substr(0, 255)), kHidden);
    AwaitReply(235, 0, "");
    return true;
}

void TWireSMTP::CheckEnvelopeReply(int expected, int indent, const std::string& status, TRefusedAt step)
{
    AwaitReply(-1, indent, "");
    const bool recipient = step == TRefusedAt::Recipient;
    if (ReplyCode == expected) {
        if (!status.empty())
            DoStatus(std::string(std::size_t(std::max(indent, 0)) * 2, ' ') + status);
        return;
    }
    // A refused recipient is that recipient's matter; 421 closes the service.
    if (ReplyCode >= 400 && ReplyCode < 600 && ReplyCode != 421)
        refusedAt_ = step;
    if (recipient && ReplyCode >= 400 && ReplyCode < 600 && ReplyCode != 421)
        throw EWireRecipientRefused(LastReply);
    throw EWireResponseError(LastReply);
}

std::string TWireSMTP::CheckOutgoing(TWireMessage& message, bool utf8Addresses)
{
    // Refused before anything is changed or sent.
    message.Utf8Addresses = utf8Addresses;
    message.CheckHeaderValues();
    std::string sender = RequireAddress(message.From(), "From");
    if (message.Too.empty())
        throw Exception("TO not specified.");
    if (TrimControl(message.Subject()).empty())
        message.SetSubject("None");
    return sender;
}

void TWireSMTP::PrepareAsSent(TWireMessage& message)
{
    CheckOutgoing(message, false);
    message.PrepareToSend(XProgram);
}

void TWireSMTP::WriteAsSent(TWireMessage& message, TLineSink& sink)
{
    PrepareAsSent(message);
    message.WriteTo(sink);
}

// MAIL, RCPT and DATA (RSET first on a kept connection unless its last
// message was accepted; the older login between them), pipelined where the
// server offers it; pipelined says so as soon as the lines may have left.
// With CHUNKING the message goes in the same flight and is accepted here.
void TWireSMTP::SendEnvelope(TWireMessage& message, const std::string& sender, bool& pipelined)
{
    stage_ = TSendStage::Envelope;
    std::vector<TEnvelopeStep> steps;
    if (!accepted_)
        steps.push_back({"Rset", 250, 2, "Successful Reset", TRefusedAt::None});
    accepted_ = false;
    std::string senderLine = "Mail from:<" + sender + ">";
    if (message.Utf8Addresses)
        senderLine += " SMTPUTF8";
    const bool olderLogin = AuthenticationType == TAuthenticationType::atLogin && AuthSupported(AuthenticationType);
    if (olderLogin) {
        Command("Rset", 250, 2, "Successful Reset");
        steps.clear();
        Authenticate();
        senderLine += " AUTH=<" + sender + ">";
    }
    steps.push_back({senderLine, 250, 0, "", TRefusedAt::Mail});
    for (const auto* list : {&message.BCCList, &message.CCList, &message.Too})
        for (const auto& entry : *list)
            steps.push_back({"RCPT to:<" + CompleteAddress(ExtractAddress(entry), message) + ">", 250, 2,
                "To: " + entry, TRefusedAt::Recipient});
    pipelined = UsePipelining && !olderLogin && Capabilities.Has("PIPELINING");
    if (pipelined && UseChunking && Capabilities.Has("CHUNKING")) {
        SendChunked(message, steps, pipelined);
        return;
    }
    steps.push_back({"Data", 354, 2, "SMTP is ready for message", TRefusedAt::Data});
    if (pipelined) {
        // The same lines leave in one write; the replies come back in
        // order and each is checked as in lockstep.
        for (const TEnvelopeStep& step : steps)
            SendCommand(step.line, step.line);
        for (const TEnvelopeStep& step : steps)
            CheckEnvelopeReply(step.expected, step.indent, step.status, step.step);
    } else {
        for (const TEnvelopeStep& step : steps) {
            SendCommand(step.line, step.line);
            CheckEnvelopeReply(step.expected, step.indent, step.status, step.step);
        }
    }
    SendData(message);
}

// The envelope and the message in BDAT chunks, then every reply in order.
// All of them are read before the first refusal is raised, so a refused
// recipient leaves the connection in step for the next message.
void TWireSMTP::SendChunked(TWireMessage& message, const std::vector<TEnvelopeStep>& steps, bool& pipelined)
{
    for (const TEnvelopeStep& step : steps)
        SendCommand(step.line, step.line);
    stage_ = TSendStage::Data;
    message.PrepareToSend(XProgram);
    TChunkLineSink sink(*this, kChunkBytes, OnDataEnd);
    message.WriteTo(sink);
    sink.Finish();
    FlushBeforeRead();
    stage_ = TSendStage::Acceptance;
    DoStatus("    Waiting for acceptance");
    std::exception_ptr refusal;
    int refusalCode = 0;
    std::string refusalReply;
    TRefusedAt refusedAt = TRefusedAt::None;
    bool allRead = false;
    const auto keepFirst = [&](std::exception_ptr error) {
        if (!refusal) {
            refusal = std::move(error);
            refusalCode = ReplyCode;
            refusalReply = LastReply;
            refusedAt = refusedAt_;
        }
    };
    try {
        for (const TEnvelopeStep& step : steps) {
            try {
                CheckEnvelopeReply(step.expected, step.indent, step.status, step.step);
            } catch (const EWireResponseError&) {
                keepFirst(std::current_exception());
            }
        }
        for (int chunk = 0; chunk < sink.Chunks(); ++chunk) {
            AwaitReply(-1, 2, "");
            if (ReplyCode != 250) {
                if (ReplyCode >= 400 && ReplyCode < 600 && ReplyCode != 421)
                    refusedAt_ = TRefusedAt::DataEnd;
                keepFirst(std::make_exception_ptr(EWireResponseError(LastReply)));
            }
        }
        allRead = true;
    } catch (...) {
        // The connection failed while replies were owed: a refusal read
        // before it is still the news.
        if (!refusal)
            throw;
    }
    if (refusal) {
        ReplyCode = refusalCode;
        LastReply = refusalReply;
        refusedAt_ = refusedAt;
        pipelined = !allRead || refusalCode == 421; // in step only when every reply was read
        std::rethrow_exception(refusal);
    }
    DoStatus("    Message accepted");
    stage_ = TSendStage::Done;
    accepted_ = true;
}

// The message, the final "." and the server's acceptance.
void TWireSMTP::SendData(TWireMessage& message)
{
    stage_ = TSendStage::Data;
    message.PrepareToSend(XProgram);
    WriteMessage(message);

    // Once the final "." has left whole, the server may deliver the
    // message even if its answer never arrives.
    if (OnDataEnd)
        OnDataEnd();
    SendCommand(".", ".");
    FlushBeforeRead(); // as the read would: the last segment of a large body goes at once
    stage_ = TSendStage::Acceptance;
    DoStatus("    Waiting for acceptance");
    // A refusal now is definite: the server will not deliver it.
    AwaitReply(-1, 2, "");
    if (ReplyCode >= 400 && ReplyCode < 600)
        refusedAt_ = TRefusedAt::DataEnd;
    if (ReplyCode != 250)
        throw EWireResponseError(LastReply);
    DoStatus("    Message accepted");
    stage_ = TSendStage::Done;
    accepted_ = true;
}

void TWireSMTP::Send(TWireMessage& message)
{
    // A message refused before it is sent leaves no stage of an earlier one.
    stage_ = TSendStage::Connect;
    refusedAt_ = TRefusedAt::None;
    // What only a server with SMTPUTF8 takes waits for its EHLO reply.
    const std::string sender = CheckOutgoing(message, true);
    DoStatus("  Sending Message: " + message.Subject());

    const bool wasConnected = Connected();
    bool pipelined = false;
    bool addressRefused = false;
    try {
        if (!wasConnected)
            Connect();
        try {
            message.Utf8Addresses = Capabilities.Has("SMTPUTF8") && HoldsNonAsciiAddress(message);
            message.CheckHeaderValues();
        } catch (const EWireAddressRefused&) {
            addressRefused = true; // nothing went: the connection is still in step
            throw;
        }
        SendEnvelope(message, sender, pipelined);
    } catch (...) {
        accepted_ = false;
        // The error that ended the transaction is the caller's news. A
        // pipelined envelope that failed leaves replies unread: that
        // connection is out of step and cannot serve another message.
        // A kept connection stays only in step: a reply refused the message
        // and none is left unread; after anything else it cannot be trusted.
        const bool inStep =
            KeepConnection && ((refusedAt_ != TRefusedAt::None && !pipelined && ReplyCode != 421) || addressRefused);
        if (!inStep && (!wasConnected || pipelined || KeepConnection))
            DisconnectQuietly();
        throw;
    }
    // The server has accepted the message; a farewell that fails (the server
    // closed first) is no failure of the send.
    if (!wasConnected && !KeepConnection)
        DisconnectQuietly();
}

} // namespace og
