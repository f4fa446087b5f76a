// Fields in the message, through the send run's preview of a chosen
// customer: each place a field may stand, how names find their columns in
// files the first job wrote and in header-row files, and the checks that
// stop a run before anything is sent.
#include "tests/support/FileTestSupport.h"

#include "common/AddressFile.h"
#include "mailer/message/AttachmentPath.h"
#include "mailer/message/MarkdownBody.h"
#include "mailer/message/MessageFields.h"
#include "mailer/send/SendRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace og;
using og::test::writeFile;

namespace {

// The first job's file with order number, date and name (customer 2 came
// from a list: order number only).
const char* const FirstJobFile = "anna@example.com , 5001 , 2026-03-04 , Anna Berg\r\n"
                                 "listed@example.com , 5002\r\n";
const char* const HeaderFile = "email,Name,order,licence\r\n"
                               "anna@example.com,Ånna,5001,lic-5001.txt\r\n"
                               "bob@example.org,,5002,lic-5002.txt\r\n";

struct Case {
    const char* what;
    const char* file;
    const char* recorded; // the columns the first job recorded, or null
    const char* subject;
    const char* body;
    int customer;
    const char* expected; // a line the preview holds, or the start of the problem
    bool problem = false;
    const char* attachment = nullptr;
};

const Case Cases[] = {
    {"subject and body", FirstJobFile, "order date name", "Order {{order}}", "Dear {{name|you}}, {{date|today}}", 0,
        "Dear Anna Berg, 2026-03-04"},
    {"subject filled", FirstJobFile, "order date name", "Order {{order}}", "x", 1, "Subject: Order 5002"},
    {"default for a listed customer", FirstJobFile, "order date name", "S", "Dear {{name|Customer}}", 1,
        "Dear Customer"},
    {"positions and product", FirstJobFile, "order date name", "S", "{{1}}/{{2}}/{{product}}", 0,
        "anna@example.com/5001/Widget"},
    {"date alone recorded", "anna@example.com , 2026-03-04\r\n", "date", "S", "on {{date}}", 0, "on 2026-03-04"},
    {"name alone recorded", "anna@example.com , Anna Berg\r\n", "name", "S", "hi {{name}}", 0, "hi Anna Berg"},
    {"order and name recorded", "anna@example.com , 5001 , Anna Berg\r\n", "order name", "S", "{{name}}:{{order}}", 0,
        "Anna Berg:5001"},
    {"header row by name", HeaderFile, nullptr, "S", "{{name|Customer}} {{LICENCE}}", 1, "Customer lic-5002.txt"},
    {"non-ASCII name in the subject is encoded", HeaderFile, nullptr, "Hello {{Name|there}}", "x", 0,
        "Subject: =?utf-8?b?SGVsbG8gw4VubmE=?="},
    {"a field the body's wrapping cut (at ~)", FirstJobFile, "order date name", "S", "Dear {{name|valued ~customer}}!",
        1, "Dear valued customer!"},
    {"literal braces", FirstJobFile, "order", "S", "{{{{order}} is {{order}}", 0, "{{order}} is 5001"},
    {"no fields: as typed", FirstJobFile, "order", "S", "a {b} }} {x}", 0, "a {b} }} {x}"},
    {"attachment path", HeaderFile, nullptr, "S", "x", 1, "  lic-5002.txt (missing: ", false, "lic-{{order}}.txt"},
    {"unknown field", FirstJobFile, "order", "S", "{{licence}}", 0, "Unknown field {{licence}}", true},
    {"order not recorded", FirstJobFile, nullptr, "{{order}}", "x", 0, "Unknown field {{order}}", true},
    {"a line lacks a value", FirstJobFile, "order date name", "S", "{{name}}", 0, "Line 2 of ", true},
    {"no closing braces", FirstJobFile, "order", "S", "{{order", 0, "\"{{\" without its \"}}\"", true},
    {"field in the attachment path unknown", FirstJobFile, "order", "S", "x", 0, "Unknown field {{x}}", true,
        "{{x}}.txt"},
};

} // namespace

TEST(MessageFields, EachCustomerGetsTheirValuesAndBadFieldsStopTheRun)
{
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        MailerInput in;
        in.settings.addressFile = folder + QStringLiteral("email_Widget.txt");
        in.settings.sender = QStringLiteral("vendor@example.com");
        in.subject = QString::fromUtf8(c.subject);
        const QStringList shown = QString::fromUtf8(c.body).split(u'~');
        for (qsizetype i = 0; i < shown.size(); ++i)
            in.body.addLine(shown[i], i + 1 < shown.size());
        in.settingsPath = folder + QStringLiteral("ordergate.ini");
        in.programFolder = folder;
        if (c.attachment)
            in.attachments << folder + QString::fromUtf8(c.attachment);
        ASSERT_TRUE(writeFile(in.settings.addressFile, c.file));
        if (c.recorded)
            recordAddressColumns(
                in.settingsPath, in.settings.addressFile, *AddressColumns::fromWords(QString::fromUtf8(c.recorded)));
        QString text;
        try {
            text = SendRun().preview(in, c.customer, nullptr);
        } catch (const SendFailure& failure) {
            EXPECT_TRUE(c.problem) << failure.what();
            EXPECT_TRUE(failure.message().startsWith(QString::fromUtf8(c.expected))) << failure.what();
            EXPECT_EQ(SendRun().checkFields(in).problems.join(u'\n'), failure.message());
            continue;
        }
        EXPECT_FALSE(c.problem) << text.toStdString();
        const bool found = std::ranges::any_of(
            text.split(u'\n'), [&](const QString& line) { return line.startsWith(QString::fromUtf8(c.expected)); });
        EXPECT_TRUE(found) << text.toStdString();
    }
}

