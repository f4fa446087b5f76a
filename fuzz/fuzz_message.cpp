// The message as it goes out, with hostile header values, recipients, body
// lines and attachment names. Either the message is refused before anything
// is sent, or what reaches the server keeps its shape: CR LF line ends only,
// one end of data, and header lines that only the program wrote.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/FuzzWinsock.h"
#include "mail/WireMessage.h"
#include "net/WireExceptions.h"
#include "smtp/SMTPWire.h"

namespace {

// A server that accepts everything: 354 to "Data", 250 to every other
// command and to the end of the data.
class AcceptingServer : public og::fuzz::FuzzWinsock {
public:
    void Start()
    {
        Reset("220 ok\r\n");
        parsed_ = 0;
        inData_ = false;
    }
    int WSSend(og::TSocket s, const char* data, int length, int flags) override
    {
        const int n = FuzzWinsock::WSSend(s, data, length, flags);
        for (;;) {
            const std::size_t eol = output.find(inData_ ? "\r\n.\r\n" : "\r\n", parsed_);
            if (eol == std::string::npos)
                break;
            const bool data = !inData_ && output.compare(parsed_, eol - parsed_, "Data") == 0;
            Feed(data ? "354 go\r\n" : "250 ok\r\n");
            parsed_ = inData_ ? eol + 5 : eol + 2;
            inData_ = data;
            if (data)
                parsed_ -= 2; // the "." line may come first
        }
        return n;
    }

private:
    std::size_t parsed_ = 0;
    bool inData_ = false;
};


// The bytes between "Data" and the "." line.
void CheckShape(const std::string& wire)
{
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\n')
            OG_FUZZ_CHECK(i > 0 && wire[i - 1] == '\r');
        if (wire[i] == '\r')
            OG_FUZZ_CHECK(i + 1 < wire.size() && wire[i + 1] == '\n');
    }
    const std::size_t data = wire.find("\r\nData\r\n");
    OG_FUZZ_CHECK(data != std::string::npos);
    const std::size_t start = data + 8;
    const std::size_t end = wire.find("\r\n.\r\n", start - 2);
    OG_FUZZ_CHECK(end != std::string::npos && wire.compare(end, std::string::npos, "\r\n.\r\nQuit\r\n") == 0);

    static const std::set<std::string> names = {"From", "Organization", "Reply-To", "Subject", "Date", "MIME-Version",
        "Content-Type", "To", "Cc", "X-Library", "X-Mailer", "Message-ID", "References", "Content-Transfer-Encoding"};
    const std::size_t headersEnd = wire.find("\r\n\r\n", start);
    OG_FUZZ_CHECK(headersEnd != std::string::npos && headersEnd <= end);
    std::size_t at = start;
    while (at < headersEnd + 2) {
        const std::size_t eol = wire.find("\r\n", at);
        const std::string line = wire.substr(at, eol - at);
        if (line[0] != ' ' && line[0] != '\t') {
            // A folded value may start on the next line, leaving "Name:" alone.
            const std::size_t colon = line.find(':');
            OG_FUZZ_CHECK(colon != std::string::npos && names.count(line.substr(0, colon)) == 1);
            OG_FUZZ_CHECK(colon + 1 == line.size() || line[colon + 1] == ' ');
        }
        at = eol + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static AcceptingServer binding;
    static const std::string file = [] {
        const std::string path = og::fuzz::ScratchFile("attachment");
        std::ofstream(path, std::ios::binary) << "attached\r\n.\r\n";
        return path;
    }();
    binding.Start();

    FuzzedDataProvider in(data, size);
    og::TWireMessage msg;
    msg.UseNowForDate = false;
    msg.SetFrom(in.ConsumeRandomLengthString(200));
    msg.SetOrganization(in.ConsumeRandomLengthString(200));
    msg.SetSubject(in.ConsumeRandomLengthString(200));
    msg.SetReplyTo(in.ConsumeRandomLengthString(100));
    for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n)
        msg.Too.push_back(in.ConsumeRandomLengthString(100));
    if (in.ConsumeBool())
        msg.CCList.push_back(in.ConsumeRandomLengthString(100));
    if (in.ConsumeBool())
        msg.BCCList.push_back(in.ConsumeRandomLengthString(100));
    if (in.ConsumeBool())
        msg.ContentType = in.ConsumeRandomLengthString(60);
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
        msg.Attachments.AddAttachment(file).StoredName = in.ConsumeRandomLengthString(100);
    while (in.remaining_bytes() > 0)
        msg.Text.push_back(in.ConsumeRandomLengthString(300));

    og::TWireSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = 25;
    smtp.Timeout = 1;
    try {
        smtp.Send(msg);
    } catch (const og::Exception&) {
        // Refused: nothing may have gone out after the data began.
        OG_FUZZ_CHECK(binding.output.find("\r\nData\r\n") == std::string::npos);
        return 0;
    }
    CheckShape(binding.output);
    return 0;
}
