#include "net/SMTPWire.h"

#include <algorithm>
#include <exception>

#include "mail/EncodeWire.h"
#include "mail/MailText.h"

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
    TWireClient::Connect();
    try {
        GetResponse();
        if (ReplyCode != 220)
            throw EWireConnectRefused(LastReply);
        Capabilities.Clear();
        const std::string hostName = LocalHostName();
        Command("ehlo " + hostName, -1, 0, "Connected");
        if (ReplyCode == 250) {
            Capabilities = TSmtpCapabilities::Parse(ReplyLines);
        } else {
            Command("Helo " + hostName, 250, 0, "Connected");
        }
    } catch (...) {
        // The failure of the greeting or EHLO is what the caller needs.
        DisconnectQuietly();
        throw;
    }
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
    TWireClient::Disconnect();
    if (farewellError)
        std::rethrow_exception(farewellError);
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
    Command("auth LOGIN", 334, 0, "Authenticating");
    Command(TWireEncoder::EncodeString(std::string_view(UserID).substr(0, 255)), 334, 0, "");
    Command(TWireEncoder::EncodeString(std::string_view(Password).substr(0, 255)), 235, 0, "");
    return true;
}

void TWireSMTP::Send(TWireMessage& message)
{
    // Refused before anything is changed or sent.
    message.CheckHeaderValues();
    const std::string sender = RequireAddress(message.From(), "From");
    if (message.Too.empty())
        throw Exception("TO not specified.");
    if (TrimControl(message.Subject()).empty())
        message.SetSubject("None");
    DoStatus("  Sending Message: " + message.Subject());

    const bool wasConnected = Connected();
    try {
        if (!wasConnected)
            Connect();
        Command("Rset", 250, 2, "Successful Reset");
        std::string senderLine = "Mail from:<" + sender + ">";
        if (AuthenticationType != TAuthenticationType::atNone && AuthSupported(AuthenticationType)) {
            Authenticate();
            senderLine += " AUTH=<" + sender + ">";
        }
        Command(senderLine, 250, 0, "");
        for (const auto* list : {&message.BCCList, &message.CCList, &message.Too})
            for (const auto& entry : *list)
                Command("RCPT to:<" + CompleteAddress(ExtractAddress(entry), message) + ">", 250, 2, "To: " + entry);
        Command("Data", 354, 2, "SMTP is ready for message");

        message.PrepareHeaders();
        message.Headers.SetValue("Newsgroups", JoinAddresses(message.Newsgroups));
        message.Headers.SetValue("To", JoinAddresses(message.Too));
        message.Headers.SetValue("Cc", JoinAddresses(message.CCList));
        message.Headers.SetValue("X-Library", std::string("Wire ") + Version());
        message.Headers.SetValue("X-Mailer", XProgram);
        // XProgram and everything set above are ours to check too.
        message.CheckHeaderValues();
        WriteHeaders(message.Headers.Lines());
        TWireMessageClient::Send(message);

        DoStatus("    Waiting for acceptance");
        Command(".", 250, 2, "Message accepted");
    } catch (...) {
        // The error that ended the transaction is the caller's news.
        if (!wasConnected)
            DisconnectQuietly();
        throw;
    }
    // The server has accepted the message; a farewell that fails (the server
    // closed first) is no failure of the send.
    if (!wasConnected)
        DisconnectQuietly();
}

} // namespace og