// A body that is not plain text gets its values escaped, defaults too; the
// text around them is left as typed.
TEST(MessageFields, ATransformSeesEveryFilledValueAndNothingElse)
{
    FieldText text(QStringLiteral("<b>{{name}}</b> & {{order|<none>}}"));
    QStringList unknown;
    text.bind(AddressFields(QStringLiteral("email_X.txt"), {"email", "name", "order"}, std::nullopt), &unknown);
    EXPECT_TRUE(unknown.isEmpty());
    const AddressRecord customer {QStringLiteral("a@x"), {QStringLiteral("A<B"), QString()}, 2};
    EXPECT_EQ(text.fill(customer, [](const QString& value) { return value.toHtmlEscaped(); }),
        QStringLiteral("<b>A&lt;B</b> & &lt;none&gt;"));
}

// A Markdown body's HTML part and the unsubscribe address carry the same
// values as the text, escaped for each: a name never becomes markup, nor a
// value part of the address's syntax.
TEST(MessageFields, MarkdownAndUnsubscribeGetEachCustomersEscapedValues)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    MailerInput in;
    in.settings.addressFile = folder + QStringLiteral("email_Widget.txt");
    in.settings.sender = QStringLiteral("vendor@example.com");
    in.settings.format = MessageFormat::Markdown;
    in.settings.unsubscribe = QStringLiteral("https://shop.example/leave?n={{name}}");
    in.subject = QStringLiteral("S");
    in.body.addLine(QStringLiteral("Dear **{{name}}**, order {{order}}"), false);
    in.settingsPath = folder + QStringLiteral("ordergate.ini");
    in.programFolder = folder;
    ASSERT_TRUE(writeFile(in.settings.addressFile, "email,name,order\r\nanna@example.com,*Ann* <i>&b,5001\r\n"));
    in.settings.useSignature = true;
    in.settings.signatureFile = folder + QStringLiteral("sig.txt");
    ASSERT_TRUE(writeFile(in.settings.signatureFile, "-- \r\nSam\r\n"));
    QString html;
    const QString text = SendRun().preview(in, 0, nullptr, &html);
    EXPECT_TRUE(text.contains(QStringLiteral("Dear ***Ann* <i>&b**, order 5001"))) << text.toStdString();
    EXPECT_TRUE(
        text.contains(QStringLiteral("List-Unsubscribe: <https://shop.example/leave?n=%2AAnn%2A%20%3Ci%3E%26b>")))
        << text.toStdString();
    EXPECT_TRUE(html.endsWith(QStringLiteral("<strong>*Ann* &lt;i&gt;&amp;b</strong>, order 5001</p>\n"
                                             "<p>--<br />\nSam</p>\n")))
        << "the signature once, after the body, no heading: " << html.toStdString();
}

// A buyer's value may only name a file inside the folder the vendor typed.
TEST(MessageFields, AttachmentValuesNeverLeaveTheirFolder)
{
    QTemporaryDir dir;
    const QString base = dir.path() + u'/';
    ASSERT_TRUE(QDir(base).mkdir("lic") && writeFile(base + "lic/anna.txt", "a") && writeFile(base + "secret", "s"));
    ASSERT_TRUE(QFile::link(base + "secret", base + "lic/out") && QFile::link(base + "lic/anna.txt", base + "lic/in"));
    struct {
        const char* pattern;
        QString value;
        bool absolute;
        QString expected; // the path, or the start of the refusal's reason after the value
    } const cases[] = {
        {"lic/{{name}}.txt", "anna", false, base + "lic/anna.txt"},
        {"lic/{{name}}", "in", false, base + "lic/in"},
        {"{{name}}", "secret", false, base + "secret"}, // beside the address file
        {"{{name}}", base + "secret", true, base + "secret"},
        {"lic/{{name}}.txt", "../secret", false, "holds a folder separator"},
        {"lic/{{name}}", "..", false, "holds \"..\""},
        {"{{name}}", "/etc/passwd", false, "holds a folder separator"},
        {"lic/{{name}}", "out", false, "leads outside"},
        {"lic/{{name}}", "~root", false, "starts with \"~\""},
        {"lic/{{name}}", "-rf", false, "starts with \"-\""},
        {"lic/{{name}}", QString::fromUtf8("an\0na", 5), false, "holds a control character"},
        {"lic/{{name}}", "a\x1b[2Jb", false, "holds a control character"},
        {"{{name}}", "secret", true, "is not an absolute path"},
        {"{{name}}", base + "lic/../secret", true, "holds \"..\""},
    };
    const AddressFields fields(base + "email_Tool.txt", {"email", "name"}, std::nullopt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern + (" with " + c.value.toStdString()));
        FieldText pattern(QString::fromUtf8(c.pattern));
        QStringList unknown;
        pattern.bind(fields, &unknown);
        const ResolvedAttachment file =
            resolveAttachment(pattern, {"anna@example.com", {c.value}, 2}, {base, c.absolute});
        if (c.expected.startsWith(u'/'))
            EXPECT_EQ(file.path + file.refusal, c.expected);
        else
            EXPECT_TRUE(file.path.isEmpty() && file.refusal.contains(c.expected)) << file.refusal.toStdString();
    }
}
