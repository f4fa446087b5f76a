#pragma once

#include "mail/WireMessage.h"
#include "net/SMTPWire.h"

#include <QObject>

namespace og {

// The data module: the non-visual objects the windows share. The mail
// transport's message and SMTP client are added here and handed to the
// mailer window at start-up (see Ordergate::connectMailer).
class TDM : public QObject {
    Q_OBJECT
public:
    explicit TDM(QObject* parent = nullptr);

    // The notification message and the SMTP client the mailer sends it with.
    TWireMessage Msg;
    TWireSMTP SMTP;
};

} // namespace og
