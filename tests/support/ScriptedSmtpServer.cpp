#include "tests/support/ScriptedSmtpServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace og::test {

using namespace std::chrono;

namespace {

int ListenOnLoopback(int* port, int backlog = 8)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen on 127.0.0.1 failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
        std::size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

// "RCPT to:<a@b>" -> "a@b"
std::string Recipient(const std::string& line)
{
    std::size_t open = line.find('<');
    std::size_t close = line.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return line.substr(line.find(':') == std::string::npos ? line.size() : line.find(':') + 1);
    return line.substr(open + 1, close - open - 1);
}

} // namespace

// ---------------------------------------------------------------- ServerSession

ServerSession::ServerSession(int fd, milliseconds wait)
    : fd_(fd),
      wait_(wait)
{
}

ServerSession::~ServerSession()
{
    Close();
}

void ServerSession::Send(std::string_view bytes)
{
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // the client went away; the test sees it on its side
        }
        sent += static_cast<std::size_t>(n);
    }
}

bool ServerSession::Fill(milliseconds wait)
{
    if (fd_ < 0)
        return false;
    pollfd p {fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    if (ready <= 0)
        return false;
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    received_.append(chunk, static_cast<std::size_t>(n));
    pending_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ServerSession::ReadLine(milliseconds wait)
{
    auto deadline = steady_clock::now() + wait;
    for (;;) {
        std::size_t at = pending_.find("\r\n");
        if (at != std::string::npos) {
            std::string line = pending_.substr(0, at);
            pending_.erase(0, at + 2);
            return line;
        }
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0 || !Fill(left))
            return std::nullopt;
    }
}

std::optional<std::string> ServerSession::ReadData()
{
    auto deadline = steady_clock::now() + wait_;
    for (;;) {
        // The data ends with a line holding a single "."; it may also be the
        // very first line.
        std::size_t end = std::string::npos;
        if (pending_.rfind(".\r\n", 0) == 0)
            end = 3;
        else if (std::size_t at = pending_.find("\r\n.\r\n"); at != std::string::npos)
            end = at + 5;
        if (end != std::string::npos) {
            std::string data = pending_.substr(0, end);
            pending_.erase(0, end);
            return data;
        }
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0 || !Fill(left))
            return std::nullopt;
    }
}

std::optional<std::string> ServerSession::ReadBytes(std::size_t count)
{
    auto deadline = steady_clock::now() + wait_;
    while (pending_.size() < count) {
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0 || !Fill(left))
            return std::nullopt;
    }
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, count);
    return bytes;
}

