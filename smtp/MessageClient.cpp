#include "smtp/MessageClient.h"

namespace og {

void TWireLineSink::WriteLine(const std::string& line)
{
    if (!line.empty() && line.front() == '.')
        wire_.WriteLn("." + line);
    else
        wire_.WriteLn(line);
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
