#include "mailbox/MailboxSettings.h"

#include "common/ProfileFile.h"
#include "common/WordTable.h"

namespace og {

namespace {

const EnumWord<MailboxSecurity> kSecurityWords[] = {
    {MailboxSecurity::Automatic, "auto"},
    {MailboxSecurity::StartTls, "starttls"},
    {MailboxSecurity::Tls, "tls"},
    {MailboxSecurity::None, "none"},
};

const EnumWord<MailboxLogin> kLoginWords[] = {
    {MailboxLogin::Password, "password"},
    {MailboxLogin::OAuth2, "oauth2"},
    {MailboxLogin::TokenCommand, "command"},
};

const QString Section = QStringLiteral("mailbox");
const QChar FolderSeparator = u';';

// The keys as text, each read and written by one pair of functions.
struct Key {
    const char* name;
    QString (*get)(const MailboxSettings&);
    void (*set)(MailboxSettings&, const QString&); // a value it cannot take leaves the default
};

const Key kKeys[] = {
    {"server", [](const MailboxSettings& s) { return s.server; },
        [](MailboxSettings& s, const QString& v) { s.server = v.trimmed(); }},
    {"security", [](const MailboxSettings& s) { return mailboxSecurityWord(s.security); },
        [](MailboxSettings& s, const QString& v) { parseMailboxSecurity(v, &s.security); }},
    {"login", [](const MailboxSettings& s) { return s.user; },
        [](MailboxSettings& s, const QString& v) { s.user = v.trimmed(); }},
    {"auth", [](const MailboxSettings& s) { return mailboxLoginWord(s.login); },
        [](MailboxSettings& s, const QString& v) { parseMailboxLogin(v, &s.login); }},
    {"folders", [](const MailboxSettings& s) { return s.folders.join(FolderSeparator); },
        [](MailboxSettings& s, const QString& v) {
            QStringList folders;
            for (const QString& name : v.split(FolderSeparator))
                if (!name.trimmed().isEmpty())
                    folders << name.trimmed();
            if (!folders.isEmpty())
                s.folders = folders;
        }},
    {"days", [](const MailboxSettings& s) { return QString::number(s.days); },
        [](MailboxSettings& s, const QString& v) {
            bool ok = false;
            const int days = v.trimmed().toInt(&ok);
            if (ok && days >= 1 && days <= 3650)
                s.days = days;
        }},
    {"cafile", [](const MailboxSettings& s) { return s.caFile; },
        [](MailboxSettings& s, const QString& v) { s.caFile = v.trimmed(); }},
    {"nocheck", [](const MailboxSettings& s) { return QString::number(int(s.noVerify)); },
        [](MailboxSettings& s, const QString& v) { s.noVerify = ProfileFile::parseBool(v, false); }},
};

} // namespace

int defaultImapPort(MailboxSecurity security)
{
    return security == MailboxSecurity::Tls ? 993 : 143;
}

void MailboxSettings::load(const QString& settingsPath)
{
    const ProfileReader file(settingsPath);
    for (const Key& key : kKeys) {
        if (file.hasKey(Section, QLatin1String(key.name)))
            key.set(*this, file.readString(Section, QLatin1String(key.name), QString()));
    }
}

void MailboxSettings::save(const QString& settingsPath) const
{
    for (const Key& key : kKeys)
        ProfileFile::writeString(settingsPath, Section, QLatin1String(key.name), key.get(*this));
}

bool parseMailboxServer(const QString& text, QString* host, int* port)
{
    const QString t = text.trimmed();
    *port = 0;
    QString portText;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close < 0)
            return false;
        *host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return false;
        portText = rest.mid(1);
    } else if (t.count(u':') == 1) {
        *host = t.section(u':', 0, 0);
        portText = t.section(u':', 1);
    } else {
        *host = t; // a name, or an IPv6 address without a port
    }
    if (host->isEmpty() || host->contains(u'/') || host->contains(u' '))
        return false;
    if (t.contains(u':') && !t.startsWith(u'[') && t.count(u':') == 1) {
        bool ok = false;
        *port = portText.toInt(&ok);
        return ok && *port >= 1 && *port <= 65535;
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        *port = portText.toInt(&ok);
        return ok && *port >= 1 && *port <= 65535;
    }
    return true;
}

QString mailboxSecurityWord(MailboxSecurity security)
{
    return wordOf(kSecurityWords, security);
}

bool parseMailboxSecurity(const QString& text, MailboxSecurity* security)
{
    return parseWordOf(kSecurityWords, text, security);
}

QString mailboxLoginWord(MailboxLogin login)
{
    return wordOf(kLoginWords, login);
}

bool parseMailboxLogin(const QString& text, MailboxLogin* login)
{
    return parseWordOf(kLoginWords, text, login);
}

QString mailboxKeyringKey(const QString& user, const QString& host)
{
    return user + u'@' + host;
}

} // namespace og
