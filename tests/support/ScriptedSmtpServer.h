#pragma once
// The one fake mail server of the tests: a TCP server on 127.0.0.1 inside the
// test process. A thread accepts connections one after the other and either
// plays SMTP from a reply script (SmtpAnswers: what to answer to each command)
// or runs a test's own Script on the raw connection. It records every byte
// each client sent, the recipients and data of each message it accepted, and
// the problems it met. Every wait is bounded, so a client that misbehaves
// makes a test fail, never hang; the destructor stops the thread.
//
//   ScriptedSmtpServer server;                    // accepts every message
//   client.Port = server.Port();                  // or server.Address(): "127.0.0.1:PORT"
//   ... send ...
//   server.Delivered();                           // {"cust@example.org"}
//
//   SmtpAnswers refuse;                           // change one step
//   refuse.rcpt = "550 5.1.1 No such user here";
//   ScriptedSmtpServer server(refuse, 1);         // one connection, then Join()
//   server.AnswerConnection(3, refuse);           // or: only the third connection
//
//   ScriptedSmtpServer server([](ServerSession& s, int) { s.Send("250-a\r\n"); });
//
// Real-server runs (Debian's aiosmtpd, parsed by Python's email package) are
// in tests/support/MailSink.h.

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace og::test {

// One connection as the server sees it.
class ServerSession {
public:
    ServerSession(int fd, std::chrono::milliseconds wait);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // Raw bytes: a reply without its line end, a partial line, a drip.
    void Send(std::string_view bytes);
    void Reply(std::string_view line) { Send(std::string(line) + "\r\n"); }
    // One line without its CR LF; nullopt when the client closed or the wait
    // (the session's, or `wait`) ran out.
    std::optional<std::string> ReadLine() { return ReadLine(wait_); }
    std::optional<std::string> ReadLine(std::chrono::milliseconds wait);
    // After a 354: the raw lines up to and including the "." line.
    std::optional<std::string> ReadData();
    // After BDAT: exactly count bytes.
    std::optional<std::string> ReadBytes(std::size_t count);
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

// A reply of one or more lines, each written with CR LF: `= "250 OK"` or
// `= {"250-first", "250 last"}`. No lines: no answer at all.
struct SmtpReply {
    std::vector<std::string> lines;
    SmtpReply() = default;
    SmtpReply(const char* line)
        : lines {line}
    {
    }
    SmtpReply(std::string line)
        : lines {std::move(line)}
    {
    }
    SmtpReply(std::initializer_list<std::string> many)
        : lines(many)
    {
    }
};

// The reply script of an SMTP server that accepts everything, command by
// command; a test changes one step to make the server misbehave there.
struct SmtpAnswers {
    SmtpReply greeting = "220 test.server ESMTP ready";
    SmtpReply ehlo = {"250-test.server greets you", "250 HELP"};
    SmtpReply helo = "250 test.server";
    SmtpReply rset = "250 Reset OK";
    SmtpReply mail = "250 Sender OK";
    SmtpReply rcpt = "250 Recipient OK";
    SmtpReply data = "354 Go ahead";
    SmtpReply accepted = "250 Queued";   // after the data's "." line, or BDAT LAST
    SmtpReply chunk = "250 Chunk taken"; // after BDAT without LAST
    // AUTH LOGIN: user name prompt, password prompt, outcome. AUTH PLAIN:
    // authPlain (only without an initial response), then the outcome.
    SmtpReply auth = "334 VXNlcm5hbWU6";
    SmtpReply authUser = "334 UGFzc3dvcmQ6";
    SmtpReply authPlain = "334 ";
    SmtpReply authPassword = "235 Authenticated";
    // AUTH XOAUTH2 or OAUTHBEARER with its token: authToken; when that is a
    // 334 challenge, the client's answer gets authTokenAfter.
    SmtpReply authToken = "235 Authenticated";
    SmtpReply authTokenAfter = "535 5.7.8 Authentication credentials invalid";
    SmtpReply quit; // none: the server just closes, as the old tests expect
    // Any other verb, by its upper-case name (NOOP, STARTTLS, VRFY, ...);
    // verbs in neither place get "500 Unknown command".
    std::map<std::string, SmtpReply> other;
    // Answers a command itself when it returns true: for replies that are no
    // whole lines (drips, endless replies, bytes with no line end).
    std::function<bool(ServerSession& session, const std::string& command)> custom;
    // Drop the connection instead of answering the n-th line the client
    // sends (0: before the greeting). -1: never.
    int dropBeforeAnswer = -1;
    // Stop answering (but keep the connection) from the n-th line on.
    int silentFrom = -1;
};

class ScriptedSmtpServer {
public:
    // Connections and messages are numbered from 1.
    using Script = std::function<void(ServerSession& session, int connection)>;
    static constexpr int Unlimited = -1;

    // Plays `answers` on up to `connections` connections (Unlimited: until
    // Stop() or the destructor). `wait` bounds every read of the server.
    explicit ScriptedSmtpServer(SmtpAnswers answers = {}, int connections = Unlimited,
        std::chrono::milliseconds wait = std::chrono::seconds(10));
    // Runs `script` on up to `connections` connections.
    explicit ScriptedSmtpServer(
        Script script, int connections = 1, std::chrono::milliseconds wait = std::chrono::seconds(5));
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    // Connection n gets `answers` instead of the common script.
    void AnswerConnection(int n, SmtpAnswers answers);
    // Runs on the server's thread when message n's data has arrived, before
    // the server answers it.
    void OnData(std::function<void(int message)> onData);

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Waits until the connections given are served (at most 30 s after the
    // start); an Unlimited server stops accepting and finishes the connection
    // under way. Further calls do nothing.
    void Join();
    // Stops accepting and waits for the thread; for tests that expect fewer
    // connections than they allowed.
    void Stop();
    int Accepted() const { return accepted_; }
    // Bytes the client sent on each connection ended so far, in order.
    std::vector<std::string> Received();
    // Recipients of each message the server accepted (its final reply 2xx),
    // in order, as written between "<" and ">" in the RCPT commands.
    std::vector<std::string> Delivered();
    // The data of each accepted message as on the wire (dots still doubled),
    // without the final "." line.
    std::vector<std::string> Messages();
    // Problems the server or the scripts met (a read that timed out, ...).
    std::vector<std::string> Failures();
    // Scripts call this to record a problem.
    void Fail(const std::string& what);

private:
    void Serve();
    void PlaySmtp(ServerSession& session, const SmtpAnswers& answers);
    Script script_;
    SmtpAnswers answers_;
    std::map<int, SmtpAnswers> byConnection_;
    std::function<void(int)> onData_;
    int connections_;
    std::chrono::milliseconds wait_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_ {false};
    std::atomic<int> accepted_ {0};
    int messages_ = 0; // server thread only
    std::mutex mutex_;
    std::vector<std::string> received_;
    std::vector<std::string> delivered_;
    std::vector<std::string> data_;
    std::vector<std::string> failures_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
int UnusedPort();

// A listener on 127.0.0.1 whose accept queue is full, so a connection
// request to Port() never completes its handshake.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    int Port() const { return port_; }

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

std::string LocalName();
// The name a client on this machine says after EHLO to 127.0.0.1: the fully
// qualified name when there is one, else "[127.0.0.1]".
std::string ClientName();

} // namespace og::test
