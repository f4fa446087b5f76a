#include "mailer/MailerSettings.h"

#include "common/ProfileFile.h"
#include "common/Trim.h"

#include <QFileInfo>

#include <optional>
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
    // An IPv6 literal holds colons of its own: "[::1]:587", or "::1" without a port.
    std::optional<QString> port;
    const qsizetype close = address.host.startsWith(u'[') ? address.host.indexOf(u']') : -1;
    if (close > 0) {
        const QString rest = trimmed(address.host.sliced(close + 1));
        if (rest.startsWith(u':'))
            port = trimmed(rest.sliced(1));
        if (port || rest.isEmpty())
            address.host = address.host.sliced(1, close - 1);
    } else if (const qsizetype colon = address.host.indexOf(u':'); colon > 0 && address.host.count(u':') == 1) {
        port = trimmed(address.host.sliced(colon + 1));
        address.host = trimmed(address.host.first(colon));
    }
    if (port) {
        bool ok = false;
        const int number = port->toInt(&ok);
        if (!ok || number < 1 || number > 65535)
            address.problem =
                QStringLiteral("The mail server's port \"%1\" is not a number from 1 to 65535").arg(*port);
        else
            address.port = number;
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

QString checkMailerInput(const MailerInput& input)
{
    const MailerSettings& s = input.settings;
    if (!QFileInfo(s.addressFile).isFile())
        return QStringLiteral("Invalid file name specification");
    if (s.sender.indexOf(u'@') < 1)
        return QStringLiteral("You must enter your correct email address");
    const ServerAddress server = parseServerAddress(s.server, s.security);
    if (trimmed(s.server).indexOf(u'.') < 1 && !server.host.contains(u':'))
        return QStringLiteral("You must enter your mail server (e.g. %1)").arg(QLatin1String(ExampleMailServer));
    if (!server.problem.isEmpty())
        return server.problem;
    if (input.subject.isEmpty())
        return QStringLiteral("You must enter a subject for your message");
    if (input.body.isEmpty())
        return QStringLiteral("You must enter something in your message");
    return {};
}

} // namespace og
