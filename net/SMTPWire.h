#pragma once
// Delivers one mail message to an SMTP server over a connection of its own:
// greeting, EHLO (HELO as fallback), optional LOGIN authentication, the
// recipients, the data and "Quit".

#include <string>
#include <vector>

#include "mail/WireMessage.h"
#include "net/SmtpCapabilities.h"

namespace og {

class TWireSMTP : public TWireMessageClient {
public:
    enum class TAuthenticationType { atNone = 0, atLogin = 1 };

    TWireSMTP();
    ~TWireSMTP() override;

    TAuthenticationType AuthenticationType = TAuthenticationType::atNone;
    // What the server offered in its last EHLO reply; empty after HELO.
    TSmtpCapabilities Capabilities;
    // UserID and Password live in TWireClient.

    // Connects, reads the 220 greeting and says EHLO (HELO when EHLO is not
    // answered with 250).
    void Connect() override;
    // Says "Quit" (no reply is read) while the connection stands, then closes.
    void Disconnect() override;
    // The whole transaction for one message. Opens and closes its own
    // connection unless one was already open.
    void Send(TWireMessage& message) override;

    virtual bool AuthSupported(TAuthenticationType type);
    virtual bool Authenticate();
};

} // namespace og
