// Messages typed with every kind of text go through a real server (Debian's
// aiosmtpd) and are read back by Python's email package (policy=default),
// which must find exactly what was typed: headers, text, its HTML alternative
// and attachment bytes, no defects, no header line over 78 and no line over 998 characters.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/MailText.h"
#include "smtp/SMTPWire.h"
#include "tests/support/MailSink.h"
#include "tests/support/MessageTestSupport.h"

namespace {

struct File {
    std::string name;
    std::string bytes;
    std::string type; // as the mailer would give it; "" for unknown
};

struct Case {
    std::string subject, organization, fromName, toName;
    std::vector<std::string> text;
    std::vector<File> files;
    std::string html; // the HTML alternative; none when empty
};

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string Mailbox(const std::string& name, const std::string& address)
{
    return name.empty() ? address : name + " <" + address + ">";
}

TEST(RoundTrip, PythonReadsBackExactlyWhatWasTyped)
{
    const std::string longAscii = "one very long pasted paragraph " + std::string(5000, 'x') + " end";
    std::string longUtf8;
    while (longUtf8.size() < 5000)
        longUtf8 += "Grüße é 日本語 ";
    const std::string boundary = "--=_NextPart_2rfksadvnqw3nerasdf";
    const std::vector<Case> cases {
        {"Your download", "Shop Ltd", "Shop Sales", "", {"Dear customer,", "", "Thanks", "-- ", "Shop"},
            {{"report.pdf", "%PDF-1.4 fake", "application/pdf"}}, ""},
        {"Café über 日本", "Société Générale", "José Müller", "José Müller", {"Grüße é 日本語", "-- ", "José"},
            {{"message.txt", "Grüße é 日本語\r\n", "text/plain; charset=utf-8"}}, ""},
        {std::string(30, 'w') + " Ä " + std::string(100, 'y') + " über alles " + std::string(60, 'z'),
            "Société Générale des Très Longs Noms de Sociétés Anonymes et Compagnie Réunies", "Ünïcödé Ñame Ço",
            "Ünïcödé Ñame Ço",
            {longAscii, longUtf8, "é" + std::string(69, 'a') + ".starts a line after encoding", ".", ". dot",
                "trailing blanks \t ", "a=b =3D"},
            {{"Prüfbericht über alles – 日本語の長いファイル名ですね.txt", std::string("bytes\x00\xff", 7), ""},
                {"é.bin", std::string(1000, '\xe9'), "application/octet-stream"}},
            ""},
        {std::string(40, 's') + " " + std::string(40, 't') + " " + std::string(40, 'u'), "", "", "",
            {"A forged part:", boundary, "Content-Type: text/html", "", "<b>x</b>", boundary + "--"},
            {{"we\"ird name.txt", "w", "text/plain; charset=utf-8"}, {"back\\slash " + boundary + ".txt", "b", ""}},
            ""},
        {"Plain text only: Grüße", "", "José", "", {"Grüße", ".hidden", longAscii}, {}, ""},
        {"With HTML", "", "", "", {"# News", "", "Read *this*."}, {}, "<h1>News</h1>\n<p>Read <em>this</em>.</p>\n"},
        {"HTML and files", "", "", "", {"Grüße", "--=_AltPart_2rfksadvnqw3nerasdf"},
            {{"report.pdf", "%PDF-1.4 fake", "application/pdf"}},
            "<p>Grüße é 日本語</p>\n<p>--=_AltPart_2rfksadvnqw3nerasdf</p>\n<p>" + longAscii + "</p>\n.\n"},
    };

    og::test::TempDir dir;
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start()) << "the aiosmtpd sink did not start";
    QJsonArray checks;
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        og::TWireMessage m;
        m.SetFrom(Mailbox(c.fromName, "shop@example.com"));
        m.SetOrganization(c.organization);
        m.SetSubject(c.subject);
        m.Text = c.text;
        m.HtmlText = c.html;
        m.Too = {Mailbox(c.toName, "cust@example.org")};
        QJsonArray files;
        for (std::size_t k = 0; k < c.files.size(); ++k) {
            const std::string path = dir.Write("f" + std::to_string(n) + "_" + std::to_string(k), c.files[k].bytes);
            auto& attachment = m.Attachments.AddAttachment(path);
            attachment.StoredName = c.files[k].name;
            attachment.ContentType = c.files[k].type;
            const std::string type = c.files[k].type.empty() ? "application/octet-stream" : c.files[k].type;
            files.append(QJsonObject {{"filename", Q(c.files[k].name)}, {"content_type", Q(type)}, {"path", Q(path)}});
        }
        og::TWireSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = sink.port();
        smtp.Timeout = 30;
        ASSERT_NO_THROW(smtp.Send(m)) << "case " << n;
        ASSERT_EQ(sink.waitForMessages(int(n) + 1), int(n) + 1);
        std::string text;
        for (const auto& line : c.text)
            text += line + "\n";
        checks.append(
            QJsonObject {{"eml", Q(dir.Write("m" + std::to_string(n) + ".eml", sink.raw(int(n) + 1).toStdString()))},
                {"subject", Q(c.subject)}, {"organization", Q(c.organization)}, {"from_name", Q(c.fromName)},
                {"from_address", "shop@example.com"}, {"to_name", Q(c.toName)}, {"to_address", "cust@example.org"},
                {"text", Q(text)}, {"attachments", files}, {"html", Q(c.html)}});
    }
    const std::string casesFile = dir.Write("cases.json", QJsonDocument(checks).toJson().toStdString());
    QProcess checker;
    checker.start("/usr/bin/python3", {OG_SOURCE_DIR "/tests/mail/mail_roundtrip.py", Q(casesFile)});
    ASSERT_TRUE(checker.waitForFinished(60000));
    EXPECT_EQ(checker.exitCode(), 0) << checker.readAllStandardError().toStdString();
    EXPECT_EQ(checker.readAllStandardOutput().toStdString(), "");
}

} // namespace
