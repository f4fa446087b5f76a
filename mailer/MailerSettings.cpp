#include "mailer/MailerSettings.h"

#include "common/ProfileFile.h"
#include "common/Trim.h"

#include <QFileInfo>

#include <type_traits>
#include <variant>

namespace og {

namespace {

using Security = MailerSettings::Security;

// Every key of the mailer, in the order a completed run saves them. reset:
// a file without the key gives the default, not the value loaded over.
struct Key {
    const char* section;
    const char* name;
    std::variant<QString MailerSettings::*, bool MailerSettings::*, int MailerSettings::*, Security MailerSettings::*>
        member;
    bool reset;
};

const Key kKeys[] = {
    {"user", "email", &MailerSettings::sender, true},
    {"user", "company", &MailerSettings::organisation, true},
    {"user", "server", &MailerSettings::server, true},
    {"user", "security", &MailerSettings::security, true},
    {"user", "login", &MailerSettings::userName, true},
    {"user", "helo", &MailerSettings::clientName, true},
    {"user", "timeout", &MailerSettings::timeoutSeconds, true},
    {"user", "cafile", &MailerSettings::caFile, true},
    {"user", "fingerprint", &MailerSettings::fingerprint, true},
    {"user", "nocheck", &MailerSettings::noVerify, true},
    {"user", "plainpassword", &MailerSettings::allowPlainPassword, true},
    {"options", "log", &MailerSettings::wantLog, false},
    {"options", "audit", &MailerSettings::copyToSelf, false},
    {"options", "sigfile", &MailerSettings::useSignature, false},
    {"options", "signame", &MailerSettings::signatureFile, false},
    {"options", "rate", &MailerSettings::ratePerMinute, true},
    {"options", "connections", &MailerSettings::connections, true},
};
const Key kAddressFileKey = {"options", "efile", &MailerSettings::addressFile, false};

const MailerSettings kDefaults;

const struct {
    Security security;
    const char* name;
    const char* word;
} kSecurityNames[] = {
    {Security::Automatic, "Automatic", "auto"},
    {Security::StartTls, "STARTTLS", "starttls"},
    {Security::Tls, "SSL/TLS", "tls"},
    {Security::None, "None", "none"},
};

void read(const ProfileReader& file, const Key& key, MailerSettings& s)
{
    const QString section = QLatin1String(key.section), name = QLatin1String(key.name);
    std::visit(
        [&](auto member) {
            auto& value = s.*member;
            const auto fallback = key.reset ? kDefaults.*member : value;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>) {
                value = file.readString(section, name, fallback);
            } else if constexpr (std::is_same_v<T, bool>) {
                value = file.readBool(section, name, fallback);
            } else {
                const QString text = trimmed(file.readString(section, name, QString()));
                value = fallback;
                if constexpr (std::is_same_v<T, int>) {
                    bool ok = false;
                    const int number = text.toInt(&ok);
                    if (ok && number > 0)
                        value = number;
                } else if (!parseSecurity(text, &value)) {
                    value = fallback; // an unknown word: the default asks the most of the server
                }
            }
        },
        key.member);
}

void write(const QString& path, const Key& key, const MailerSettings& s)
{
    const QString section = QLatin1String(key.section), name = QLatin1String(key.name);
    std::visit(
        [&](auto member) {
            const auto& value = s.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                ProfileFile::writeString(path, section, name, value);
            else if constexpr (std::is_same_v<T, bool>)
                ProfileFile::writeBool(path, section, name, value);
            else if constexpr (std::is_same_v<T, int>)
                ProfileFile::writeString(path, section, name, QString::number(value));
            else
                ProfileFile::writeString(path, section, name, securityName(value));
        },
        key.member);
}

} // namespace

void MailerSettings::load(const QString& settingsPath)
{
    const ProfileReader file(settingsPath);
    if (!file.fileExists())
        return;
    for (const Key& key : kKeys)
        read(file, key, *this);
    read(file, kAddressFileKey, *this);
}

void MailerSettings::save(const QString& settingsPath) const
{
    for (const Key& key : kKeys)
        write(settingsPath, key, *this);
}

void MailerSettings::saveAddressFile(const QString& settingsPath, const QString& addressFile)
{
    MailerSettings s;
    s.addressFile = addressFile;
    write(settingsPath, kAddressFileKey, s);
}

QString securityName(MailerSettings::Security security)
{
    for (const auto& entry : kSecurityNames) {
        if (entry.security == security)
            return QLatin1String(entry.name);
    }
    return QLatin1String(kSecurityNames[0].name);
}

bool parseSecurity(const QString& text, MailerSettings::Security* security)
{
    for (const auto& entry : kSecurityNames) {
        if (text.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0 ||
            text.compare(QLatin1String(entry.word), Qt::CaseInsensitive) == 0) {
            *security = entry.security;
            return true;
        }
    }
    return false;
}

ServerAddress parseServerAddress(const QString& server, MailerSettings::Security security)
{
    ServerAddress address;
    address.host = trimmed(server);
    address.port = DefaultSmtpPort(security);
    const qsizetype colon = address.host.lastIndexOf(u':');
    if (colon > 0) {
        const QString text = trimmed(QStringView(address.host).sliced(colon + 1));
        bool ok = false;
        const int port = text.toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            address.problem = QStringLiteral("The mail server's port \"%1\" is not a number from 1 to 65535").arg(text);
        } else {
            address.port = port;
        }
        address.host = trimmed(QStringView(address.host).first(colon));
    }
    return address;
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

QString checkMailerInput(const MailerInput& input, MailerField* field)
{
    const auto about = [field](MailerField which, const QString& problem) {
        if (field)
            *field = which;
        return problem;
    };
    const MailerSettings& s = input.settings;
    if (!QFileInfo(s.addressFile).isFile())
        return about(MailerField::AddressFile, QStringLiteral("Invalid file name specification"));
    if (s.sender.indexOf(u'@') < 1)
        return about(MailerField::Sender, QStringLiteral("You must enter your correct email address"));
    if (trimmed(s.server).indexOf(u'.') < 1)
        return about(MailerField::Server,
            QStringLiteral("You must enter your mail server (e.g. %1)").arg(QLatin1String(ExampleMailServer)));
    if (const ServerAddress server = parseServerAddress(s.server, s.security); !server.problem.isEmpty())
        return about(MailerField::Server, server.problem);
    if (input.subject.isEmpty())
        return about(MailerField::Subject, QStringLiteral("You must enter a subject for your message"));
    if (input.body.isEmpty())
        return about(MailerField::Body, QStringLiteral("You must enter something in your message"));
    return about(MailerField::None, {});
}

} // namespace og
