#include "mail/LineSink.h"

#include <ostream>

#include "net/WireExceptions.h"

namespace og {

void TStreamLineSink::WriteLine(const std::string& line)
{
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.write("\r\n", 2);
    if (!out_)
        throw Exception("Cannot write the message.");
}

} // namespace og
