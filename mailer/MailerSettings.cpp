#include "mailer/MailerSettings.h"

#include "common/SettingsTable.h"
#include "common/Trim.h"
#include "common/WordTable.h"

#include <optional>

namespace og {

namespace {

using Security = MailerSettings::Security;

// Every key of the mailer, in the order a completed run saves them. reset:
// a file without the key gives the default, not the value loaded over.
using Key = SettingKey<MailerSettings, Security, LoginMethod, OAuthProviderKind, MessageFormat>;

const Key kKeys[] = {
    {{"user", "email"}, &MailerSettings::sender, true},
    {{"user", "company"}, &MailerSettings::organisation, true},
    {{"user", "server"}, &MailerSettings::server, true},
    {{"user", "security"}, &MailerSettings::security, true},
    {{"user", "login"}, &MailerSettings::userName, true},
    {{"user", "helo"}, &MailerSettings::clientName, true},
    {{"user", "timeout"}, &MailerSettings::timeoutSeconds, true},
    {{"user", "cafile"}, &MailerSettings::caFile, true},
    {{"user", "fingerprint"}, &MailerSettings::fingerprint, true},
    {{"user", "nocheck"}, &MailerSettings::noVerify, true},
    {{"user", "plainpassword"}, &MailerSettings::allowPlainPassword, true},
    {{"user", "auth"}, &MailerSettings::login, true},
    {{"user", "oauthprovider"}, &MailerSettings::oauthProvider, true},
    {{"user", "clientid"}, &MailerSettings::clientId, true},
    {{"user", "tenant"}, &MailerSettings::tenant, true},
    {{"user", "authurl"}, &MailerSettings::authUrl, true},
    {{"user", "tokenurl"}, &MailerSettings::tokenUrl, true},
    {{"user", "scope"}, &MailerSettings::scope, true},
    {{"user", "tokencommand"}, &MailerSettings::tokenCommand, true},
    {{"options", "log"}, &MailerSettings::wantLog, false},
    {{"options", "audit"}, &MailerSettings::copyToSelf, false},
    {{"options", "sigfile"}, &MailerSettings::useSignature, false},
    {{"options", "signame"}, &MailerSettings::signatureFile, false},
    {{"options", "rate"}, &MailerSettings::ratePerMinute, true},
    {{"options", "connections"}, &MailerSettings::connections, true},
    {{"options", "format"}, &MailerSettings::format, true},
    {{"options", "replyto"}, &MailerSettings::replyTo, true},
    {{"options", "autosubmitted"}, &MailerSettings::autoSubmitted, true},
    {{"options", "unsubscribe"}, &MailerSettings::unsubscribe, true},
    {{"options", "attachabsolute"}, &MailerSettings::attachAbsolute, true},
    {{"options", "retries"}, &MailerSettings::retries, true, 0},
    {{"options", "retrydelay"}, &MailerSettings::retryDelaySeconds, true, 0},
    {{"options", "permessage"}, &MailerSettings::perConnection, true},
    {{"options", "provider"}, &MailerSettings::provider, true},
};

const Key kAddressFileKey = {AddressFileSetting, &MailerSettings::addressFile};

const MailerSettings kDefaults;

// The security setting has two spellings: the window's and the settings
// file's name, and the command line's word; both are read.
constexpr EnumWord<Security> kSecurityNames[] = {
    {Security::Automatic, "Automatic"},
    {Security::StartTls, "STARTTLS"},
    {Security::Tls, "SSL/TLS"},
    {Security::None, "None"},
};
constexpr EnumWord<Security> kSecurityWords[] = {
    {Security::Automatic, "auto"},
    {Security::StartTls, "starttls"},
    {Security::Tls, "tls"},
    {Security::None, "none"},
};

constexpr EnumWord<LoginMethod> kLoginWords[] = {
    {LoginMethod::Password, "password"},
    {LoginMethod::OAuth2, "oauth2"},
    {LoginMethod::TokenCommand, "command"},
};

constexpr EnumWord<OAuthProviderKind> kProviderWords[] = {
    {OAuthProviderKind::Microsoft, "microsoft"},
    {OAuthProviderKind::Google, "google"},
    {OAuthProviderKind::Custom, "custom"},
};

constexpr EnumWord<MessageFormat> kFormatWords[] = {
    {MessageFormat::Plain, "plain"},
    {MessageFormat::Markdown, "markdown"},
};

} // namespace

// The words of the settings file for the values that are words (found by
// the settings table's reader and writer).
bool parseSettingWord(const QString& text, Security* value)
{
    return parseSecurity(text, value);
}
bool parseSettingWord(const QString& text, LoginMethod* value)
{
    return parseLoginMethod(text, value);
}
bool parseSettingWord(const QString& text, OAuthProviderKind* value)
{
    return parseOAuthProvider(text, value);
}
bool parseSettingWord(const QString& text, MessageFormat* value)
{
    return parseMessageFormat(text, value);
}
QString settingWord(Security value)
{
    return securityName(value);
}
QString settingWord(LoginMethod value)
{
    return loginMethodWord(value);
}
QString settingWord(OAuthProviderKind value)
{
    return oauthProviderWord(value);
}
QString settingWord(MessageFormat value)
{
    return messageFormatWord(value);
}

void MailerSettings::load(const QString& settingsPath)
{
    const ProfileReader file(settingsPath);
    if (!file.fileExists())
        return;
    readSettings(file, kKeys, *this, kDefaults);
    readSetting(file, kAddressFileKey, *this, kDefaults);
}

void MailerSettings::save(const QString& settingsPath) const
{
    writeSettings(settingsPath, kKeys, *this);
}

void MailerSettings::saveAddressFile(const QString& settingsPath, const QString& addressFile)
{
    MailerSettings s;
    s.addressFile = addressFile;
    writeSetting(settingsPath, kAddressFileKey, s);
}

QString securityName(MailerSettings::Security security)
{
    return wordOf(kSecurityNames, security);
}

bool parseSecurity(const QString& text, MailerSettings::Security* security)
{
    return parseWordOf(kSecurityNames, text, security) || parseWordOf(kSecurityWords, text, security);
}

QString loginMethodWord(LoginMethod method)
{
    return wordOf(kLoginWords, method);
}

bool parseLoginMethod(const QString& text, LoginMethod* method)
{
    return parseWordOf(kLoginWords, text, method);
}

QString oauthProviderWord(OAuthProviderKind kind)
{
    return wordOf(kProviderWords, kind);
}

bool parseOAuthProvider(const QString& text, OAuthProviderKind* kind)
{
    return parseWordOf(kProviderWords, text, kind);
}

QString messageFormatWord(MessageFormat format)
{
    return wordOf(kFormatWords, format);
}

bool parseMessageFormat(const QString& text, MessageFormat* format)
{
    return parseWordOf(kFormatWords, text, format);
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

} // namespace og
