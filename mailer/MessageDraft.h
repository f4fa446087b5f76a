#pragma once
// A message the vendor typed and kept for next time, unsent: its subject,
// body, format and attachments, in draft.txt beside the settings file.
//
// The file: "Subject: ", "Format: " and one "Attachment: " line each, an
// empty line, then the body as typed (UTF-8, lines ending in LF).

#include "mailer/MailerSettings.h"

#include <QString>
#include <QStringList>

namespace og {

struct MessageDraft {
    QString subject;
    QString body;
    MessageFormat format = MessageFormat::Plain;
    QStringList attachments;

    bool isEmpty() const { return subject.isEmpty() && body.isEmpty() && attachments.isEmpty(); }
    bool operator==(const MessageDraft&) const = default;

    // draft.txt in the folder of the settings file.
    static QString pathBeside(const QString& settingsPath);
    // The file's text and back. A line the reader does not know is skipped;
    // a subject or an attachment is one line (line breaks become blanks).
    QByteArray toText() const;
    static MessageDraft fromText(QByteArrayView text);

    // Reads path; an absent or unreadable file is no draft (empty).
    static MessageDraft load(const QString& path);
    // Replaces path whole; false with the system's reason.
    bool save(const QString& path, QString* error) const;
    // Removes a kept draft once it is sent or discarded.
    static void remove(const QString& path);
};

} // namespace og
