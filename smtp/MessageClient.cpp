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
    wire_.Write(chunk_);
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
