// Address parsing and the small text helpers the message layer builds on.

#include <gtest/gtest.h>

#include "mail/EncodeWire.h"
#include "mail/MailText.h"
#include "mail/MimeText.h"
#include "net/WireExceptions.h"

using og::ParseAddress;

namespace {

using Parsed = std::pair<std::string, std::string>;

TEST(ParseAddress, AngleBracketsGiveAddressAndName)
{
    EXPECT_EQ(ParseAddress("Jane Doe <jane@example.com>"), Parsed("jane@example.com", "Jane Doe"));
    EXPECT_EQ(ParseAddress("  Jane   < jane@example.com >"), Parsed("jane@example.com", "Jane"));
    // Only the first "<" opens the address.
    EXPECT_EQ(ParseAddress("a <b <c@d>"), Parsed("b <c@d", "a"));
}

TEST(ParseAddress, ParenthesesGiveAddressAndName)
{
    EXPECT_EQ(ParseAddress("jane@example.com (Jane Doe)"), Parsed("jane@example.com", "Jane Doe"));
    EXPECT_EQ(ParseAddress("jane@example.com()"), Parsed("jane@example.com", "jane@example.com"));
}

TEST(ParseAddress, QuotesAroundTheNameAreRemovedRepeatedly)
{
    EXPECT_EQ(ParseAddress("\"Jane Doe\" <j@x.org>"), Parsed("j@x.org", "Jane Doe"));
    EXPECT_EQ(ParseAddress("'Jane' <j@x.org>"), Parsed("j@x.org", "Jane"));
    EXPECT_EQ(ParseAddress("\"'Jane'\" <j@x.org>"), Parsed("j@x.org", "Jane"));
    // Unbalanced quotes stay.
    EXPECT_EQ(ParseAddress("\"Jane <j@x.org>"), Parsed("j@x.org", "\"Jane"));
    // A lone quote is one character: kept.
    EXPECT_EQ(ParseAddress("\" <j@x.org>"), Parsed("j@x.org", "\""));
    // Quotes around nothing leave an empty name, which becomes the address.
    EXPECT_EQ(ParseAddress("\"\" <j@x.org>"), Parsed("j@x.org", "j@x.org"));
}

TEST(ParseAddress, BareAddressIsBothAndStaysUntrimmed)
{
    EXPECT_EQ(ParseAddress("jane@example.com"), Parsed("jane@example.com", "jane@example.com"));
    EXPECT_EQ(ParseAddress(" jane@example.com "), Parsed(" jane@example.com ", " jane@example.com "));
    EXPECT_EQ(ParseAddress(""), Parsed("", ""));
}

TEST(ParseAddress, BracketsWithoutOpeningOrContentGiveNoAddress)
{
    EXPECT_EQ(ParseAddress("jane@example.com>"), Parsed("", ""));
    EXPECT_EQ(ParseAddress("Jane <>"), Parsed("", "Jane"));
    EXPECT_EQ(ParseAddress("Jane < >").first, "");
    EXPECT_EQ(ParseAddress("jane)"), Parsed("", ""));
}

TEST(RequireAddress, ReturnsAddressOrRaisesNamingWhatIsMissing)
{
    EXPECT_EQ(og::ExtractAddress("Shop <sales@shop.example>"), "sales@shop.example");
    EXPECT_EQ(og::RequireAddress("Shop <sales@shop.example>", "From"), "sales@shop.example");
    for (const char* bad : {"", "Shop <>", "nobody>"}) {
        try {
            og::RequireAddress(bad, "From");
            ADD_FAILURE() << "no error for \"" << bad << "\"";
        } catch (const og::EWireException&) {
            ADD_FAILURE() << "a missing sender is not a network error";
        } catch (const og::Exception& e) {
            EXPECT_EQ(e.Message(), "From not specified.");
        }
    }
}

TEST(JoinAddresses, CommaWithoutBlankAndItemsAsTheyAre)
{
    EXPECT_EQ(og::JoinAddresses({}), "");
    EXPECT_EQ(og::JoinAddresses({"a@x"}), "a@x");
    EXPECT_EQ(og::JoinAddresses({"a@x", "b@y"}), "a@x,b@y");
    EXPECT_EQ(og::JoinAddresses({" a@x ", "", "B <b@y>"}), " a@x ,,B <b@y>");
}

TEST(ReplaceText, FirstOrAllOccurrences)
{
    EXPECT_EQ(og::ReplaceText("Name=a=b", "=", ": ", 0), "Name: a=b");
    EXPECT_EQ(og::ReplaceText("Name=a=b", "=", ": ", og::rfReplaceAll), "Name: a: b");
    EXPECT_EQ(og::ReplaceText("", "=", ": ", og::rfReplaceAll), "");
    EXPECT_EQ(og::ReplaceText("no pattern", "=", ": ", 0), "no pattern");
    // Replacement holding the pattern is not searched again.
    EXPECT_EQ(og::ReplaceText("aaa", "a", "aa", og::rfReplaceAll), "aaaaaa");
    EXPECT_EQ(og::ReplaceText("abab", "ab", "", og::rfReplaceAll), "");
}

TEST(ReplaceText, IgnoreCaseKeepsTheSourceText)
{
    EXPECT_EQ(og::ReplaceText("Hello hELLo", "hello", "X", og::rfIgnoreCase), "X hELLo");
    EXPECT_EQ(og::ReplaceText("Hello hELLo", "hello", "X", og::rfIgnoreCase | og::rfReplaceAll), "X X");
    EXPECT_EQ(og::ReplaceText("Hello hELLo", "hello", "X", 0), "Hello hELLo");
    EXPECT_EQ(og::ReplaceText("ABC abc", "b", "-", og::rfIgnoreCase | og::rfReplaceAll), "A-C a-c");
}

TEST(TrimControl, RemovesBlanksAndControlsAtBothEndsOnly)
{
    EXPECT_EQ(og::TrimControl(" \t\r\n a b \x01\x1f "), "a b");
    EXPECT_EQ(og::TrimControl("\x7f"), "\x7f");
    EXPECT_EQ(og::TrimControl("   "), "");
    EXPECT_EQ(og::TrimControl("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9"); // UTF-8 bytes are kept
}

TEST(SplitLineBreaks, EveryKindOfBreakEndsALine)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(og::SplitLineBreaks("plain"), V {"plain"});
    EXPECT_EQ(og::SplitLineBreaks(""), V {""});
    EXPECT_EQ(og::SplitLineBreaks("a\r\nb\nc\rd"), (V {"a", "b", "c", "d"}));
    EXPECT_EQ(og::SplitLineBreaks("a\n\nb"), (V {"a", "", "b"}));
    EXPECT_EQ(og::SplitLineBreaks("a\r\n"), (V {"a", ""}));
    EXPECT_EQ(og::SplitLineBreaks("\n\r"), (V {"", "", ""}));
    EXPECT_TRUE(og::HoldsLineBreak("x\ry"));
    EXPECT_TRUE(og::HoldsLineBreak("x\n"));
    EXPECT_FALSE(og::HoldsLineBreak("x\ty"));
}

} // namespace

