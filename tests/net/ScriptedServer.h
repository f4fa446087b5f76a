#pragma once
// A TCP server on 127.0.0.1 that runs inside the test process: a thread
// accepts connections one after the other, runs a script against each and
// records every byte the client sent. Every wait is bounded, so a client
// that misbehaves makes a test fail, never hang.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace og::test {

class ServerSession {
public:
    ServerSession(int fd, std::chrono::milliseconds wait);
    ~ServerSession();

    void Send(std::string_view bytes);
    void Reply(std::string_view line) { Send(std::string(line) + "\r\n"); }
    // One line without its CR LF; nullopt when the client closed or the wait
    // ran out.
    std::optional<std::string> ReadLine();
    // After a 354: the raw lines up to and including the "." line.
    std::optional<std::string> ReadData();
    // Drops the connection at once.
    void Close();
    // Reads (and records) until the client closes; false when it did not
    // close within `wait`.
    bool WaitForPeerClose(std::chrono::milliseconds wait);
    bool Closed() const { return fd_ < 0; }

    const std::string& Received() const { return received_; }

private:
    bool Fill(std::chrono::milliseconds wait);
    int fd_;
    std::chrono::milliseconds wait_;
    std::string received_; // everything read from the client
    std::string pending_;  // read but not yet consumed by ReadLine
};

class ScriptedServer {
public:
    using Script = std::function<void(ServerSession& session, int connection)>;

    // Serves up to `connections` connections, one after the other.
    explicit ScriptedServer(
        Script script, int connections = 1, std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    ~ScriptedServer();

    int Port() const { return port_; }
    // Waits until all connections are served (bounded: the server gives up
    // 30 s after it started). Further calls do nothing.
    void Join();
    // Stops accepting and waits for the thread; for tests that expect fewer
    // connections than they allowed.
    void Stop();
    int Accepted() const { return accepted_; }
    // Bytes the client sent on each connection, in order.
    std::vector<std::string> Received();
    // Problems the scripts reported (a read that timed out and so on).
    std::vector<std::string> Failures();

    // Scripts call this to record a problem.
    void Fail(const std::string& what);

private:
    void Serve();
    Script script_;
    int connections_;
    std::chrono::milliseconds wait_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_ {false};
    std::atomic<int> accepted_ {0};
    std::mutex mutex_;
    std::vector<std::string> received_;
    std::vector<std::string> failures_;
    std::thread thread_;
};

// The answers of an SMTP server that accepts everything, step by step; a
// test changes one step to make the server misbehave there.
struct SmtpAnswers {
    std::string greeting = "220 test.server ESMTP ready";
    std::vector<std::string> ehlo = {"250-test.server greets you", "250 HELP"};
    std::vector<std::string> helo = {"250 test.server"};
    std::string rset = "250 Reset OK";
    std::string mail = "250 Sender OK";
    std::string rcpt = "250 Recipient OK";
    std::string data = "354 Go ahead";
    std::string accepted = "250 Queued";
    std::string auth = "334 VXNlcm5hbWU6";
    std::string authUser = "334 UGFzc3dvcmQ6";
    std::string authPassword = "235 Authenticated";
    // Drop the connection instead of answering the n-th line the client sends
    // (0: before the greeting). -1: never.
    int dropBeforeAnswer = -1;
    // Stop answering (but keep the connection) from the n-th line on.
    int silentFrom = -1;
};

// Plays SmtpAnswers against one connection: reads each command line, answers
// it by its verb, reads the data after a 354, and returns when the client
// says "Quit" or closes.
void PlaySmtp(ServerSession& session, const SmtpAnswers& answers, ScriptedServer& server);

// A port on 127.0.0.1 where nothing listens.
int UnusedPort();

std::string LocalName();

} // namespace og::test
