#include "mailer/MessageDraft.h"

#include "common/ReplacingFile.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace og {

namespace {

const QString SubjectKey = QStringLiteral("Subject: ");
const QString FormatKey = QStringLiteral("Format: ");
const QString AttachmentKey = QStringLiteral("Attachment: ");

QString oneLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

QString MessageDraft::pathBeside(const QString& settingsPath)
{
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("draft.txt"));
}

QByteArray MessageDraft::toText() const
{
    QString text = SubjectKey + oneLine(subject) + u'\n' + FormatKey + messageFormatWord(format) + u'\n';
    for (const QString& attachment : attachments)
        text += AttachmentKey + oneLine(attachment) + u'\n';
    text += u'\n';
    text += body;
    return text.toUtf8();
}

MessageDraft MessageDraft::fromText(QByteArrayView bytes)
{
    MessageDraft draft;
    const QString text = decodeText(bytes);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).mid(start, end - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        start = end + 1;
        if (line.isEmpty()) {
            draft.body = start < text.size() ? text.mid(start) : QString();
            break;
        }
        if (line.startsWith(SubjectKey))
            draft.subject = line.mid(SubjectKey.size()).toString();
        else if (line.startsWith(FormatKey))
            parseMessageFormat(line.mid(FormatKey.size()).toString(), &draft.format);
        else if (line.startsWith(AttachmentKey) && line.size() > AttachmentKey.size())
            draft.attachments << line.mid(AttachmentKey.size()).toString();
    }
    draft.body.remove(u'\r');
    return draft;
}

MessageDraft MessageDraft::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return fromText(file.readAll());
}

bool MessageDraft::save(const QString& path, QString* error) const
{
    ReplacingFile file(path);
    const QByteArray text = toText();
    if (!file.open() || file.device().write(text) != text.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void MessageDraft::remove(const QString& path)
{
    QFile::remove(path);
}

} // namespace og