namespace {

TEST(MimeText, QuotedPrintableKeepsLinesShortAndBlanksVisible)
{
    using Lines = std::vector<std::string>;
    const std::string long80(80, 'a');
    const std::vector<std::pair<Lines, Lines>> cases {
        {{"plain", ""}, {"plain", ""}},
        {{"a=b \t", " x"}, {"a=3Db =09", " x"}},
        {{"Grüße"}, {"Gr=C3=BC=C3=9Fe"}},
        {{long80}, {std::string(75, 'a') + "=", "aaaaa"}},
        // An escape is never cut, and the last character may use the break's place.
        {{std::string(74, 'a') + "é"}, {std::string(74, 'a') + "=", "=C3=A9"}},
        {{std::string(75, 'a') + "b"}, {std::string(75, 'a') + "b"}},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(og::QuotedPrintableLines(in), out) << in.front();
}

TEST(MimeText, FoldingCutsBeforeBlanksOnly)
{
    using Lines = std::vector<std::string>;
    const std::string w(40, 'w');
    EXPECT_EQ(og::FoldHeader("Subject: short"), (Lines {"Subject: short"}));
    EXPECT_EQ(og::FoldHeader("Subject: " + w + " " + w), (Lines {"Subject: " + w, " " + w}));
    // One overlong word stays whole; trailing blanks never make a line of their own.
    EXPECT_EQ(og::FoldHeader("Subject: " + w + w + "  "), (Lines {"Subject: " + w + w + "  "}));
    EXPECT_EQ(og::FoldHeader("X: " + w + w + " a"), (Lines {"X: " + w + w, " a"}));
    // A first word that fits on a line of its own goes there.
    const std::string mailto = "<mailto:" + std::string(53, 'm') + "@x.example>";
    EXPECT_EQ(og::FoldHeader("List-Unsubscribe: " + mailto + ", <https://x.example/u>"),
        (Lines {"List-Unsubscribe:", " " + mailto + ",", " <https://x.example/u>"}));
}

// Text for a header from a value typed or filled in: what a reader would
// decode is encoded, control characters go, and no line passes the limits.
TEST(MimeText, UnstructuredTextLeavesControlsOutAndEncodesWhatLooksEncoded)
{
    const struct {
        std::string value;
        std::string text;
        bool cut, encoded;
    } cases[] = {
        {"Order 5001", "Order 5001", false, false},
        {"Tab\tstays \x1b[2Jgone\x7f\xc2\x85", "Tab\tstays [2Jgone", false, false},
        {"=?utf-8?b?SGk=?=", "=?utf-8?b?SGk=?=", false, true},
        {std::string(20000, 'a') + "é", std::string(998, 'a'), true, true},
        {std::string(997, 'a') + "é", std::string(997, 'a'), true, true},
    };
    for (const auto& c : cases) {
        bool cut = false;
        const std::string text = og::UnstructuredText(c.value, &cut);
        EXPECT_EQ(text, c.text) << c.value.substr(0, 40);
        EXPECT_EQ(cut, c.cut) << c.value.substr(0, 40);
        EXPECT_EQ(og::NeedsEncodedWords(text, 7), c.encoded) << c.value.substr(0, 40);
    }
}

TEST(MimeText, EncodedWordsNeverSplitACharacter)
{
    const std::string text = "日本語のテキスト" + std::string("とても長い名前") + "です";
    const auto words = og::EncodedWords(text, 40);
    ASSERT_GT(words.size(), 1u);
    std::string decoded;
    for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_LE(words[i].size(), i == 0 ? 40u : 75u);
        const std::string payload = words[i].substr(10, words[i].size() - 12);
        std::string part;
        for (std::size_t k = 0; k < payload.size(); k += 4)
            part += og::TWireDecoder::DecodeUnit(payload.substr(k, 4));
        EXPECT_EQ(part.size() % 3, 0u) << "whole three-byte characters only";
        decoded += part;
    }
    EXPECT_EQ(decoded, text);
    EXPECT_EQ(og::QuotedParameter("we\"ird\\name"), "\"we\\\"ird\\\\name\"");
}

} // namespace
