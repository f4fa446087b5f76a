// The message model: the header store, the derived headers and the header
// block order a sent message ends up with, attachments and the refusal of
// header values that would break their line.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

#include "mail/MailText.h"
#include "mail/WireMessage.h"
#include "net/WireExceptions.h"
#include "tests/support/MessageTestSupport.h"

using og::THeaderStore;
using og::TWireMessage;

namespace {

using Lines = std::vector<std::string>;

const std::string MultipartType = "multipart/mixed; boundary=\"=_NextPart_2rfksadvnqw3nerasdf\"";

// Names of the store's lines, in order.
Lines Names(const THeaderStore& store)
{
    Lines names;
    for (const auto& line : store.Lines())
        names.push_back(line.substr(0, line.find('=')));
    return names;
}

// What the SMTP client sets after PrepareHeaders, in its order.
void ApplyClientHeaderSettings(TWireMessage& m, const std::string& xProgram = {})
{
    m.Headers.SetValue("Newsgroups", og::JoinAddresses(m.Newsgroups));
    m.Headers.SetValue("To", og::JoinAddresses(m.Too));
    m.Headers.SetValue("Cc", og::JoinAddresses(m.CCList));
    m.Headers.SetValue("X-Library", "Wire 1.0");
    m.Headers.SetValue("X-Mailer", xProgram);
}

TEST(HeaderStore, LookupIgnoresCaseAndTakesTheFirstLine)
{
    THeaderStore store;
    store.SetLines({"X-One=first", "x-one=second", "NoSeparator", "Empty=", "Eq=a=b"});
    EXPECT_EQ(store.Value("X-ONE"), "first");
    EXPECT_EQ(store.Value("x-one"), "first");
    EXPECT_EQ(store.Value("Eq"), "a=b");
    EXPECT_EQ(store.Value("Empty"), "");
    EXPECT_EQ(store.Value("NoSeparator"), "") << "a line without \"=\" has no name";
    EXPECT_EQ(store.Value("Missing"), "");
}

TEST(HeaderStore, SetReplacesInPlaceAppendsOrDeletes)
{
    THeaderStore store;
    store.SetValue("From", "a@x");
    store.SetValue("Subject", "Hi");
    store.SetValue("Date", "d");
    EXPECT_EQ(store.Lines(), (Lines {"From=a@x", "Subject=Hi", "Date=d"}));

    // A new value keeps the place; the name is spelled as in the last call.
    store.SetValue("FROM", "b@y");
    EXPECT_EQ(store.Lines(), (Lines {"FROM=b@y", "Subject=Hi", "Date=d"}));

    // Empty deletes; deleting what is not there changes nothing.
    store.SetValue("subject", "");
    store.SetValue("Nothing", "");
    EXPECT_EQ(store.Lines(), (Lines {"FROM=b@y", "Date=d"}));

    // Given a value again, the header comes back at the end.
    store.SetValue("Subject", "Again");
    EXPECT_EQ(Names(store), (Lines {"FROM", "Date", "Subject"}));

    store.Clear();
    EXPECT_TRUE(store.empty());
}

TEST(HeaderStore, SetTouchesOnlyTheFirstOfDuplicateNames)
{
    THeaderStore store;
    store.SetLines({"A=1", "a=2"});
    store.SetValue("A", "3");
    EXPECT_EQ(store.Lines(), (Lines {"A=3", "a=2"}));
    store.SetValue("A", "");
    EXPECT_EQ(store.Lines(), (Lines {"a=2"}));
}

TEST(MessageProperties, ReadAndWriteTheirHeaders)
{
    TWireMessage m;
    m.SetFrom("Shop <sales@shop.example>");
    m.SetOrganization("Shop Ltd");
    m.SetReferences("<r@x>");
    m.SetReplyTo("help@shop.example");
    m.SetSubject("Your download");
    m.SetMsgID("<id@x>");
    EXPECT_EQ(m.Headers.Lines(),
        (Lines {"From=Shop <sales@shop.example>", "Organization=Shop Ltd", "References=<r@x>",
            "Reply-To=help@shop.example", "Subject=Your download", "Message-ID=<id@x>"}));
    EXPECT_EQ(m.Subject(), "Your download");
    m.Headers.SetValue("reply-to", "other@x");
    EXPECT_EQ(m.ReplyTo(), "other@x");
    m.SetOrganization("");
    EXPECT_EQ(m.Headers.IndexOfName("Organization"), -1);
}

TEST(MessageDefaults, ConstructionAndClear)
{
    TWireMessage m;
    EXPECT_EQ(m.ContentType, "text/plain");
    EXPECT_TRUE(m.UseNowForDate);
    EXPECT_TRUE(m.ExtractAttachments);
    EXPECT_FALSE(m.NoDecode);

    m.SetFrom("a@x");
    m.Too = {"b@y"};
    m.CCList = {"c@z"};
    m.BCCList = {"d@w"};
    m.Newsgroups = {"n"};
    m.Text = {"hello"};
    m.Attachments.AddAttachment("/tmp/f");
    m.MessageParts.Add();
    m.DefaultDomain = "x";
    m.MsgNo = 7;
    m.ContentType = "text/html";
    m.Clear();
    EXPECT_TRUE(m.Headers.empty() && m.Too.empty() && m.CCList.empty() && m.BCCList.empty());
    EXPECT_TRUE(m.Newsgroups.empty() && m.Text.empty() && m.Attachments.empty() && m.MessageParts.empty());
    EXPECT_EQ(m.DefaultDomain, "");
    EXPECT_EQ(m.MsgNo, 0);
    EXPECT_EQ(m.ContentType, "text/html") << "Clear keeps the content type";
}

TEST(Attachments, StoredNameIsTheLastPathComponent)
{
    og::TAttachments list;
    EXPECT_EQ(list.AddAttachment("/home/v/docs/report.pdf").StoredName, "report.pdf");
    EXPECT_EQ(list.AddAttachment("C:\\Shop\\report.pdf").StoredName, "report.pdf");
    EXPECT_EQ(list.AddAttachment("D:notes.txt").StoredName, "notes.txt");
    EXPECT_EQ(list.AddAttachment("plain.zip").StoredName, "plain.zip");
    EXPECT_EQ(list.AddAttachment("/folder/").StoredName, "");
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list.at(1).FileName, "C:\\Shop\\report.pdf");
    // References handed out earlier stay valid as the list grows.
    og::TAttachment& first = list.at(0);
    for (int i = 0; i < 100; ++i)
        list.AddAttachment("x" + std::to_string(i));
    EXPECT_EQ(first.StoredName, "report.pdf");
}

