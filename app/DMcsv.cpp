#include "app/DMcsv.h"

#include "mailer/message/MessageBuilder.h"
#include "mailer/send/Connections.h"

namespace og {

TDM::TDM(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    configureMessage(Msg);
    configureClient(SMTP);
}

} // namespace og
