#include "app/DMcsv.h"

#include "mailer/Connections.h"
#include "mailer/MessageBuilder.h"

namespace og {

TDM::TDM(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    configureMessage(Msg);
    configureClient(SMTP);
}

} // namespace og
