// The body writer as a server sees it: a real client connected to the
// scripted server on 127.0.0.1, which records the bytes that reach the wire.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mail/MailText.h"
#include "mail/WireMessage.h"
#include "net/WireExceptions.h"
#include "smtp/MessageClient.h"
#include "tests/support/MessageTestSupport.h"
#include "tests/support/ScriptedSmtpServer.h"

using og::TWireMessage;
using og::TWireMessageClient;

namespace {

const std::string Separator = "--=_NextPart_2rfksadvnqw3nerasdf";

std::string PartHeader(const std::string& storedName)
{
    return "\r\n" + Separator +
        "\r\n"
        "Content-Type: application/octet-stream;\r\n"
        "        name=\"" +
        storedName +
        "\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;\r\n"
        "        filename=\"" +
        storedName +
        "\"\r\n"
        "\r\n";
}

std::string TextPartHeader(const std::string& contentType)
{
    return "This is a multi-part message in MIME format.\r\n"
           "\r\n" +
        Separator +
        "\r\n"
        "Content-Type: " +
        contentType +
        "\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n";
}

// Connects a client to a fresh sink, lets `write` use it, disconnects and
// returns the bytes the sink saw. An exception from `write` is rethrown after
// the bytes were collected into `received`.
template <class Client = TWireMessageClient, class Write>
std::string Capture(Write&& write, std::string* errorMessage = nullptr)
{
    og::test::ScriptedSmtpServer sink(
        [](og::test::ServerSession& s, int) { s.WaitForPeerClose(std::chrono::seconds(20)); });
    Client client;
    client.Host = "127.0.0.1";
    client.Port = sink.Port();
    client.Timeout = 20;
    client.Connect();
    try {
        write(client);
    } catch (const og::Exception& e) {
        if (!errorMessage)
            throw;
        *errorMessage = e.Message();
    }
    client.Disconnect();
    sink.Join();
    return sink.Received().at(0);
}

TEST(BodyText, LeadingDotsAreDoubledAndNothingElseChanges)
{
    TWireMessage m;
    m.Text = {"Hello", ".", ".hidden", "", "a.b", "..", " .x"};
    const std::string wire = Capture([&](TWireMessageClient& c) { c.Send(m); });
    EXPECT_EQ(wire, "Hello\r\n..\r\n..hidden\r\n\r\na.b\r\n...\r\n .x\r\n");
}

TEST(BodyText, EmbeddedLineBreaksCannotEndTheDataEarly)
{
    TWireMessage m;
    m.Text = {"a\r\n.\r\nMAIL FROM:<x@y>", "b\n.c", "d\r.\re", "tail\r\n"};
    const std::string wire = Capture([&](TWireMessageClient& c) { c.Send(m); });
    EXPECT_EQ(wire, "a\r\n..\r\nMAIL FROM:<x@y>\r\nb\r\n..c\r\nd\r\n..\r\ne\r\ntail\r\n\r\n");
    // Only whole CR LF pairs remain, and no line is a lone dot.
    EXPECT_EQ(wire.find("\r\n.\r\n"), std::string::npos);
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\n') {
            EXPECT_TRUE(i > 0 && wire[i - 1] == '\r') << "bare LF at " << i;
        }
        if (wire[i] == '\r') {
            EXPECT_TRUE(i + 1 < wire.size() && wire[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

TEST(BodyText, EmptyTextWithoutAttachmentsSendsNothing)
{
    TWireMessage m;
    EXPECT_EQ(Capture([&](TWireMessageClient& c) { c.Send(m); }), "");
}

TEST(BodyMultipart, TextAndAttachmentsOfEveryEdgeSize)
{
    og::test::TempDir dir;
    const std::string empty = dir.Write("empty.dat", "");
    const std::string f45 = dir.Write("f45.bin", og::test::PatternBytes(45, 45));
    const std::string f46 = dir.Write("f46.bin", og::test::PatternBytes(46, 46));
    const std::string big = dir.Write("big.bin", og::test::PatternBytes(200 * 1024, 7));

    TWireMessage m;
    m.ContentType = "text/plain; charset=utf-8";
    m.Text = {"Dear customer,", ".", "Thanks"};
    for (const auto& f : {empty, f45, f46, big})
        m.Attachments.AddAttachment(f);

    const std::string wire = Capture([&](TWireMessageClient& c) { c.Send(m); });

    std::string expected = TextPartHeader("text/plain; charset=utf-8") + "Dear customer,\r\n..\r\nThanks\r\n";
    expected += PartHeader("empty.dat") + "\r\n";
    expected += PartHeader("f45.bin") + og::test::SystemBase64(f45, 60) + "\r\n";
    expected += PartHeader("f46.bin") + og::test::SystemBase64(f46, 60) + "\r\n";
    expected += PartHeader("big.bin") + og::test::SystemBase64(big, 60) + "\r\n";
    expected += Separator + "--\r\n";
    ASSERT_EQ(wire.size(), expected.size());
    EXPECT_TRUE(wire == expected);

    // The 45- and 46-byte files: one full line; a full line and a padded one.
    const auto at45 = wire.find("filename=\"f45.bin\"\r\n\r\n") + 22;
    EXPECT_EQ(wire.substr(at45 + 60, 4), "\r\n\r\n");
    const auto at46 = wire.find("filename=\"f46.bin\"\r\n\r\n") + 22;
    EXPECT_EQ(wire.substr(at46 + 60, 2), "\r\n");
    EXPECT_EQ(wire.substr(at46 + 62 + 2, 4), "==\r\n");
}

TEST(BodyMultipart, EmptyTextGoesStraightToTheFirstAttachment)
{
    og::test::TempDir dir;
    const std::string file = dir.Write("message.txt", "Hi\r\n");
    TWireMessage m;
    m.Attachments.AddAttachment(file);
    const std::string wire = Capture([&](TWireMessageClient& c) { c.Send(m); });
    EXPECT_EQ(
        wire, TextPartHeader("text/plain") + PartHeader("message.txt") + "SGkNCg==\r\n\r\n" + Separator + "--\r\n");
    EXPECT_NE(wire.find("7bit\r\n\r\n\r\n" + Separator), std::string::npos);
}

TEST(BodyMultipart, UnopenableAttachmentStopsAfterItsPartHeader)
{
    og::test::TempDir dir;
    const std::string good = dir.Write("good.txt", "abc");
    const std::string missing = (dir.path() / "gone.pdf").string();
    TWireMessage m;
    m.Text = {"t"};
    m.Attachments.AddAttachment(good);
    m.Attachments.AddAttachment(missing);
    m.Attachments.AddAttachment(good);

    std::string error;
    const std::string wire = Capture([&](TWireMessageClient& c) { c.Send(m); }, &error);
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_EQ(wire,
        TextPartHeader("text/plain") + "t\r\n" + PartHeader("good.txt") + "YWJj\r\n\r\n" + PartHeader("gone.pdf"));
}

TEST(BodyMultipart, ProgressCountsTheFileAndEndsEachTransfer)
{
    og::test::TempDir dir;
    const std::string a = dir.Write("a.bin", og::test::PatternBytes(5000));
    const std::string b = dir.Write("b.bin", og::test::PatternBytes(3000));
    TWireMessage m;
    m.Attachments.AddAttachment(a);
    m.Attachments.AddAttachment(b);

    std::vector<std::pair<int64_t, int64_t>> work;
    Capture([&](TWireMessageClient& c) {
        c.OnWork = [&](og::TWireSocket&, int64_t done, int64_t size) { work.emplace_back(done, size); };
        c.Send(m);
    });
    // 5000 bytes pass 1, 2, 3 and 4 KB; then the end. 3000 bytes pass 1 and
    // 2 KB; the kilobyte count starts again after each end.
    using W = std::vector<std::pair<int64_t, int64_t>>;
    const W expected {
        {1035, 5000}, {2070, 5000}, {3105, 5000}, {4140, 5000}, {-1, -1}, {1035, 3000}, {2070, 3000}, {-1, -1}};
    EXPECT_EQ(work, expected);
}

TEST(HeaderBlock, PreparedHeadersBecomeNameColonValueLines)
{
    og::test::TempDir dir;
    TWireMessage m;
    m.UseNowForDate = false;
    m.UseNewMessageID = false;
    m.SetFrom("Shop <sales@shop.example>");
    m.SetSubject("a=b");
    m.Attachments.AddAttachment(dir.Write("x.txt", "x"));
    m.PrepareHeaders();
    m.Headers.SetValue("To", "c@x");
    const std::string wire = Capture([&](TWireMessageClient& c) { c.WriteHeaders(m.Headers.Lines()); });
    EXPECT_EQ(wire,
        "From: Shop <sales@shop.example>\r\n"
        "Subject: a=b\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"=_NextPart_2rfksadvnqw3nerasdf\"\r\n"
        "To: c@x\r\n"
        "\r\n");
}

// A client whose progress report fails part-way, as a broken connection or a
// cancelling handler would.
class FailingProgressClient : public TWireMessageClient {
public:
    void DoWork(int64_t total) override
    {
        if (total > 450)
            throw og::EWireException("stop at " + std::to_string(total));
        TWireMessageClient::DoWork(total);
    }
};

TEST(BodyMultipart, AFailureInsideAFileEndsTheTransferWithoutTheClosingLines)
{
    og::test::TempDir dir;
    const std::string file = dir.Write("a.bin", og::test::PatternBytes(4500));
    TWireMessage m;
    m.Attachments.AddAttachment(file);
    std::vector<std::pair<int64_t, int64_t>> work;
    std::string error;
    int64_t workSizeAfter = 0;
    const std::string wire = Capture<FailingProgressClient>(
        [&](TWireMessageClient& c) {
            c.OnWork = [&](og::TWireSocket&, int64_t done, int64_t size) { work.emplace_back(done, size); };
            try {
                c.Send(m);
            } catch (...) {
                workSizeAfter = c.WorkSize;
                throw;
            }
        },
        &error);
    EXPECT_EQ(error, "stop at 495");
    EXPECT_EQ(workSizeAfter, -2);
    ASSERT_FALSE(work.empty());
    EXPECT_EQ(work.back(), std::make_pair(int64_t(-1), int64_t(-1)));
    // Eleven lines went out, the eleventh being the one whose report failed.
    const std::string lines = og::test::SystemBase64(file, 60);
    EXPECT_EQ(wire, TextPartHeader("text/plain") + PartHeader("a.bin") + lines.substr(0, 11 * 62));
}

} // namespace

namespace {

// The same message onto a list, into a file's stream and onto a connection:
// only the connection doubles leading dots.
TEST(LineSinks, ListFileAndConnectionReceiveTheSameMessage)
{
    og::test::TempDir dir;
    TWireMessage m;
    m.UseNowForDate = false;
    m.UseNewMessageID = false;
    m.SetFrom("sales@shop.example");
    m.Too = {"c@x"};
    m.Text = {"Hi", ".hidden\r\nnext"};
    m.Attachments.AddAttachment(dir.Write("a.txt", "abc"));
    m.PrepareToSend("");

    og::TLineList list;
    m.WriteTo(list);
    const std::vector<std::string> expected {"From: sales@shop.example", "MIME-Version: 1.0",
        "Content-Type: multipart/mixed; boundary=\"=_NextPart_2rfksadvnqw3nerasdf\"", "To: c@x", "X-Library: Wire 1.0",
        "", "This is a multi-part message in MIME format.", "", Separator, "Content-Type: text/plain",
        "Content-Transfer-Encoding: 7bit", "", "Hi", ".hidden", "next", "", Separator,
        "Content-Type: application/octet-stream;", "        name=\"a.txt\"", "Content-Transfer-Encoding: base64",
        "Content-Disposition: attachment;", "        filename=\"a.txt\"", "", "YWJj", "", Separator + "--"};
    EXPECT_EQ(list.Lines, expected);

    std::ostringstream file;
    og::TStreamLineSink fileSink(file);
    m.WriteTo(fileSink);
    std::string joined;
    for (const auto& line : expected)
        joined += line + "\r\n";
    EXPECT_EQ(file.str(), joined);

    const std::string wire = Capture([&](TWireMessageClient& c) { c.WriteMessage(m); });
    EXPECT_EQ(wire, og::ReplaceText(joined, "\r\n.hidden", "\r\n..hidden", 0));
}

} // namespace