TEST(PrepareHeaders, AttachmentsMakeAMultipartMessage)
{
    og::test::ZoneScope zone("UTC");
    TWireMessage m;
    m.Attachments.AddAttachment("/tmp/a.zip");
    m.PrepareHeaders();
    EXPECT_EQ(Names(m.Headers), (Lines {"Date", "Message-ID", "MIME-Version", "Content-Type"}));
    EXPECT_EQ(m.Headers.Value("MIME-Version"), "1.0");
    EXPECT_EQ(m.Headers.Value("Content-Type"), MultipartType);
    EXPECT_EQ(m.Headers.Value("Date").substr(m.Headers.Value("Date").size() - 6), " +0000");
}

TEST(PrepareHeaders, WithoutAttachmentsTheVersionLineGoesAndTheTextTypeStays)
{
    TWireMessage m;
    m.UseNowForDate = false;
    m.UseNewMessageID = false;
    m.Attachments.AddAttachment("/tmp/a.zip");
    m.PrepareHeaders();
    m.Attachments.Clear();
    m.PrepareHeaders();
    EXPECT_EQ(m.Headers.Lines(), (Lines {"Content-Type=text/plain"}));
    EXPECT_EQ(m.Headers.Value("Date"), "") << "no date without UseNowForDate";

    m.ContentType = "";
    m.PrepareHeaders();
    EXPECT_TRUE(m.Headers.empty());
}

TEST(HeaderOrder, AFirstMessageAndTheNextKeepTheClientOrder)
{
    TWireMessage m;
    // What the mailer sets for a run.
    m.SetFrom("sales@shop.example");
    m.SetOrganization("Shop Ltd");
    m.SetSubject("Your download");
    m.Text = {"Hello"};
    m.Attachments.AddAttachment("/tmp/message.txt");
    m.Too = {"first@customer.example"};
    m.BCCList = {"hidden@shop.example"};

    m.PrepareHeaders();
    ApplyClientHeaderSettings(m);
    const Lines order {
        "From", "Organization", "Subject", "Date", "Message-ID", "MIME-Version", "Content-Type", "To", "X-Library"};
    EXPECT_EQ(Names(m.Headers), order);
    EXPECT_EQ(m.Headers.Value("To"), "first@customer.example");
    EXPECT_EQ(m.Headers.Value("X-Library"), "Wire 1.0");
    for (const auto& line : m.Headers.Lines())
        EXPECT_EQ(line.find("hidden@"), std::string::npos) << "blind copies never reach a header";

    // Next customer: the same lines in the same places, new values.
    m.Too = {"second@customer.example", "third@customer.example"};
    m.PrepareHeaders();
    ApplyClientHeaderSettings(m);
    EXPECT_EQ(Names(m.Headers), order);
    EXPECT_EQ(m.Headers.Value("To"), "second@customer.example,third@customer.example");
}

TEST(HeaderOrder, OptionalHeadersComeAndGoByTheStoreRules)
{
    TWireMessage m;
    m.SetFrom("sales@shop.example");
    m.SetSubject("s");
    m.Too = {"a@x"};
    m.CCList = {"cc@x"};
    m.Newsgroups = {"comp.x", "comp.y"};
    m.PrepareHeaders();
    ApplyClientHeaderSettings(m, "Ordergate");
    EXPECT_EQ(Names(m.Headers),
        (Lines {"From", "Subject", "Date", "Message-ID", "Content-Type", "Newsgroups", "To", "Cc", "X-Library",
            "X-Mailer"}));
    EXPECT_EQ(m.Headers.Value("Newsgroups"), "comp.x,comp.y");

    // Emptied lists and program name remove their lines; an organisation
    // entered only now follows the client's lines.
    m.CCList.clear();
    m.Newsgroups.clear();
    m.SetOrganization("Shop Ltd");
    m.PrepareHeaders();
    ApplyClientHeaderSettings(m);
    EXPECT_EQ(Names(m.Headers),
        (Lines {"From", "Subject", "Date", "Message-ID", "Content-Type", "To", "X-Library", "Organization"}));
}

