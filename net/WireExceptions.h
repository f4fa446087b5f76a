#pragma once
// The error family of the mail transport. Every failure of the network and
// message layers reaches the caller as one of these; the plain Exception is
// used for errors that are not about the connection ("TO not specified.").

#include <memory>
#include <stdexcept>
#include <string>

namespace og {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message)
        : std::runtime_error(message)
    {
    }
    std::string Message() const { return what(); }

    // Throws an exception of this object's own class (and error number, where
    // it has one) carrying a different message. Lets a wrapper add context to
    // an error without losing what kind of error it was.
    [[noreturn]] virtual void RaiseWithMessage(const std::string& message) const { throw Exception(message); }
};

#define OG_WIRE_EXCEPTION(Name, Parent)                                                                                \
    class Name : public Parent {                                                                                       \
    public:                                                                                                            \
        explicit Name(const std::string& message)                                                                      \
            : Parent(message)                                                                                          \
        {                                                                                                              \
        }                                                                                                              \
        [[noreturn]] void RaiseWithMessage(const std::string& message) const override { throw Name(message); }         \
    }

OG_WIRE_EXCEPTION(EWireException, Exception);
OG_WIRE_EXCEPTION(EWireResponseError, EWireException);
OG_WIRE_EXCEPTION(EWireClosedSocket, EWireException);
OG_WIRE_EXCEPTION(EWireInvalidSocket, EWireException);
OG_WIRE_EXCEPTION(EWireConnectRefused, EWireException);
OG_WIRE_EXCEPTION(EWireAlreadyConnected, EWireException);
OG_WIRE_EXCEPTION(EWireSilentException, EWireException);
OG_WIRE_EXCEPTION(EWireConnClosedGraceful, EWireSilentException);
// TLS could not be set up or the server's certificate was not trusted; the
// message names the host and the reason.
OG_WIRE_EXCEPTION(EWireTlsError, EWireException);
// The port speaks TLS from the first byte where the client began in plain
// text; the message says to choose TLS.
OG_WIRE_EXCEPTION(EWireTlsExpected, EWireTlsError);
// The server refused the login; the message is its reply.
OG_WIRE_EXCEPTION(EWireAuthError, EWireResponseError);
// The server refused an access token (535, or a challenge saying why, whose
// words follow its reply). The credential may have a fresh one:
// TWireSMTP::RenewSecret asks for it before a new connection tries again.
OG_WIRE_EXCEPTION(EWireTokenRefused, EWireAuthError);
// The server refused one recipient (a 4xx or 5xx reply to RCPT, 421 aside,
// which closes the service for everyone); the message is its reply. Other
// recipients may still be served.
OG_WIRE_EXCEPTION(EWireRecipientRefused, EWireResponseError);
// A recipient's address that no server of this run could take (a control
// character, or characters other than ASCII where the server offers no
// SMTPUTF8): that recipient's matter alone, nothing of the message went.
OG_WIRE_EXCEPTION(EWireAddressRefused, EWireException);

#undef OG_WIRE_EXCEPTION

// A failed socket call. The message is WSErrorText(ErrorCode): "Socket Error #"
// and the number, CR LF, then the text of that Windows Sockets error number.
class EWireSocketError : public EWireException {
public:
    explicit EWireSocketError(int errorCode);
    explicit EWireSocketError(const std::string& message)
        : EWireException(message),
          errorCode_(0)
    {
    }
    EWireSocketError(int errorCode, const std::string& message)
        : EWireException(message),
          errorCode_(errorCode)
    {
    }
    int ErrorCode() const { return errorCode_; }
    [[noreturn]] void RaiseWithMessage(const std::string& message) const override
    {
        throw EWireSocketError(errorCode_, message);
    }

private:
    int errorCode_;
};

} // namespace og
