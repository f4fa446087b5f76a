#include "Platform.h"

namespace og {

QString Platform::standardErrorText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

} // namespace og
