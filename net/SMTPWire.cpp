#include "net/SMTPWire.h"

#include <algorithm>
#include <exception>

#include "mail/EncodeWire.h"
#include "mail/MailText.h"

namespace og {

namespace {

std::string UpperCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

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
    if (Connected()) {
        try {
            TWireSMTP::Disconnect();
        } catch (...) {
        }
    }
}

void TWireSMTP::Connect()
{
    TWireClient::Connect();
    try {
        GetResponse();
        if (ReplyCode != 220)
            throw EWireConnectRefused(LastReply);
        AuthMechanisms.clear();
        const std::string hostName = LocalHostName();
        Command("ehlo " + hostName, -1, 0, "Connected");
        if (ReplyCode == 250) {
            // "250-AUTH LOGIN PLAIN" and "250-AUTH=LOGIN" name mechanisms;
            // the first line is the server's greeting to us.
            for (std::size_t i = 1; i < ReplyLines.size(); ++i) {
                const std::string line = UpperCase(ReplyLines[i]);
                if (line.size() < 9 || line.compare(4, 4, "AUTH") != 0 || (line[8] != ' ' && line[8] != '='))
                    continue;
                std::size_t at = 9;
                while (at < line.size()) {
                    std::size_t blank = line.find(' ', at);
                    std::string word = line.substr(at, blank == std::string::npos ? std::string::npos : blank - at);
                    if (!word.empty() &&
                        std::find(AuthMechanisms.begin(), AuthMechanisms.end(), word) == AuthMechanisms.end())
                        AuthMechanisms.push_back(word);
                    if (blank == std::string::npos)
                        break;
                    at = blank + 1;
                }
            }
        } else {
            Command("Helo " + hostName, 250, 0, "Connected");
        }
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The failure of the greeting or EHLO is what the caller needs.
        }
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
    return std::find(AuthMechanisms.begin(), AuthMechanisms.end(), "LOGIN") != AuthMechanisms.end();
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

        message.PrepareToSend(XProgram);
        WriteMessage(message);

        DoStatus("    Waiting for acceptance");
        Command(".", 250, 2, "Message accepted");
    } catch (...) {
        if (!wasConnected) {
            try {
                Disconnect();
            } catch (...) {
                // The error that ended the transaction is the caller's news.
            }
        }
        throw;
    }
    if (!wasConnected) {
        try {
            Disconnect();
        } catch (...) {
            // The server has accepted the message; a farewell that fails
            // (the server closed first) is no failure of the send.
        }
    }
}

} // namespace og
