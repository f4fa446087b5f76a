#include "mailer/MailerSettings.h"

#include "common/ProfileFile.h"
#include "common/Trim.h"
#include "common/WordTable.h"
#include "mailer/MessageHeaders.h"
#include "mailer/OAuthProvider.h"

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
    std::variant<QString MailerSettings::*, bool MailerSettings::*, int MailerSettings::*, Security MailerSettings::*,
        LoginMethod MailerSettings::*, OAuthProviderKind MailerSettings::*, MessageFormat MailerSettings::*>
        member;
    bool reset;
    int least = 1; // the smallest number a number key takes
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
    {"user", "auth", &MailerSettings::login, true},
    {"user", "oauthprovider", &MailerSettings::oauthProvider, true},
    {"user", "clientid", &MailerSettings::clientId, true},
    {"user", "tenant", &MailerSettings::tenant, true},
    {"user", "authurl", &MailerSettings::authUrl, true},
    {"user", "tokenurl", &MailerSettings::tokenUrl, true},
    {"user", "scope", &MailerSettings::scope, true},
    {"user", "tokencommand", &MailerSettings::tokenCommand, true},
    {"options", "log", &MailerSettings::wantLog, false},
    {"options", "audit", &MailerSettings::copyToSelf, false},
    {"options", "sigfile", &MailerSettings::useSignature, false},
    {"options", "signame", &MailerSettings::signatureFile, false},
    {"options", "rate", &MailerSettings::ratePerMinute, true},
    {"options", "connections", &MailerSettings::connections, true},
    {"options", "format", &MailerSettings::format, true},
    {"options", "replyto", &MailerSettings::replyTo, true},
    {"options", "autosubmitted", &MailerSettings::autoSubmitted, true},
    {"options", "unsubscribe", &MailerSettings::unsubscribe, true},
    {"options", "attachabsolute", &MailerSettings::attachAbsolute, true},
    {"options", "retries", &MailerSettings::retries, true, 0},
    {"options", "retrydelay", &MailerSettings::retryDelaySeconds, true, 0},
    {"options", "permessage", &MailerSettings::perConnection, true},
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

const EnumWord<LoginMethod> kLoginWords[] = {
    {LoginMethod::Password, "password"},
    {LoginMethod::OAuth2, "oauth2"},
    {LoginMethod::TokenCommand, "command"},
};

// The words of the settings file for the values that are words.
bool parseWord(const QString& text, Security* value)
{
    return parseSecurity(text, value);
}
bool parseWord(const QString& text, LoginMethod* value)
{
    return parseLoginMethod(text, value);
}
bool parseWord(const QString& text, OAuthProviderKind* value)
{
    return parseOAuthProvider(text, value);
}
bool parseWord(const QString& text, MessageFormat* value)
{
    return parseMessageFormat(text, value);
}
QString wordFor(MessageFormat value)
{
    return messageFormatWord(value);
}
QString wordFor(Security value)
{
    return securityName(value);
}
QString wordFor(LoginMethod value)
{
    return loginMethodWord(value);
}
QString wordFor(OAuthProviderKind value)
{
    return oauthProviderWord(value);
}

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
                    if (ok && number >= key.least)
                        value = number;
                } else if (!parseWord(text, &value)) {
                    value = fallback; // an unknown word: the default (Automatic asks the most of the server)
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
                ProfileFile::writeString(path, section, name, wordFor(value));
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

QString loginMethodWord(LoginMethod method)
{
    return wordOf(kLoginWords, method);
}

bool parseLoginMethod(const QString& text, LoginMethod* method)
{
    return parseWordOf(kLoginWords, text, method);
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

QString checkMailerInput(const MailerInput& input, MailerField* field)
{
    const auto about = [field](MailerField which, const QString& problem) {
        if (field)
            *field = which;
        return problem;
    };
    const MailerSettings& s = input.settings;
    if (!QFileInfo(s.addressFile).isFile())
        return about(MailerField::AddressFile, QStringLiteral("Invalid address file name"));
    if (s.sender.indexOf(u'@') < 1)
        return about(MailerField::Sender, QStringLiteral("You must enter your correct email address"));
    const ServerAddress server = parseServerAddress(s.server, s.security);
    if (trimmed(s.server).indexOf(u'.') < 1 && !server.host.contains(u':'))
        return about(MailerField::Server,
            QStringLiteral("You must enter your mail server (e.g. %1)").arg(QLatin1String(ExampleMailServer)));
    if (!server.problem.isEmpty())
        return about(MailerField::Server, server.problem);
    if (s.login != LoginMethod::Password && trimmed(s.userName).isEmpty())
        return about(MailerField::Login,
            QStringLiteral("Enter your user name (usually your mail address): a login with a token needs it"));
    if (s.login == LoginMethod::TokenCommand && trimmed(s.tokenCommand).isEmpty())
        return about(
            MailerField::Login, QStringLiteral("Enter the token command: the command that prints the access token"));
    if (s.login == LoginMethod::OAuth2) {
        if (QString problem = checkOAuthApplication(oauthApplication(s)); !problem.isEmpty())
            return about(MailerField::Login, problem);
    }
    if (QString problem = checkMessageHeaders(s); !problem.isEmpty())
        return about(MailerField::Headers, problem);
    if (input.subject.isEmpty())
        return about(MailerField::Subject, QStringLiteral("You must enter a subject for your message"));
    if (input.body.isEmpty())
        return about(MailerField::Body, QStringLiteral("You must enter something in your message"));
    return about(MailerField::None, {});
}

} // namespace og
