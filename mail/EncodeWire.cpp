#include "mail/EncodeWire.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mail/LineSink.h"
#include "net/Wire.h"
#include "net/WireExceptions.h"

namespace og {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters outside the alphabet, "=" included, decode as 0; valid input never
// relies on them because the padding rule cuts their bits off.
constexpr std::array<unsigned char, 256> BuildDecodeTable()
{
    std::array<unsigned char, 256> table {};
    for (unsigned char i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(Alphabet[i])] = i;
    return table;
}

constexpr std::array<unsigned char, 256> DecodeTable = BuildDecodeTable();

// Writes the 4 characters for 1 to 3 bytes at `out`.
inline void EncodeGroup(const unsigned char* in, std::size_t count, char* out)
{
    const unsigned b1 = in[0];
    const unsigned b2 = count > 1 ? in[1] : 0;
    const unsigned b3 = count > 2 ? in[2] : 0;
    out[0] = Alphabet[b1 >> 2];
    out[1] = Alphabet[((b1 << 4) | (b2 >> 4)) & 63];
    out[2] = count > 1 ? Alphabet[((b2 << 2) | (b3 >> 6)) & 63] : '=';
    out[3] = count > 2 ? Alphabet[b3 & 63] : '=';
}

// Encodes `count` bytes into `out`, which must hold 4 * ceil(count / 3) chars.
inline std::size_t EncodeInto(const unsigned char* in, std::size_t count, char* out)
{
    std::size_t written = 0;
    std::size_t pos = 0;
    for (; pos + 3 <= count; pos += 3, written += 4) {
        const unsigned v = (unsigned(in[pos]) << 16) | (unsigned(in[pos + 1]) << 8) | in[pos + 2];
        out[written] = Alphabet[v >> 18];
        out[written + 1] = Alphabet[(v >> 12) & 63];
        out[written + 2] = Alphabet[(v >> 6) & 63];
        out[written + 3] = Alphabet[v & 63];
    }
    if (pos < count) {
        EncodeGroup(in + pos, count - pos, out + written);
        written += 4;
    }
    return written;
}

std::string Encode(std::string_view bytes)
{
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    EncodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

// Owns the descriptor so every way out of EncodeFile closes the file.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& name)
        : fd_(::open(name.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (fd_ < 0)
            throw Exception("Cannot open file \"" + name + "\": " + std::strerror(errno));
    }
    ~ReadOnlyFile() { ::close(fd_); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    int64_t Size(const std::string& name) const
    {
        struct stat st { };
        if (::fstat(fd_, &st) != 0)
            throw Exception("Cannot read file \"" + name + "\": " + std::strerror(errno));
        if (S_ISDIR(st.st_mode))
            throw Exception("Cannot read file \"" + name + "\": " + std::strerror(EISDIR));
        return static_cast<int64_t>(st.st_size);
    }

    // Fills `buffer` as far as the file allows; fewer bytes only at its end.
    std::size_t Read(char* buffer, std::size_t size, const std::string& name)
    {
        std::size_t total = 0;
        while (total < size) {
            const ssize_t got = ::read(fd_, buffer + total, size - total);
            if (got == 0)
                break;
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw Exception("Cannot read file \"" + name + "\": " + std::strerror(errno));
            }
            total += static_cast<std::size_t>(got);
        }
        return total;
    }

private:
    int fd_;
};

} // namespace

std::string TWireEncoder::EncodeUnit(std::string_view oneToThreeBytes)
{
    std::string out = "====";
    if (oneToThreeBytes.empty())
        return out;
    const std::size_t count = oneToThreeBytes.size() < 3 ? oneToThreeBytes.size() : 3;
    EncodeGroup(reinterpret_cast<const unsigned char*>(oneToThreeBytes.data()), count, out.data());
    return out;
}

std::string TWireEncoder::EncodeString(std::string_view upTo255Bytes)
{
    return Encode(upTo255Bytes.substr(0, MaxShortString));
}

std::string TWireEncoder::EncodeBytes(std::string_view bytes)
{
    return Encode(bytes);
}

void TWireEncoder::WriteLine(TEncoderOutput output, const std::string& line)
{
    switch (output.kind()) {
    case TEncoderOutput::Kind::List:
        output.list()->push_back(line);
        return;
    case TEncoderOutput::Kind::Text:
        output.text()->append(line).push_back('\n');
        return;
    case TEncoderOutput::Kind::Stream:
        output.stream()->write(line.data(), static_cast<std::streamsize>(line.size()));
        output.stream()->write("\r\n", 2);
        return;
    case TEncoderOutput::Kind::Socket:
        if (auto* client = dynamic_cast<TWireClient*>(output.socket())) {
            client->WriteLn(line);
            return;
        }
        break;
    case TEncoderOutput::Kind::Sink:
        output.sink()->WriteLine(line);
        return;
    case TEncoderOutput::Kind::None:
        if (!OnWriteLine)
            throw Exception("No Event Defined");
        OnWriteLine(*this, line);
        return;
    case TEncoderOutput::Kind::Other:
        break;
    }
    throw Exception("Unsupported Write Object in Encoder.");
}

std::string TWireEncoder::EncodeText(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4 + bytes.size() / LineBytes + 2);
    for (std::size_t at = 0; at < bytes.size(); at += LineBytes)
        text.append(EncodeBytes(bytes.substr(at, LineBytes))).push_back('\n');
    text.push_back('\n');
    return text;
}

