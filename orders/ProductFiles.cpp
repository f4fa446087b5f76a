#include "orders/ProductFiles.h"

#include <QByteArray>

namespace og {

QString productFileName(const QString& prefix, const QString& product, const QString& suffix)
{
    // A name has at most 255 bytes; the longest prefix and suffix and the
    // replacing file's temporary (seven) stay under it.
    constexpr qsizetype kMaxProductBytes = 200;
    QString safe = product;
    for (QChar& c : safe) {
        if (c == u'/' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'_';
    }
    if (safe.toUtf8().size() > kMaxProductBytes) {
        QByteArray bytes = safe.toUtf8().first(kMaxProductBytes);
        while (!bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) & 0xc0) == 0x80)
            bytes.chop(1); // a continuation byte: the character is cut
        if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) >= 0xc0)
            bytes.chop(1); // its lead byte
        safe = QString::fromUtf8(bytes);
    }
    return prefix + safe + suffix;
}

} // namespace og
