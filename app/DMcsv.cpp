#include "app/DMcsv.h"

namespace og {

TDM::TDM(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
}

} // namespace og
