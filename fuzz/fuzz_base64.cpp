// Base64 both ways: the encoders against Qt's as a reference, decode after
// encode gives the bytes back (short strings and whole files), and decoding
// any text fails only with the transport's own error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <QByteArray>
#include <unistd.h>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "mail/EncodeWire.h"
#include "net/WireExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using og::TWireDecoder;
    using og::TWireEncoder;
    static const std::string file = og::fuzz::ScratchFile("base64");
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::string encoded = TWireEncoder::EncodeBytes(bytes);
    OG_FUZZ_CHECK(encoded == QByteArray::fromStdString(bytes).toBase64().toStdString());
    const std::string shortText = bytes.substr(0, TWireEncoder::MaxShortString);
    OG_FUZZ_CHECK(TWireEncoder::EncodeString(bytes) == TWireEncoder::EncodeBytes(shortText));
    OG_FUZZ_CHECK(TWireDecoder::DecodeString(TWireEncoder::EncodeString(bytes)) == shortText);

    // A file, line by line: 60 characters (45 bytes) a line, then an empty line.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<std::string> lines;
    TWireEncoder encoder;
    encoder.EncodeFile(&lines, file);
    OG_FUZZ_CHECK(!lines.empty() && lines.back().empty());
    std::string back;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        OG_FUZZ_CHECK(lines[i].size() == 60 || i + 2 == lines.size());
        back += TWireDecoder::DecodeString(lines[i]);
    }
    OG_FUZZ_CHECK(back == bytes);

    // Any text: decoded or refused, never a crash.
    try {
        TWireDecoder::DecodeString(bytes);
    } catch (const og::Exception&) {
    }
    if (size >= 4) {
        try {
            TWireDecoder::DecodeUnit(bytes.substr(0, 4));
        } catch (const og::Exception&) {
        }
    }
    return 0;
}
