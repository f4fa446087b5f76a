// Base64: the short-string operations against published vectors, file
// encoding against the system's own base64 tool, and the output objects.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mail/EncodeWire.h"
#include "net/Wire.h"
#include "net/WireExceptions.h"
#include "tests/support/MessageTestSupport.h"

using og::TWireDecoder;
using og::TWireEncoder;

namespace {

std::string Join(const std::vector<std::string>& lines, std::size_t count)
{
    std::string joined;
    for (std::size_t i = 0; i < count; ++i)
        joined += lines[i];
    return joined;
}

template <class F>
std::string MessageOf(F&& action)
{
    try {
        action();
    } catch (const og::Exception& e) {
        return e.Message();
    }
    return "<no error>";
}

TEST(Base64Strings, PublishedVectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(TWireEncoder::EncodeString(plain), encoded) << plain;
        EXPECT_EQ(TWireDecoder::DecodeString(encoded), plain) << encoded;
    }
}

TEST(Base64Strings, UnitsPadToFourCharacters)
{
    EXPECT_EQ(TWireEncoder::EncodeUnit("Man"), "TWFu");
    EXPECT_EQ(TWireEncoder::EncodeUnit("Ma"), "TWE=");
    EXPECT_EQ(TWireEncoder::EncodeUnit("M"), "TQ==");
    // The top of the alphabet and high bytes.
    EXPECT_EQ(TWireEncoder::EncodeUnit(std::string("\xff\xff\xff", 3)), "////");
    EXPECT_EQ(TWireEncoder::EncodeUnit(std::string("\xfb\xef", 2)), "++8=");
    EXPECT_EQ(TWireEncoder::EncodeUnit(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(TWireDecoder::DecodeUnit("////"), std::string("\xff\xff\xff", 3));
    EXPECT_EQ(TWireDecoder::DecodeUnit("++8="), std::string("\xfb\xef", 2));
    EXPECT_EQ(TWireDecoder::DecodeUnit("TQ=="), "M");
}

TEST(Base64Strings, AllByteValuesRoundTrip)
{
    const std::string bytes = og::test::PatternBytes(255);
    const std::string encoded = TWireEncoder::EncodeString(bytes);
    EXPECT_EQ(encoded.size(), 340u);
    EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
        std::string::npos);
    EXPECT_EQ(TWireDecoder::DecodeString(encoded), bytes);
}

TEST(Base64Strings, ShortStringLimitOf255Bytes)
{
    const std::string long_(300, 'x');
    EXPECT_EQ(TWireEncoder::EncodeString(long_), TWireEncoder::EncodeString(long_.substr(0, 255)));
    EXPECT_EQ(TWireEncoder::EncodeBytes(long_).size(), 400u);
    // Decoding stops at 255 bytes as well.
    EXPECT_EQ(TWireDecoder::DecodeString(TWireEncoder::EncodeBytes(long_)), long_.substr(0, 255));
}

TEST(Base64Strings, DecoderRejectsWrongGroupLengthAndIgnoresTail)
{
    EXPECT_EQ(MessageOf([] { TWireDecoder::DecodeUnit("abc"); }), "DecodeUnit length error.");
    EXPECT_EQ(MessageOf([] { TWireDecoder::DecodeUnit("abcde"); }), "DecodeUnit length error.");
    EXPECT_EQ(TWireDecoder::DecodeString("Zm9vYg=="), "foob");
    EXPECT_EQ(TWireDecoder::DecodeString("Zm9vYg="), "foo"); // the unfinished group is dropped
    EXPECT_EQ(TWireDecoder::DecodeString(""), "");
}

class Base64File : public ::testing::TestWithParam<std::size_t> { };

TEST_P(Base64File, LinesMatchTheSystemToolAndHaveTheRightShape)
{
    og::test::TempDir dir;
    const std::size_t size = GetParam();
    const std::string file = dir.Write("data.bin", og::test::PatternBytes(size, static_cast<uint32_t>(size)));

    TWireEncoder encoder;
    std::vector<std::string> lines;
    encoder.EncodeFile(&lines, file);

    const std::size_t encodedLines = (size + 44) / 45;
    ASSERT_EQ(lines.size(), encodedLines + 1);
    EXPECT_EQ(lines.back(), "") << "an empty line closes the part";
    for (std::size_t i = 0; i + 1 < encodedLines; ++i)
        ASSERT_EQ(lines[i].size(), 60u) << "line " << i;
    if (encodedLines > 0) {
        const std::size_t rest = size - (encodedLines - 1) * 45;
        EXPECT_EQ(lines[encodedLines - 1].size(), (rest + 2) / 3 * 4);
    }
    EXPECT_EQ(Join(lines, encodedLines), og::test::SystemBase64(file, 0));
}

INSTANTIATE_TEST_SUITE_P(Sizes, Base64File, ::testing::Values(0, 1, 2, 44, 45, 46, 90, 100000, 45 * 1024 + 1));

TEST(Base64FileOutputs, StreamGetsCrLfLinesEqualToTheList)
{
    og::test::TempDir dir;
    const std::string file = dir.Write("d.bin", og::test::PatternBytes(46));
    TWireEncoder encoder;
    std::ostringstream stream;
    encoder.EncodeFile(static_cast<std::ostream*>(&stream), file);
    std::vector<std::string> lines;
    encoder.EncodeFile(&lines, file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(stream.str(), lines[0] + "\r\n" + lines[1] + "\r\n" + "\r\n");
    EXPECT_EQ(lines[1].substr(2), "==");
}

TEST(Base64FileOutputs, EventReceivesEveryLineWhenNoObjectIsGiven)
{
    og::test::TempDir dir;
    const std::string file = dir.Write("d.bin", og::test::PatternBytes(100));
    TWireEncoder encoder;
    std::vector<std::string> seen;
    TWireEncoder* sender = nullptr;
    encoder.OnWriteLine = [&](TWireEncoder& e, const std::string& line) {
        sender = &e;
        seen.push_back(line);
    };
    encoder.EncodeFile(nullptr, file);
    std::vector<std::string> expected;
    encoder.EncodeFile(&expected, file);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(sender, &encoder);
}

TEST(Base64FileOutputs, MissingEventAndForeignObjectsAreRefused)
{
    TWireEncoder encoder;
    EXPECT_EQ(MessageOf([&] { encoder.WriteLine(nullptr, "x"); }), "No Event Defined");
    int foreign = 0;
    EXPECT_EQ(MessageOf([&] { encoder.WriteLine(og::TEncoderOutput::Other(&foreign), "x"); }),
        "Unsupported Write Object in Encoder.");
    // A bare socket is no client: it cannot take lines either.
    og::TWireSocket socket;
    EXPECT_EQ(MessageOf([&] { encoder.WriteLine(&socket, "x"); }), "Unsupported Write Object in Encoder.");
}

TEST(Base64FileOutputs, ProgressIsEndedWhenALineCannotBeDelivered)
{
    og::test::TempDir dir;
    const std::string file = dir.Write("d.bin", og::test::PatternBytes(4000));
    og::TWireSocket socket;
    std::vector<std::pair<int64_t, int64_t>> work;
    socket.OnWork = [&](og::TWireSocket&, int64_t done, int64_t size) { work.emplace_back(done, size); };
    TWireEncoder encoder;
    EXPECT_EQ(MessageOf([&] { encoder.EncodeFile(&socket, file); }), "Unsupported Write Object in Encoder.");
    ASSERT_FALSE(work.empty());
    EXPECT_EQ(work.back(), std::make_pair(int64_t(-1), int64_t(-1)));
    EXPECT_EQ(socket.WorkSize, -2) << "the counted transfer must be over";
}

TEST(Base64FileOutputs, UnopenableFileNamesFileAndReasonAndWritesNothing)
{
    og::test::TempDir dir;
    const std::string missing = (dir.path() / "nope.pdf").string();
    TWireEncoder encoder;
    std::vector<std::string> lines;
    try {
        encoder.EncodeFile(&lines, missing);
        FAIL() << "no error for a missing file";
    } catch (const og::EWireException&) {
        FAIL() << "a missing file is not a network error";
    } catch (const og::Exception& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("No such file"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(lines.empty());

    const std::string folder = dir.path().string();
    EXPECT_NE(MessageOf([&] { encoder.EncodeFile(&lines, folder); }).find(folder), std::string::npos);
    EXPECT_TRUE(lines.empty());
}

} // namespace
