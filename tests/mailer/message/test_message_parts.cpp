// Parts of a customer's message: the Markdown body's HTML and the
// attachments' types.

#include "tests/support/FileTestSupport.h"

#include "mailer/message/AttachmentType.h"
#include "mailer/message/MarkdownBody.h"

#include <QTemporaryDir>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

using namespace og;
using og::test::writeFile;

TEST(MailerMarkdown, RendersWithoutReachingOutAndEscapedValuesStayText)
{
    const struct {
        const char* markdown;
        const char* html;
    } cases[] = {
        {"# Hi\n\n*x*", "<h1>Hi</h1>\n<p><em>x</em></p>\n"},
        {"<b>x</b> <script>y</script>",
            "<p><!-- raw HTML omitted -->x<!-- raw HTML omitted --> <!-- raw HTML omitted -->y<!-- raw HTML omitted "
            "--></p>\n"},
        {"[a](javascript:alert(1))", "<p><a href=\"\">a</a></p>\n"},
        {"![logo *x*](https://t.example/p.png \"T\")",
            "<p><a href=\"https://t.example/p.png\" title=\"T\">logo <em>x</em></a></p>\n"},
        {"![](https://t.example/p.png)", "<p><a href=\"https://t.example/p.png\">https://t.example/p.png</a></p>\n"},
        {"[![logo](https://t.example/p.png)](https://shop.example)",
            "<p><a href=\"https://shop.example\">logo</a></p>\n"},
        {"![x](data:image/png;base64,iVBORw0K) [y]( DATA:text/html,hi)",
            "<p><a href=\"\">x</a> <a href=\"\">y</a></p>\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(markdownToHtml(QString::fromUtf8(c.markdown)), QString::fromUtf8(c.html)) << c.markdown;
    EXPECT_EQ(markdownToHtml("Hi\n" + plainTextAsMarkdown({"Bye", "-- ", "", "Sam *Seller*"})),
        "<p>Hi\nBye<br />\n--</p>\n<p>Sam *Seller*</p>\n")
        << "a signature stays its lines; \"-- \" makes no heading";
    EXPECT_EQ(markdownWithSignatureToHtml("*Hi*\n-- \nSam *S*", {"Shop"}),
        "<p><em>Hi</em></p>\n<p>--<br />\nSam *S*<br />\nShop</p>\n")
        << "a typed separator starts the plain signature";
    const QString value = QStringLiteral("*50%* <b>off</b> [x](y) # _1._ \\ `c` ~Jörg~ \"&\"");
    EXPECT_EQ(markdownToHtml("a " + escapeMarkdown(value)), "<p>a " + value.toHtmlEscaped() + "</p>\n");
}


TEST(MailerAttachments, TypeFromNameAndContent)
{
    QTemporaryDir dir;
    const std::vector<std::tuple<const char*, QByteArray, std::string>> cases {
        {"notes.txt",
            "Gr\xc3\xbc\xc3\x9f"
            "e\r\n",
            "text/plain; charset=utf-8"},
        {"latin.txt",
            "Gr\xfc\xdf"
            "e\r\n",
            "application/octet-stream"},
        {"list.csv", "a,b\n", "text/csv; charset=utf-8"},
        {"report.pdf", "%PDF-1.4\n", "application/pdf"},
        {"noname", QByteArray("\x00\x01\x02\xff", 4), "application/octet-stream"},
        {"empty", "", "application/octet-stream"},
        {"empty.pdf", "", "application/pdf"},
        // read a piece at a time: a character across the first piece's end
        {"long.txt", QByteArray((1 << 20) - 1, 'a') + "\xc3\xbc\n", "text/plain; charset=utf-8"},
        {"cut.txt", QByteArray((1 << 20) - 1, 'a') + "\xc3", "application/octet-stream"},
    };
    for (const auto& [name, bytes, type] : cases) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_EQ(attachmentType(path), type) << name;
    }
}
