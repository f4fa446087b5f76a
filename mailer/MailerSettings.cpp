#include "mailer/MailerSettings.h"

#include "common/ProfileFile.h"

#include <QFileInfo>

namespace og {

namespace {

// Every key of the mailer, in the order a completed run saves them.
struct TextKey {
    const char* section;
    const char* name;
    QString MailerSettings::*member;
    bool clearedWhenMissing;
};
struct FlagKey {
    const char* section;
    const char* name;
    bool MailerSettings::*member;
};

const TextKey kTextKeys[] = {
    {"user", "email", &MailerSettings::sender, true},
    {"user", "company", &MailerSettings::organisation, true},
    {"user", "server", &MailerSettings::server, true},
};
const FlagKey kFlagKeys[] = {
    {"options", "log", &MailerSettings::wantLog},
    {"options", "audit", &MailerSettings::copyToSelf},
    {"options", "sigfile", &MailerSettings::useSignature},
};
const TextKey kSignatureKey = {"options", "signame", &MailerSettings::signatureFile, false};
const TextKey kAddressFileKey = {"options", "efile", &MailerSettings::addressFile, false};

void read(const ProfileReader& file, const TextKey& key, MailerSettings& s)
{
    QString& value = s.*key.member;
    value = file.readString(
        QLatin1String(key.section), QLatin1String(key.name), key.clearedWhenMissing ? QString() : value);
}

void write(const QString& path, const TextKey& key, const MailerSettings& s)
{
    ProfileFile::writeString(path, QLatin1String(key.section), QLatin1String(key.name), s.*key.member);
}

} // namespace

void MailerSettings::load(const QString& settingsPath)
{
    const ProfileReader file(settingsPath);
    if (!file.fileExists())
        return;
    for (const TextKey& key : kTextKeys)
        read(file, key, *this);
    read(file, kAddressFileKey, *this);
    for (const FlagKey& key : kFlagKeys)
        this->*key.member = file.readBool(QLatin1String(key.section), QLatin1String(key.name), this->*key.member);
    read(file, kSignatureKey, *this);
}

void MailerSettings::save(const QString& settingsPath) const
{
    for (const TextKey& key : kTextKeys)
        write(settingsPath, key, *this);
    for (const FlagKey& key : kFlagKeys)
        ProfileFile::writeBool(settingsPath, QLatin1String(key.section), QLatin1String(key.name), this->*key.member);
    write(settingsPath, kSignatureKey, *this);
}

void MailerSettings::saveAddressFile(const QString& settingsPath, const QString& addressFile)
{
    MailerSettings s;
    s.addressFile = addressFile;
    write(settingsPath, kAddressFileKey, s);
}

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

QString checkMailerInput(const MailerInput& input)
{
    const MailerSettings& s = input.settings;
    if (!QFileInfo(s.addressFile).isFile())
        return QStringLiteral("Invalid file name specification");
    if (s.sender.indexOf(u'@') < 1)
        return QStringLiteral("You must enter your correct email address");
    if (s.server.indexOf(u'.') < 1)
        return QStringLiteral("You must enter your mail server (e.g. %1)").arg(QLatin1String(ExampleMailServer));
    if (input.subject.isEmpty())
        return QStringLiteral("You must enter a subject for your message");
    if (input.body.isEmpty())
        return QStringLiteral("You must enter something in your message");
    return {};
}

} // namespace og
