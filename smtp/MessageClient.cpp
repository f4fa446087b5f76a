#include "smtp/MessageClient.h"

namespace og {

void TWireLineSink::WriteLine(const std::string& line)
{
    if (!line.empty() && line.front() == '.')
        wire_.WriteLn("." + line);
    else
        wire_.WriteLn(line);
}

void TChunkLineSink::WriteLine(const std::string& line)
{
    if (chunk_.capacity() < chunkSize_)
        chunk_.reserve(chunkSize_ + 1024); // a long line may pass the size once
    chunk_ += line;
    chunk_ += "\r\n";
    if (chunk_.size() >= chunkSize_)
        SendChunk(false);
}

void TChunkLineSink::Finish()
{
    if (beforeLast_)
        beforeLast_();
    SendChunk(true);
}

void TChunkLineSink::SendChunk(bool last)
{
    wire_.WriteLn("BDAT " + std::to_string(chunk_.size()) + (last ? " LAST" : ""));
    // In pieces the connection gathers anyway, so it never holds a copy of
    // the whole chunk.
    const std::string_view bytes = chunk_;
    for (std::size_t at = 0; at < bytes.size(); at += TWireSocket::kWriteGatherLimit)
        wire_.Write(bytes.substr(at, TWireSocket::kWriteGatherLimit));
    chunk_.clear();
    ++chunks_;
}

void TWireMessageClient::WriteMessageText(const std::vector<std::string>& lines)
{
    TWireLineSink sink(*this);
    WriteTextLines(lines, sink);
}

void TWireMessageClient::Send(TWireMessage& message)
{
    TWireLineSink sink(*this);
    message.WriteBody(sink);
}

void TWireMessageClient::WriteMessage(const TWireMessage& message)
{
    TWireLineSink sink(*this);
    message.WriteTo(sink);
}

} // namespace og