void TWireEncoder::EncodeFile(TEncoderOutput output, const std::string& fileName)
{
    ReadOnlyFile file(fileName);
    const int64_t size = file.Size(fileName);
    // Progress goes to whichever of the two can show it.
    TWireSocket* socket = output.socket();
    TLineSink* sink = output.sink();
    auto begin = [&](int64_t total) {
        if (socket)
            socket->BeginWork(total);
        else if (sink)
            sink->BeginWork(total);
    };
    auto advance = [&](int64_t done) {
        if (socket)
            socket->DoWork(done);
        else if (sink)
            sink->DoWork(done);
    };
    auto end = [&] {
        if (socket)
            socket->EndWork();
        else if (sink)
            sink->EndWork();
    };

    // A whole number of lines per read keeps every line but the last at 45 bytes.
    constexpr std::size_t ChunkBytes = LineBytes * 1024;
    std::vector<char> chunk(ChunkBytes);
    std::string line;
    line.reserve(LineBytes / 3 * 4);

    begin(size);
    try {
        int64_t position = 0;
        for (;;) {
            const std::size_t got = file.Read(chunk.data(), chunk.size(), fileName);
            if (got == 0)
                break;
            for (std::size_t at = 0; at < got; at += LineBytes) {
                const std::size_t count = got - at < LineBytes ? got - at : LineBytes;
                line.resize((count + 2) / 3 * 4);
                EncodeInto(reinterpret_cast<const unsigned char*>(chunk.data() + at), count, line.data());
                WriteLine(output, line);
                position += static_cast<int64_t>(count);
                advance(position);
            }
            if (got < chunk.size())
                break;
        }
    } catch (...) {
        // The first error is the one the caller must see.
        try {
            end();
        } catch (...) {
        }
        throw;
    }
    end();
    WriteLine(output, std::string());
}

std::string TWireDecoder::DecodeUnit(std::string_view fourChars)
{
    if (fourChars.size() != 4)
        throw Exception("DecodeUnit length error.");
    const unsigned a = DecodeTable[static_cast<unsigned char>(fourChars[0])];
    const unsigned b = DecodeTable[static_cast<unsigned char>(fourChars[1])];
    const unsigned c = DecodeTable[static_cast<unsigned char>(fourChars[2])];
    const unsigned d = DecodeTable[static_cast<unsigned char>(fourChars[3])];
    const char bytes[3] = {static_cast<char>(((a << 2) | (b >> 4)) & 0xFF),
        static_cast<char>(((b << 4) | (c >> 2)) & 0xFF), static_cast<char>(((c << 6) | d) & 0xFF)};
    if (fourChars[2] == '=')
        return std::string(bytes, 1);
    if (fourChars[3] == '=')
        return std::string(bytes, 2);
    return std::string(bytes, 3);
}

std::string TWireDecoder::DecodeString(std::string_view text)
{
    std::string result;
    const std::size_t groups = text.size() / 4;
    for (std::size_t g = 0; g < groups && result.size() < TWireEncoder::MaxShortString; ++g)
        result += DecodeUnit(text.substr(g * 4, 4));
    if (result.size() > TWireEncoder::MaxShortString)
        result.resize(TWireEncoder::MaxShortString);
    return result;
}

} // namespace og
