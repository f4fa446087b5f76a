// Sends one message to each of N customers, one connection per customer (the
// send run's default), and prints the wall time and this process's own CPU
// time (all threads). Also measures the round trip of one command on an open
// connection, so the time per message can be judged against it.
//
//   bench_smtp_send --port P --messages N [--attachment FILE] [--body-bytes B]
//                   [--rtt-commands N] [--no-nagle]
//                   [--starttls --ca-file PEM] [--user NAME]
//                   [--connections C] [--no-pipelining]
//
// --starttls requires STARTTLS and trusts the authority in PEM; --user logs
// in (AUTH PLAIN where offered) with the password in ORDERGATE_SMTP_PASSWORD.
// --connections runs C threads, each with its own client, taking the next
// customer as it finishes one; all share one TLS context, so connections
// after the first resume their TLS session, as a send run does.
//
// Output: one "key value" pair per line.

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "smtp/SMTPWire.h"

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

struct Options {
    int port = 0, messages = 500, bodyBytes = 2048, rttCommands = 200, connections = 1;
    bool noNagle = false, startTls = false, noPipelining = false;
    std::string attachment, caFile, user;
};

void Configure(og::TWireSMTP& smtp, const Options& o, const std::shared_ptr<og::TTlsContext>& tls)
{
    smtp.Host = "127.0.0.1";
    smtp.Port = o.port;
    smtp.Timeout = 60;
    smtp.UseNagle = !o.noNagle;
    smtp.UsePipelining = !o.noPipelining;
    if (o.startTls) {
        smtp.Security = og::TWireSMTP::TSecurity::StartTls;
        smtp.Trust.CAFile = o.caFile;
        smtp.TlsContext = tls;
    } else {
        smtp.Security = og::TWireSMTP::TSecurity::None;
    }
    if (!o.user.empty()) {
        smtp.AuthenticationType = og::TWireSMTP::TAuthenticationType::atAny;
        smtp.UserID = o.user;
        const char* password = std::getenv("ORDERGATE_SMTP_PASSWORD");
        smtp.Password = password ? password : "";
    }
}

void Fill(og::TWireMessage& msg, const Options& o)
{
    msg.SetFrom("Example Shop <shop@example.com>");
    msg.SetSubject("Your download is ready");
    const std::string line = "The quick brown fox jumps over the lazy dog, again and again and .";
    for (int written = 0; written < o.bodyBytes; written += static_cast<int>(line.size()) + 2)
        msg.Text.push_back(line);
    if (!o.attachment.empty())
        msg.Attachments.AddAttachment(o.attachment);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        auto next = [&] { return i + 1 < argc ? argv[++i] : ""; };
        if (!std::strcmp(argv[i], "--port"))
            o.port = std::atoi(next());
        else if (!std::strcmp(argv[i], "--messages"))
            o.messages = std::atoi(next());
        else if (!std::strcmp(argv[i], "--attachment"))
            o.attachment = next();
        else if (!std::strcmp(argv[i], "--body-bytes"))
            o.bodyBytes = std::atoi(next());
        else if (!std::strcmp(argv[i], "--rtt-commands"))
            o.rttCommands = std::atoi(next());
        else if (!std::strcmp(argv[i], "--no-nagle"))
            o.noNagle = true;
        else if (!std::strcmp(argv[i], "--starttls"))
            o.startTls = true;
        else if (!std::strcmp(argv[i], "--ca-file"))
            o.caFile = next();
        else if (!std::strcmp(argv[i], "--user"))
            o.user = next();
        else if (!std::strcmp(argv[i], "--connections"))
            o.connections = std::atoi(next());
        else if (!std::strcmp(argv[i], "--no-pipelining"))
            o.noPipelining = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (o.port <= 0 || o.connections < 1) {
        std::fprintf(stderr, "--port is required; --connections must be at least 1\n");
        return 2;
    }

    try {
        std::shared_ptr<og::TTlsContext> tls;
        if (o.startTls)
            tls = std::make_shared<og::TTlsContext>(og::TTlsTrust {o.caFile, "", false});

        // Round trip of one command on an open connection.
        if (o.rttCommands > 0) {
            og::TWireSMTP smtp;
            Configure(smtp, o, tls);
            smtp.Connect();
            double start = Now();
            for (int i = 0; i < o.rttCommands; ++i)
                smtp.Command("Rset", 250, 0, "");
            double rtt = (Now() - start) / o.rttCommands;
            smtp.Disconnect();
            std::printf("rtt_ms %.4f\n", rtt * 1e3);
        }

        std::atomic<int> nextCustomer {0}, resumed {0}, encrypted {0};
        std::mutex errorMutex;
        std::string firstError;
        auto worker = [&] {
            og::TWireSMTP smtp;
            Configure(smtp, o, tls);
            og::TWireMessage msg;
            Fill(msg, o);
            try {
                for (int i; (i = nextCustomer++) < o.messages;) {
                    msg.Too = {"customer" + std::to_string(i + 1) + "@example.org"};
                    smtp.Send(msg);
                    if (!smtp.TlsNote().empty())
                        ++encrypted;
                    if (smtp.TlsNote().find("(resumed)") != std::string::npos)
                        ++resumed;
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(errorMutex);
                if (firstError.empty())
                    firstError = e.what();
                nextCustomer = o.messages; // the others stop too
            }
        };

        double cpu0 = CpuSeconds(), wall0 = Now();
        std::vector<std::thread> threads;
        for (int c = 1; c < o.connections; ++c)
            threads.emplace_back(worker);
        worker();
        for (auto& t : threads)
            t.join();
        double wall = Now() - wall0, cpu = CpuSeconds() - cpu0;
        if (!firstError.empty()) {
            std::fprintf(stderr, "send failed: %s\n", firstError.c_str());
            return 1;
        }
        std::printf("messages %d\n", o.messages);
        std::printf("wall_s %.4f\n", wall);
        std::printf("cpu_s %.4f\n", cpu);
        std::printf("msgs_per_s %.1f\n", o.messages / wall);
        std::printf("ms_per_msg %.4f\n", wall * 1e3 / o.messages);
        std::printf("cpu_ms_per_msg %.4f\n", cpu * 1e3 / o.messages);
        std::printf("encrypted %d\n", encrypted.load());
        std::printf("resumed %d\n", resumed.load());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "send failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
