#include "mailer/message/AttachmentType.h"

#include <QFile>
#include <QMimeDatabase>
#include <QStringDecoder>

#include <algorithm>

namespace og {

namespace {

const char* const UnknownType = "application/octet-stream";

// Where the last whole character of bytes ends: a character cut by the end
// of a read waits for the next one.
qsizetype wholeCharacters(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(4, bytes.size()); ++back) {
        const auto c = uchar(bytes[bytes.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue; // inside a character
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// Read a piece at a time: an attachment may be far larger than memory
// should hold twice.
bool isUtf8File(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kPiece = 1 << 20;
    QByteArray piece;
    for (;;) {
        const QByteArray more = file.read(kPiece);
        if (file.error() != QFileDevice::NoError)
            return false;
        piece += more;
        const bool end = more.isEmpty();
        const qsizetype whole = end ? piece.size() : wholeCharacters(piece);
        // Stateless: a file that ends inside a character counts as an error too.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(piece).first(whole)); // the conversion runs here
        if (decoder.hasError())
            return false;
        if (end)
            return true;
        piece.remove(0, whole);
    }
}

} // namespace

std::string attachmentType(const QString& path)
{
    const QMimeDatabase database;
    QMimeType type = database.mimeTypeForFile(path);
    // The database's name for an empty file of no known extension is a
    // desktop-internal one that no mail program knows.
    if (type.name() == QLatin1String("application/x-zerosize"))
        type = database.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return UnknownType;
    if (type.inherits(QStringLiteral("text/plain")))
        return isUtf8File(path) ? type.name().toStdString() + "; charset=utf-8" : UnknownType;
    return type.name().toStdString();
}

} // namespace og
