#include "mailer/message/AttachmentType.h"

#include <QFile>
#include <QMimeDatabase>
#include <QStringDecoder>

namespace og {

namespace {

const char* const UnknownType = "application/octet-stream";

bool isUtf8File(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    // Stateless: a file that ends inside a character counts as an error too.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(content); // the conversion runs here
    return !decoder.hasError();
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
