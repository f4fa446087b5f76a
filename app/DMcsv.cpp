#include "app/DMcsv.h"

#include "mailer/send/Connections.h"
#include "mailer/message/MessageBuilder.h"

namespace og {

TDM::TDM(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    configureMessage(Msg);
    configureClient(SMTP);
}

} // namespace og
