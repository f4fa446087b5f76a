// A real SMTP server (Debian's aiosmtpd, started by the test on 127.0.0.1)
// receives a message with a body and attachments of awkward sizes; Python's
// own mail parser then reads what arrived.

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "smtp/SMTPWire.h"
#include "tests/support/MailSink.h"

using namespace og;
using namespace og::test;

namespace {

std::string Sha256Of(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex().toStdString();
}

} // namespace

TEST(EndToEndTest, MessageWithAttachmentsArrivesIntactAtARealServer)
{
    namespace fs = std::filesystem;
    const fs::path work = fs::path(::testing::TempDir()) / ("net_e2e_" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "files");

    // Attachments: empty, one full Base64 line, one byte more, and 200 KB of
    // arbitrary bytes (every byte value, CR LF and dots included).
    struct File {
        std::string name;
        std::string bytes;
    };
    std::mt19937 random(20030305);
    std::string binary(200 * 1024, '\0');
    for (auto& b : binary)
        b = static_cast<char>(random() & 0xFF);
    const std::vector<File> files = {
        {"empty.dat", ""},
        {"exact45.bin", std::string(45, '\x7F')},
        {"over46.bin", std::string("\r\n.\r\n") + std::string(41, '\xFF')},
        {"random200k.bin", binary},
    };

    MailSink sink;
    ASSERT_TRUE(sink.start());
    ASSERT_GT(sink.port(), 0) << "the aiosmtpd sink did not start";

    TWireMessage msg;
    msg.SetFrom("Example Shop <shop@example.com>");
    msg.SetOrganization("Example Shop Ltd");
    msg.SetSubject("Your download is ready");
    msg.Text = {"Dear customer,", "", ".a line that starts with a dot", ".", "Regards"};
    msg.Too = {"customer@example.org"};
    for (const auto& f : files) {
        const fs::path path = work / "files" / f.name;
        std::ofstream(path, std::ios::binary) << f.bytes;
        msg.Attachments.AddAttachment(path.string());
    }

    TWireSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = sink.port();
    smtp.Timeout = 30;
    ASSERT_NO_THROW(smtp.Send(msg));

    ASSERT_EQ(sink.waitForMessages(1, 20000), 1) << "the sink stored no message";

    // The envelope.
    {
        QJsonObject e = sink.envelope(1);
        EXPECT_EQ(e["mail_from"].toString().toStdString(), "shop@example.com");
        EXPECT_EQ(e["rcpt_tos"].toArray().size(), 1);
        EXPECT_EQ(e["rcpt_tos"].toArray()[0].toString().toStdString(), "customer@example.org");
    }

    const QJsonObject summary = sink.parsed(1);
    ASSERT_FALSE(summary.isEmpty()) << "Python could not summarise the stored message";
    EXPECT_TRUE(summary["defects"].toArray().isEmpty());

    // Header names in the order of a first message after start-up.
    std::vector<std::string> names;
    for (const auto& h : summary["headers"].toArray())
        names.push_back(h.toArray()[0].toString().toStdString());
    EXPECT_EQ(names,
        (std::vector<std::string> {"From", "Organization", "Subject", "Date", "Message-ID", "MIME-Version",
            "Content-Type", "To", "X-Library"}));
    const QJsonArray headers = summary["headers"].toArray();
    EXPECT_EQ(headers[0].toArray()[1].toString().toStdString(), "Example Shop <shop@example.com>");
    EXPECT_EQ(headers[7].toArray()[1].toString().toStdString(), "customer@example.org");
    EXPECT_EQ(headers[8].toArray()[1].toString().toStdString(), "Wire 1.0");

    const QJsonObject root = summary["root"].toObject();
    EXPECT_EQ(root["content_type"].toString(), "multipart/mixed");
    EXPECT_EQ(root["params"].toObject()["boundary"].toString(), "=_NextPart_2rfksadvnqw3nerasdf");
    EXPECT_EQ(root["preamble"].toString().trimmed(), "This is a multi-part message in MIME format.");
    const QJsonArray parts = root["parts"].toArray();
    ASSERT_EQ(parts.size(), 1 + static_cast<int>(files.size()));

    const QJsonObject text = parts[0].toObject();
    EXPECT_EQ(text["content_type"].toString(), "text/plain");
    EXPECT_EQ(text["transfer_encoding"].toString(), "7bit");
    EXPECT_EQ(text["text"].toString().toStdString(),
        "Dear customer,\r\n\r\n.a line that starts with a dot\r\n.\r\nRegards\r\n");

    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        const QJsonObject part = parts[static_cast<int>(i) + 1].toObject();
        EXPECT_EQ(part["content_type"].toString(), "application/octet-stream");
        EXPECT_EQ(part["transfer_encoding"].toString(), "base64");
        EXPECT_EQ(part["disposition"].toString(), "attachment");
        EXPECT_EQ(part["filename"].toString().toStdString(), files[i].name);
        EXPECT_EQ(part["params"].toObject()["name"].toString().toStdString(), files[i].name);
        EXPECT_EQ(part["size"].toInt(), static_cast<int>(files[i].bytes.size()));
        const std::string expected = Sha256Of((work / "files" / files[i].name).string());
        ASSERT_EQ(expected.size(), 64u);
        EXPECT_EQ(part["sha256"].toString().toStdString(), expected);
    }
    fs::remove_all(work);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // the sink and the parser run as processes
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
