// The mailer's settings in the settings file, the body and its text lines,
// the server's address.

#include "tests/support/FileTestSupport.h"

#include "common/AddressFile.h"
#include "common/ProfileFile.h"
#include "mailer/MailerSettings.h"
#include "mailer/MessageBody.h"
#include "mailer/SendFailure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <tuple>

#include <gtest/gtest.h>

using namespace og;
using og::test::readFile;
using og::test::writeFile;

TEST(MailerSettingsFile, KeysLoadAndSaveThroughOneTable)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ordergate.ini"));
    ASSERT_TRUE(writeFile(ini, "[user]\r\nemail=a@b.c\r\n[options]\r\nlog=0\r\nefile=/x/email_A.txt\r\n"));
    MailerSettings s;
    s.organisation = QStringLiteral("Old Ltd");
    s.copyToSelf = false;
    s.load(ini);
    EXPECT_EQ(s.sender, QStringLiteral("a@b.c"));
    EXPECT_EQ(s.organisation, QString()) << "a missing sender detail empties the field";
    EXPECT_FALSE(s.wantLog);
    EXPECT_FALSE(s.copyToSelf) << "a missing switch keeps its state";
    EXPECT_EQ(s.addressFile, QStringLiteral("/x/email_A.txt"));

    // A file from before the connection keys: Automatic, no login, as if new,
    // even when loaded over other values.
    MailerSettings old;
    old.security = MailerSettings::Security::Tls;
    old.userName = QStringLiteral("someone");
    old.noVerify = true;
    old.timeoutSeconds = 5;
    old.format = MessageFormat::Markdown;
    old.autoSubmitted = true;
    old.load(ini);
    EXPECT_EQ(old.format, MessageFormat::Plain) << "a file from before the format key sends plain text";
    EXPECT_FALSE(old.autoSubmitted);
    EXPECT_EQ(old.security, MailerSettings::Security::Automatic);
    EXPECT_EQ(old.userName, QString());
    EXPECT_FALSE(old.noVerify);
    EXPECT_EQ(old.timeoutSeconds, 300);

    const QString fresh = dir.filePath(QStringLiteral("fresh.ini"));
    s.server = QStringLiteral("mail.example.com");
    s.save(fresh);
    EXPECT_EQ(readFile(fresh),
        QByteArray(
            "[user]\r\nemail=a@b.c\r\ncompany=\r\nserver=mail.example.com\r\nsecurity=Automatic\r\n"
            "login=\r\nhelo=\r\ntimeout=300\r\ncafile=\r\nfingerprint=\r\nnocheck=0\r\nplainpassword=0\r\n"
            "auth=password\r\noauthprovider=microsoft\r\nclientid=\r\ntenant=\r\nauthurl=\r\ntokenurl=\r\n"
            "scope=\r\ntokencommand=\r\n[options]\r\nlog=0\r\naudit=0\r\nsigfile=0\r\nsigname=\r\nrate="
            "0\r\nconnections=1\r\nformat=plain\r\nreplyto=\r\nautosubmitted=0\r\nunsubscribe=\r\nattachabsolute=0\r\n"
            "retries=2\r\nretrydelay=30\r\npermessage=1\r\nprovider=\r\n"));
    s.security = MailerSettings::Security::StartTls;
    s.userName = QStringLiteral("a@b.c");
    s.clientName = QStringLiteral("pc.example.com");
    s.timeoutSeconds = 30;
    s.caFile = QStringLiteral("/etc/ca.pem");
    s.fingerprint = QStringLiteral("ab:cd");
    s.noVerify = s.allowPlainPassword = true;
    s.login = LoginMethod::OAuth2;
    s.oauthProvider = OAuthProviderKind::Custom;
    s.clientId = QStringLiteral("app-1");
    s.authUrl = QStringLiteral("https://id.example.com/authorize");
    s.tokenUrl = QStringLiteral("https://id.example.com/token");
    s.scope = QStringLiteral("smtp");
    s.tokenCommand = QStringLiteral("pass show mail-token");
    s.format = MessageFormat::Markdown;
    s.replyTo = QStringLiteral("help@shop.example");
    s.autoSubmitted = true;
    s.unsubscribe = QStringLiteral("mailto:out@shop.example https://shop.example/out");
    s.save(fresh);
    MailerSettings back;
    back.load(fresh);
    back.addressFile = s.addressFile; // efile is written by the run alone
    EXPECT_EQ(back, s);
}

