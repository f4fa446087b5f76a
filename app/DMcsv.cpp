#include "app/DMcsv.h"

#include "mailer/SendRun.h"

namespace og {

TDM::TDM(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    configureTransport(Msg, SMTP);
}

} // namespace og
