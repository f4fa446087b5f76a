#include "mailer/MessageBody.h"

#include "common/TextFiles.h"
#include "mailer/MailerSettings.h"
#include "mailer/SendFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace og {

MessageBody::MessageBody(const QStringList& lines, bool endsWithBreak)
    : lines_(lines),
      wraps_(lines.size(), false),
      endsWithBreak_(endsWithBreak)
{
}

void MessageBody::addLine(const QString& line, bool wraps)
{
    lines_ << line;
    wraps_ << wraps;
}

void MessageBody::append(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    if (!wraps_.isEmpty())
        wraps_.last() = false;
    lines_ += lines;
    wraps_.resize(lines_.size(), false);
    endsWithBreak_ = false;
}

QString MessageBody::typedText() const
{
    QString text;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        text += lines_[i];
        if (i + 1 < lines_.size() && !wraps_[i])
            text += u'\n';
    }
    if (endsWithBreak_)
        text += u'\n';
    return text;
}

QStringList splitTextLines(const QString& text)
{
    if (text.isEmpty())
        return {};
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalised.replace(u'\r', u'\n');
    QStringList lines = normalised.split(u'\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString appendTextLines(const QString& text, const QStringList& lines)
{
    if (lines.isEmpty())
        return text;
    QString result = text;
    if (!result.isEmpty() && !result.endsWith(u'\n'))
        result += u'\n';
    result += lines.join(u'\n');
    return result;
}

QStringList readTextFileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SendFailure(QStringLiteral("Unable to read ") + QDir::toNativeSeparators(path));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SendFailure(QStringLiteral("Unable to read ") + QDir::toNativeSeparators(path));
    return splitTextLines(decodeText(content));
}

QStringList readSignature(const MailerSettings& settings)
{
    if (settings.useSignature && QFileInfo(settings.signatureFile).isFile())
        return readTextFileLines(settings.signatureFile);
    return {};
}

} // namespace og