TEST(MailerText, BodyKeepsItsShownLinesAndItsTypedText)
{
    MessageBody body;
    body.addLine(QStringLiteral("Dear "), true); // wrapped by the field
    body.addLine(QStringLiteral("customer"), false);
    body.addLine(QString(), false);
    body.endWithBreak();
    EXPECT_EQ(body.typedText(), QStringLiteral("Dear customer\n\n"));
    body.append({QStringLiteral("-- "), QStringLiteral("Vendor")});
    EXPECT_EQ(body.lines(), (QStringList {"Dear ", "customer", "", "-- ", "Vendor"}));
    EXPECT_EQ(body.typedText(), QStringLiteral("Dear customer\n\n-- \nVendor"));
    EXPECT_EQ(MessageBody({QString()}, true).typedText(), QStringLiteral("\n"));
}

TEST(MailerText, ServerAddressTakesAnOptionalPort)
{
    EXPECT_EQ(parseServerAddress(QStringLiteral("mail.example.com")).host, QStringLiteral("mail.example.com"));
    EXPECT_EQ(parseServerAddress(QStringLiteral("mail.example.com")).port, 25);
    const ServerAddress local = parseServerAddress(QStringLiteral("127.0.0.1:2525"));
    EXPECT_EQ(local.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(local.port, 2525);
    // Without a port, the security setting's; a bad port is named, not
    // passed on as part of the host name.
    using Security = MailerSettings::Security;
    const struct {
        const char* server;
        Security security;
        const char* host;
        int port;
        const char* problem;
    } cases[] = {
        {" mail.example.com ", Security::Tls, "mail.example.com", 465, ""},
        {"mail.example.com", Security::StartTls, "mail.example.com", 587, ""},
        {"mail.example.com", Security::None, "mail.example.com", 25, ""},
        {"mail.example.com:2525 ", Security::Tls, "mail.example.com", 2525, ""},
        {"mail.example.com:99999", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"99999\" is not a number from 1 to 65535"},
        {"mail.example.com:0", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"0\" is not a number from 1 to 65535"},
        {"mail.example.com:smtp", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"smtp\" is not a number from 1 to 65535"},
        {" [::1]:2525", Security::Automatic, "::1", 2525, ""},
        {"[2001:db8::1]", Security::StartTls, "2001:db8::1", 587, ""},
        {"2001:db8::25", Security::Tls, "2001:db8::25", 465, ""},
        {"[::1]:", Security::Automatic, "::1", 25, "The mail server's port \"\" is not a number from 1 to 65535"},
    };
    for (const auto& c : cases) {
        const ServerAddress a = parseServerAddress(QLatin1String(c.server), c.security);
        EXPECT_EQ(a.host, QLatin1String(c.host)) << c.server;
        EXPECT_EQ(a.port, c.port) << c.server;
        EXPECT_EQ(a.problem, QLatin1String(c.problem)) << c.server;
    }
}

TEST(MailerText, LinesAndAddressesFollowTheFieldAndFileRules)
{
    EXPECT_EQ(splitTextLines(QString()), QStringList());
    EXPECT_EQ(splitTextLines(QStringLiteral("a\r\nb\r\n")), (QStringList {"a", "b"}));
    EXPECT_EQ(splitTextLines(QStringLiteral("a\n\n")), (QStringList {"a", ""}));
    EXPECT_EQ(splitTextLines(QStringLiteral("\n")), QStringList {QString()});

    EXPECT_EQ(appendTextLines(QStringLiteral("body"), {"--", "sig"}), QStringLiteral("body\n--\nsig"));
    EXPECT_EQ(appendTextLines(QStringLiteral("body\n"), {"sig"}), QStringLiteral("body\nsig"));
    EXPECT_EQ(appendTextLines(QString(), {"sig"}), QStringLiteral("sig"));
    EXPECT_EQ(appendTextLines(QStringLiteral("body"), {}), QStringLiteral("body"));

    EXPECT_EQ(customerAddress(QStringLiteral("a@b.com , 1001 , 2026-01-02 , A B")), QStringLiteral("a@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("\t  a@b.com\r")), QStringLiteral("a@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("@b.com")), QStringLiteral("@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("no address here")), QString());
    EXPECT_EQ(customerAddress(QString()), QString());
}
