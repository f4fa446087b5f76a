#pragma once

#include "mail/WireMessage.h"
#include "smtp/SMTPWire.h"

#include <QObject>

namespace og {

// The data module: the non-visual objects the windows share. It holds the
// mail transport's message object and SMTP client, set up as every message
// and client of a send run is; a run makes its own of both (one client per
// connection, one message per customer), so nothing here is handed to it.
class TDM : public QObject {
    Q_OBJECT
public:
    explicit TDM(QObject* parent = nullptr);

    TWireMessage Msg;
    TWireSMTP SMTP;
};

} // namespace og
