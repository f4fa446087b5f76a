#pragma once
// The glue between the message model (mail/) and a connection (net/): a
// message written as the data of a mail transaction.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mail/LineSink.h"
#include "mail/WireMessage.h"
#include "net/Wire.h"

namespace og {

// The data of a mail transaction as a line sink over a connection: a line
// that starts with "." gets a second one, so no line can end the data early;
// attachment progress becomes the connection's work events.
class TWireLineSink : public TLineSink {
public:
    explicit TWireLineSink(TWireSocket& wire)
        : wire_(wire)
    {
    }
    void WriteLine(const std::string& line) override;
    void BeginWork(int64_t size) override { wire_.BeginWork(size); }
    void DoWork(int64_t done) override { wire_.DoWork(done); }
    void EndWork() override { wire_.EndWork(); }

private:
    TWireSocket& wire_;
};

// The data of a mail transaction as BDAT chunks (RFC 3030): the lines go as
// they are (no dots doubled), gathered into chunks of chunkSize bytes, each
// after its "BDAT n" command; Finish sends the rest as the LAST chunk, after
// beforeLast. Every chunk earns a reply, which is the caller's to read.
class TChunkLineSink : public TLineSink {
public:
    TChunkLineSink(TWireSocket& wire, std::size_t chunkSize, std::function<void()> beforeLast)
        : wire_(wire),
          chunkSize_(chunkSize),
          beforeLast_(std::move(beforeLast))
    {
    }
    void WriteLine(const std::string& line) override;
    void BeginWork(int64_t size) override { wire_.BeginWork(size); }
    void DoWork(int64_t done) override { wire_.DoWork(done); }
    void EndWork() override { wire_.EndWork(); }
    void Finish();
    int Chunks() const { return chunks_; }

private:
    void SendChunk(bool last);
    TWireSocket& wire_;
    std::size_t chunkSize_;
    std::function<void()> beforeLast_;
    std::string chunk_;
    int chunks_ = 0;
};

class TWireMessageClient : public TWireClient {
public:
    std::string XProgram; // "X-Mailer" value; empty writes no such header

    // Writes the body: the text alone, or the multipart body with every
    // attachment in Base64.
    virtual void Send(TWireMessage& message);

    // Writes the header block and the body onto the connection.
    void WriteMessage(const TWireMessage& message);

    // Writes the lines with a second "." before any leading ".". An entry that
    // itself holds line breaks goes out as several lines, each handled alike,
    // so no body can end the data early.
    void WriteMessageText(const std::vector<std::string>& lines);
};

} // namespace og
