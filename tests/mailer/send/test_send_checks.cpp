// The checks of a request before a run.

#include "tests/support/FileTestSupport.h"

#include "mailer/MailerInput.h"
#include "mailer/send/InputChecks.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <tuple>

#include <gtest/gtest.h>

using namespace og;
using og::test::writeFile;

TEST(MailerChecks, EachCheckReportsItsOwnMessageInOrder)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/email_x.txt");
    ASSERT_TRUE(writeFile(file, "a@b.c\r\n"));
    MailerInput good;
    good.settings.addressFile = file;
    good.settings.sender = QStringLiteral("me@example.com");
    good.settings.server = QStringLiteral("mail.example.com");
    good.subject = QStringLiteral("Hi");
    good.body = MessageBody({QStringLiteral("body")});
    EXPECT_EQ(checkMailerInput(good), QString());

    MailerInput in = good;
    in.settings.addressFile = QStringLiteral("click button to select -->>>");
    in.settings.sender.clear(); // a later failure must not be reported first
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("Invalid address file name"));
    in.settings.addressFile = dir.path(); // a folder is not a file
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("Invalid address file name"));

    in = good;
    for (const char* sender : {"", "me.example.com", "@example.com"}) {
        in.settings.sender = QLatin1String(sender);
        in.settings.server.clear();
        EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter your correct email address")) << sender;
    }
    in.settings.sender = QStringLiteral("m@");
    for (const char* server : {"x.y", "[::1]:587", "2001:db8::25"}) {
        in.settings.server = QLatin1String(server);
        EXPECT_EQ(checkMailerInput(in), QString()) << "one character before @ is enough; " << server;
    }

    in = good;
    for (const char* server : {"", "localhost", ".example.com", "localhost:2525"}) {
        in.settings.server = QLatin1String(server);
        in.subject.clear();
        EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter your mail server (e.g. mail.example.com)"))
            << server;
    }

    in = good;
    in.settings.server = QStringLiteral("mail.example.com:65536");
    in.subject.clear();
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("The mail server's port \"65536\" is not a number from 1 to 65535"));

    in = good;
    in.subject.clear();
    in.body = MessageBody();
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter a subject for your message"));
    in.subject = QStringLiteral("   ");
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter something in your message"))
        << "blanks count as a subject";
    in.body = MessageBody({QString()});
    EXPECT_EQ(checkMailerInput(in), QString()) << "a body of one empty line passes";

    in = good;
    in.settings.replyTo = QStringLiteral("help@shop.example");
    in.settings.unsubscribe = QStringLiteral(" mailto:out@shop.example  https://shop.example/out?c={{id}} ");
    EXPECT_EQ(checkMailerInput(in), QString());
    for (const char* address : {"http://shop.example/out", "https:///out", "out@shop.example", "mailto:"}) {
        in.settings.unsubscribe = QLatin1String(address);
        in.subject.clear();
        EXPECT_EQ(checkMailerInput(in),
            QStringLiteral("The unsubscribe address \"%1\" is no mailto:name@domain or https://host/... address")
                .arg(address));
    }
    in.settings.replyTo = QStringLiteral("help");
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("The reply address \"help\" is no mail address"));
    // Checked like addresses before a run: nothing a header may not hold.
    const QByteArray longUrl = "https://shop.example/" + QByteArray(1000, 'x');
    for (const auto& [reply, leave, problem] : {std::tuple {"a\x1b@shop.example", "", "The reply address \"a\\x1b@"},
             std::tuple {"a@shop.example", "mailto:b@shop.example\x7f", "The unsubscribe address \"mailto:b@shop"},
             std::tuple {"a@shop.example", longUrl.constData(), "is longer than 998 bytes"}}) {
        in.settings.replyTo = QString::fromUtf8(reply);
        in.settings.unsubscribe = QString::fromUtf8(leave);
        EXPECT_TRUE(checkMailerInput(in).contains(QString::fromUtf8(problem))) << checkMailerInput(in).toStdString();
    }
}