void ServerSession::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool ServerSession::WaitForPeerClose(milliseconds wait)
{
    auto deadline = steady_clock::now() + wait;
    while (fd_ >= 0) {
        auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p {fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[65536];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return true;
        received_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

// ---------------------------------------------------------------- ScriptedSmtpServer

ScriptedSmtpServer::ScriptedSmtpServer(SmtpAnswers answers, int connections, milliseconds wait)
    : answers_(std::move(answers)),
      connections_(connections),
      wait_(wait)
{
    listenFd_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedSmtpServer::ScriptedSmtpServer(Script script, int connections, milliseconds wait)
    : script_(std::move(script)),
      connections_(connections),
      wait_(wait)
{
    listenFd_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    Stop();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

void ScriptedSmtpServer::AnswerConnection(int n, SmtpAnswers answers)
{
    std::lock_guard lock(mutex_);
    byConnection_[n] = std::move(answers);
}

void ScriptedSmtpServer::OnData(std::function<void(int message)> onData)
{
    std::lock_guard lock(mutex_);
    onData_ = std::move(onData);
}

void ScriptedSmtpServer::Serve()
{
    // A bounded server gives up 30 s after it started.
    auto deadline = steady_clock::now() + seconds(30);
    for (int n = 1; (connections_ == Unlimited || n <= connections_) && !stop_; ++n) {
        int fd = -1;
        while (!stop_ && (connections_ == Unlimited || steady_clock::now() < deadline)) {
            pollfd p {listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    break;
            }
        }
        if (fd < 0)
            break;
        ++accepted_;
        ServerSession session(fd, wait_);
        try {
            if (script_) {
                script_(session, n);
            } else {
                SmtpAnswers answers;
                {
                    std::lock_guard lock(mutex_);
                    auto own = byConnection_.find(n);
                    answers = own != byConnection_.end() ? own->second : answers_;
                }
                PlaySmtp(session, answers);
            }
        } catch (const std::exception& e) {
            Fail(std::string("script: ") + e.what());
        }
        // Collect whatever the client still sends before it closes.
        session.WaitForPeerClose(milliseconds(2000));
        std::lock_guard lock(mutex_);
        received_.push_back(session.Received());
    }
}

void ScriptedSmtpServer::Join()
{
    if (connections_ == Unlimited)
        stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void ScriptedSmtpServer::Stop()
{
    stop_ = true;
    Join();
}

std::vector<std::string> ScriptedSmtpServer::Received()
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedSmtpServer::Delivered()
{
    std::lock_guard lock(mutex_);
    return delivered_;
}

std::vector<std::string> ScriptedSmtpServer::Messages()
{
    std::lock_guard lock(mutex_);
    return data_;
}

std::vector<std::string> ScriptedSmtpServer::Failures()
{
    std::lock_guard lock(mutex_);
    return failures_;
}

void ScriptedSmtpServer::Fail(const std::string& what)
{
    std::lock_guard lock(mutex_);
    failures_.push_back(what);
}

// ---------------------------------------------------------------- SMTP play

void ScriptedSmtpServer::PlaySmtp(ServerSession& s, const SmtpAnswers& a)
{
    int lineNo = 0;
    auto answer = [&](const SmtpReply& reply) {
        if (a.dropBeforeAnswer == lineNo) {
            s.Close();
            return false;
        }
        if (a.silentFrom >= 0 && lineNo >= a.silentFrom) {
            s.WaitForPeerClose(seconds(10));
            return false;
        }
        std::string all;
        for (const auto& l : reply.lines)
            all += l + "\r\n";
        s.Send(all);
        return true;
    };
    if (!answer(a.greeting))
        return;
    // What follows a command that asked for more lines.
    enum { Command, LoginUser, LoginPassword, PlainResponse, TokenResponse } state = Command;
    std::vector<std::string> recipients;
    std::string chunks; // the BDAT chunks of the message so far
    for (;;) {
        auto line = s.ReadLine();
        if (!line)
            return; // client closed (or went quiet); the test judges
        ++lineNo;
        if (state != Command) {
            const SmtpReply& next = state == LoginUser ? a.authUser
                : state == TokenResponse               ? a.authTokenAfter
                                                       : a.authPassword;
            state = state == LoginUser ? LoginPassword : Command;
            if (!answer(next))
                return;
            continue;
        }
        if (a.custom && a.custom(s, *line)) {
            if (s.Closed())
                return;
            continue;
        }
        const std::vector<std::string> words = Words(*line);
        const std::string verb = words.empty() ? std::string() : Upper(words[0]);
        const SmtpReply* reply = nullptr;
        if (verb == "QUIT") {
            answer(a.quit);
            return;
        } else if (verb == "EHLO") {
            reply = &a.ehlo;
        } else if (verb == "HELO") {
            reply = &a.helo;
        } else if (verb == "RSET" || verb == "MAIL") {
            recipients.clear();
            reply = verb == "RSET" ? &a.rset : &a.mail;
        } else if (verb == "RCPT") {
            reply = &a.rcpt;
            if (!a.rcpt.lines.empty() && a.rcpt.lines.back().rfind('2', 0) == 0)
                recipients.push_back(Recipient(*line));
        } else if (verb == "AUTH") {
            const std::string mechanism = words.size() > 1 ? Upper(words[1]) : std::string();
            const bool initial = words.size() > 2;
            if (mechanism == "LOGIN") {
                state = initial ? LoginPassword : LoginUser;
                reply = initial ? &a.authUser : &a.auth;
            } else if (mechanism == "PLAIN") {
                state = initial ? Command : PlainResponse;
                reply = initial ? &a.authPassword : &a.authPlain;
            } else if (mechanism == "XOAUTH2" || mechanism == "OAUTHBEARER") {
                const bool challenge = !a.authToken.lines.empty() && a.authToken.lines.back().rfind("334", 0) == 0;
                state = challenge ? TokenResponse : Command;
                reply = &a.authToken;
            } else {
                static const SmtpReply unknown = "504 5.5.4 Unrecognized authentication type";
                reply = &unknown;
            }
        } else if (verb == "DATA" || verb == "BDAT") {
            std::optional<std::string> data;
            if (verb == "DATA") {
                if (!answer(a.data))
                    return;
                if (a.data.lines.empty() || a.data.lines.back().rfind("354", 0) != 0)
                    continue;
                data = s.ReadData();
                if (data)
                    data->resize(data->size() - 3); // the "." line
            } else {
                data = s.ReadBytes(words.size() > 1 ? std::stoul(words[1]) : 0);
                if (data && !(words.size() > 2 && Upper(words[2]) == "LAST")) {
                    chunks += *data;
                    if (!answer(a.chunk))
                        return;
                    continue;
                }
                if (data)
                    data->insert(0, chunks);
                chunks.clear();
            }
            if (!data) {
                Fail("the data never ended");
                return;
            }
            const int message = ++messages_;
            std::function<void(int)> onData;
            {
                std::lock_guard lock(mutex_);
                onData = onData_;
            }
            if (onData)
                onData(message);
            if (verb == "DATA")
                ++lineNo;
            // Recorded before the answer: once the client has its 250, the
            // test may ask at once.
            if (!a.accepted.lines.empty() && a.accepted.lines.back().rfind('2', 0) == 0) {
                std::lock_guard lock(mutex_);
                delivered_.insert(delivered_.end(), recipients.begin(), recipients.end());
                data_.push_back(*data);
            }
            recipients.clear();
            if (!answer(a.accepted))
                return;
            continue;
        } else if (auto other = a.other.find(verb); other != a.other.end()) {
            reply = &other->second;
        } else {
            static const SmtpReply unknown = "500 Unknown command";
            reply = &unknown;
        }
        if (!answer(*reply))
            return;
    }
}

int UnusedPort()
{
    int port = 0;
    int fd = ListenOnLoopback(&port);
    ::close(fd);
    return port;
}

// ---------------------------------------------------------------- StalledListener

StalledListener::StalledListener()
{
    listenFd_ = ListenOnLoopback(&port_, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    for (int i = 0; i < 3; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers_.push_back(f);
    }
    std::this_thread::sleep_for(milliseconds(100));
}

StalledListener::~StalledListener()
{
    for (int f : fillers_)
        ::close(f);
    ::close(listenFd_);
}

std::string LocalName()
{
    char name[260] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

std::string ClientName()
{
    addrinfo hints {};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    std::string full;
    if (::getaddrinfo(LocalName().c_str(), nullptr, &hints, &found) == 0 && found && found->ai_canonname)
        full = found->ai_canonname;
    if (found)
        ::freeaddrinfo(found);
    return full.find('.') != std::string::npos ? full : "[127.0.0.1]";
}

} // namespace og::test