TEST(SetDate, WritesTheLocalDateHeader)
{
    og::test::ZoneScope zone("EST5EDT");
    TWireMessage m;
    m.SetDate(1046891229);
    EXPECT_EQ(m.Headers.Value("Date"), "Wed, 5 Mar 2003 14:07:09 -0500");
}

TEST(CheckHeaderValues, LineBreaksInHeadersOrRecipientsAreRefused)
{
    auto refusal = [](const TWireMessage& m) -> std::string {
        try {
            m.CheckHeaderValues();
        } catch (const og::EWireException& e) {
            return e.Message();
        }
        return "";
    };
    TWireMessage m;
    m.SetFrom("sales@shop.example");
    m.SetSubject("Plain subject");
    m.Too = {"a@x"};
    m.Attachments.AddAttachment("/tmp/report.pdf");
    EXPECT_EQ(refusal(m), "");

    TWireMessage subject = m;
    subject.SetSubject("Hi\r\nBcc: victim@x");
    EXPECT_NE(refusal(subject).find("\"Subject\""), std::string::npos) << refusal(subject);

    TWireMessage from = m;
    from.SetFrom("a@x\nX-Evil: 1");
    EXPECT_NE(refusal(from).find("\"From\""), std::string::npos);

    TWireMessage lone = m;
    lone.Headers.SetValue("X-Custom", "a\rb");
    EXPECT_NE(refusal(lone).find("\"X-Custom\""), std::string::npos);

    for (auto list : {&TWireMessage::Too, &TWireMessage::CCList, &TWireMessage::BCCList}) {
        TWireMessage r = m;
        (r.*list).push_back("b@y>\r\nRCPT to:<c@z");
        EXPECT_NE(refusal(r), "");
    }

    TWireMessage type = m;
    type.ContentType = "text/plain\r\nX-Evil: 1";
    EXPECT_NE(refusal(type), "");

    TWireMessage name = m;
    name.Attachments.AddAttachment("/tmp/a\"\r\nContent-Type: text/html\r\n.pdf");
    EXPECT_NE(refusal(name), "");
    // The error text itself stays on one line, fit for a message box.
    EXPECT_FALSE(og::HoldsLineBreak(refusal(name))) << refusal(name);

    TWireMessage badName = m;
    badName.Headers.Add("X-Bad\r\nInjected=1");
    EXPECT_NE(refusal(badName), "");
    EXPECT_FALSE(og::HoldsLineBreak(refusal(badName)));
}

} // namespace

namespace {

TEST(PrepareHeaders, EveryMessageGetsItsOwnMessageIdAfterTheDate)
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::regex shape("<[0-9a-v]+\\.[0-9a-v]{24}@([^>]+)>");
    // The domain: the sender's, else the machine's name.
    for (const auto& [from, domain] : std::vector<std::pair<std::string, std::string>> {
             {"José <jose@shop.example>", "shop.example"}, {"sales@x.example", "x.example"}, {"", host}}) {
        TWireMessage m;
        m.SetFrom(from);
        m.SetSubject("s");
        m.PrepareHeaders();
        const std::string first = m.MsgID();
        std::smatch match;
        ASSERT_TRUE(std::regex_match(first, match, shape)) << first;
        EXPECT_EQ(match[1].str(), domain);
        m.PrepareHeaders();
        EXPECT_NE(m.MsgID(), first) << "a new message, a new identity";
        EXPECT_EQ(m.Headers.IndexOfName("Message-ID"), m.Headers.IndexOfName("Date") + 1);
    }
}

TEST(CheckHeaderValues, AddressesOtherThanAsciiAreRefusedByName)
{
    TWireMessage m;
    m.SetFrom("José Müller <jose@shop.example>");
    m.Too = {"Zoë <zoe@example.org>"};
    EXPECT_NO_THROW(m.CheckHeaderValues()) << "names may hold any character";
    for (auto list : {&TWireMessage::Too, &TWireMessage::CCList, &TWireMessage::BCCList}) {
        TWireMessage r = m;
        (r.*list).push_back("Zoë <zoë@example.org>");
        try {
            r.CheckHeaderValues();
            ADD_FAILURE() << "accepted";
        } catch (const og::EWireException& e) {
            EXPECT_NE(e.Message().find("\"zoë@example.org\""), std::string::npos) << e.Message();
        }
    }
    TWireMessage from = m;
    from.SetFrom("jösé@shop.example");
    EXPECT_THROW(from.CheckHeaderValues(), og::EWireException);
}

} // namespace
