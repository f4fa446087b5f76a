// Sends the same message N times to an SMTP server, one connection per
// message, and prints the wall time and this process's own CPU time. Also
// measures the round trip of one command on an open connection, so the time
// per message can be judged against it.
//
//   bench_smtp_send --port P --messages N --attachment FILE [--body-bytes B]
//                   [--rtt-commands N] [--no-nagle]
//
// Output: one "key value" pair per line.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/SMTPWire.h"

namespace {

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    int port = 0, messages = 500, bodyBytes = 2048, rttCommands = 200;
    bool noNagle = false;
    std::string attachment;
    for (int i = 1; i < argc; ++i) {
        auto next = [&] { return i + 1 < argc ? argv[++i] : ""; };
        if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(next());
        else if (!std::strcmp(argv[i], "--messages"))
            messages = std::atoi(next());
        else if (!std::strcmp(argv[i], "--attachment"))
            attachment = next();
        else if (!std::strcmp(argv[i], "--body-bytes"))
            bodyBytes = std::atoi(next());
        else if (!std::strcmp(argv[i], "--rtt-commands"))
            rttCommands = std::atoi(next());
        else if (!std::strcmp(argv[i], "--no-nagle"))
            noNagle = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (port <= 0) {
        std::fprintf(stderr, "--port is required\n");
        return 2;
    }

    og::TWireMessage msg;
    msg.SetFrom("Example Shop <shop@example.com>");
    msg.SetSubject("Your download is ready");
    const std::string line = "The quick brown fox jumps over the lazy dog, again and again and .";
    for (int written = 0; written < bodyBytes; written += static_cast<int>(line.size()) + 2)
        msg.Text.push_back(line);
    msg.Too = {"customer@example.org"};
    if (!attachment.empty())
        msg.Attachments.AddAttachment(attachment);

    og::TWireSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = port;
    smtp.Timeout = 60;
    smtp.UseNagle = !noNagle;

    try {
        // Round trip of one command on an open connection.
        if (rttCommands > 0) {
            smtp.Connect();
            double start = Now();
            for (int i = 0; i < rttCommands; ++i)
                smtp.Command("Rset", 250, 0, "");
            double rtt = (Now() - start) / rttCommands;
            smtp.Disconnect();
            std::printf("rtt_ms %.4f\n", rtt * 1e3);
        }

        double cpu0 = CpuSeconds(), wall0 = Now();
        for (int i = 0; i < messages; ++i)
            smtp.Send(msg);
        double wall = Now() - wall0, cpu = CpuSeconds() - cpu0;
        std::printf("messages %d\n", messages);
        std::printf("wall_s %.4f\n", wall);
        std::printf("cpu_s %.4f\n", cpu);
        std::printf("msgs_per_s %.1f\n", messages / wall);
        std::printf("ms_per_msg %.4f\n", wall * 1e3 / messages);
        std::printf("cpu_ms_per_msg %.4f\n", cpu * 1e3 / messages);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "send failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
