#pragma once
// Base64 for the mail transport: attachment files written line by line onto a
// connection (or into a list, a stream or an event), and the short-string
// encoders used for the login exchange.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace og {

class TWireSocket;
class TWireClient;
class TWireEncoder;
class TLineSink;

// Where encoded lines go. The encoder accepts a string list, a stream, a socket
// client, a line sink, or nothing (the line then goes to OnWriteLine); anything
// else is refused when a line is written, so callers with a foreign sink learn
// it at once.
class TEncoderOutput {
public:
    enum class Kind { None, List, Text, Stream, Socket, Sink, Other };

    TEncoderOutput() = default;
    TEncoderOutput(std::nullptr_t) { }
    TEncoderOutput(std::vector<std::string>* list)
    {
        if (list) {
            kind_ = Kind::List;
            list_ = list;
        }
    }
    // Each line with a line feed after it, appended: one allocation for a
    // file of many lines, where a list holds a string each.
    TEncoderOutput(std::string* text)
    {
        if (text) {
            kind_ = Kind::Text;
            text_ = text;
        }
    }
    TEncoderOutput(std::ostream* stream)
    {
        if (stream) {
            kind_ = Kind::Stream;
            stream_ = stream;
        }
    }
    TEncoderOutput(TWireSocket* socket)
    {
        if (socket) {
            kind_ = Kind::Socket;
            socket_ = socket;
        }
    }
    TEncoderOutput(TLineSink* sink)
    {
        if (sink) {
            kind_ = Kind::Sink;
            sink_ = sink;
        }
    }
    // Any other object: kept only so the encoder can refuse it.
    static TEncoderOutput Other(const void* object)
    {
        TEncoderOutput out;
        out.kind_ = object ? Kind::Other : Kind::None;
        return out;
    }

    Kind kind() const { return kind_; }
    std::vector<std::string>* list() const { return list_; }
    std::string* text() const { return text_; }
    std::ostream* stream() const { return stream_; }
    TWireSocket* socket() const { return socket_; }
    TLineSink* sink() const { return sink_; }

private:
    Kind kind_ = Kind::None;
    std::vector<std::string>* list_ = nullptr;
    std::string* text_ = nullptr;
    std::ostream* stream_ = nullptr;
    TWireSocket* socket_ = nullptr;
    TLineSink* sink_ = nullptr;
};

class TWireCoder {
public:
    virtual ~TWireCoder() = default;
};

class TWireEncoder : public TWireCoder {
public:
    using TWriteLineEvent = std::function<void(TWireEncoder& sender, const std::string& line)>;

    // Bytes per encoded file line; a full line is 60 characters.
    static constexpr std::size_t LineBytes = 45;
    // Largest input the short-string operations take.
    static constexpr std::size_t MaxShortString = 255;

    TWriteLineEvent OnWriteLine;

    // 1 to 3 bytes -> 4 characters, "=" padded.
    static std::string EncodeUnit(std::string_view oneToThreeBytes);
    // Up to 255 bytes -> Base64 without line breaks (longer input is cut).
    static std::string EncodeString(std::string_view upTo255Bytes);
    // Encodes any length without line breaks (no 255-byte cut).
    static std::string EncodeBytes(std::string_view bytes);

    // Delivers one line to the output (see TEncoderOutput).
    void WriteLine(TEncoderOutput output, const std::string& line);

    // Writes the file as Base64 lines of 45 input bytes, then one empty line.
    // A socket or sink output sees BeginWork(size), DoWork(position) after
    // each line and EndWork() also when an error ends the loop; the closing empty line
    // follows only a normal end. An unopenable file raises og::Exception.
    void EncodeFile(TEncoderOutput output, const std::string& fileName);
    // The lines EncodeFile writes for a file holding these bytes, each with
    // a line feed after it (as a Text output holds them).
    static std::string EncodeText(std::string_view bytes);
};

class TWireDecoder : public TWireCoder {
public:
    // Exactly 4 characters -> 1 to 3 bytes; other lengths raise
    // "DecodeUnit length error.".
    static std::string DecodeUnit(std::string_view fourChars);
    // Whole groups of 4 only; the result stops at 255 bytes.
    static std::string DecodeString(std::string_view text);
};

} // namespace og
