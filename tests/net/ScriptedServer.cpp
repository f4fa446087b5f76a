#include "tests/net/ScriptedServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace og::test {

using namespace std::chrono;

namespace {

int ListenOnLoopback(int* port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
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

std::optional<std::string> ServerSession::ReadLine()
{
    auto deadline = steady_clock::now() + wait_;
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
        std::size_t at = pending_.rfind("\r\n.\r\n");
        std::size_t end = std::string::npos;
        if (pending_.rfind(".\r\n", 0) == 0)
            end = 3;
        else if (at != std::string::npos)
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

// ---------------------------------------------------------------- ScriptedServer

ScriptedServer::ScriptedServer(Script script, int connections, milliseconds wait)
    : script_(std::move(script)),
      connections_(connections),
      wait_(wait)
{
    listenFd_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

void ScriptedServer::Serve()
{
    // An upper bound for the whole life of the server.
    auto deadline = steady_clock::now() + seconds(30);
    for (int i = 0; i < connections_ && !stop_; ++i) {
        int fd = -1;
        while (!stop_ && steady_clock::now() < deadline) {
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
            script_(session, i);
        } catch (const std::exception& e) {
            Fail(std::string("script: ") + e.what());
        }
        // Collect whatever the client still sends before it closes.
        session.WaitForPeerClose(milliseconds(2000));
        std::lock_guard lock(mutex_);
        received_.push_back(session.Received());
    }
}

void ScriptedServer::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void ScriptedServer::Stop()
{
    stop_ = true;
    Join();
}

std::vector<std::string> ScriptedServer::Received()
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> ScriptedServer::Failures()
{
    std::lock_guard lock(mutex_);
    return failures_;
}

void ScriptedServer::Fail(const std::string& what)
{
    std::lock_guard lock(mutex_);
    failures_.push_back(what);
}

// ---------------------------------------------------------------- SMTP play

void PlaySmtp(ServerSession& s, const SmtpAnswers& a, ScriptedServer& server)
{
    int lineNo = 0;
    auto answer = [&](const std::vector<std::string>& lines) {
        if (a.dropBeforeAnswer == lineNo) {
            s.Close();
            return false;
        }
        if (a.silentFrom >= 0 && lineNo >= a.silentFrom) {
            s.WaitForPeerClose(seconds(10));
            return false;
        }
        std::string all;
        for (const auto& l : lines)
            all += l + "\r\n";
        s.Send(all);
        return true;
    };
    if (!answer({a.greeting}))
        return;
    enum { Normal, AuthUser, AuthPassword } state = Normal;
    for (;;) {
        auto line = s.ReadLine();
        if (!line)
            return; // client closed (or went quiet); the test judges
        ++lineNo;
        std::string verb = Upper(line->substr(0, line->find(' ')));
        if (state == AuthUser) {
            state = AuthPassword;
            if (!answer({a.authUser}))
                return;
            continue;
        }
        if (state == AuthPassword) {
            state = Normal;
            if (!answer({a.authPassword}))
                return;
            continue;
        }
        if (verb == "QUIT")
            return;
        if (verb == "EHLO") {
            if (!answer(a.ehlo))
                return;
        } else if (verb == "HELO") {
            if (!answer(a.helo))
                return;
        } else if (verb == "RSET") {
            if (!answer({a.rset}))
                return;
        } else if (verb == "MAIL") {
            if (!answer({a.mail}))
                return;
        } else if (verb == "RCPT") {
            if (!answer({a.rcpt}))
                return;
        } else if (verb == "AUTH") {
            state = AuthUser;
            if (!answer({a.auth}))
                return;
        } else if (verb == "DATA") {
            if (!answer({a.data}))
                return;
            if (a.data.rfind("354", 0) != 0)
                continue;
            if (!s.ReadData()) {
                server.Fail("the data never ended with a \".\" line");
                return;
            }
            ++lineNo;
            if (!answer({a.accepted}))
                return;
        } else {
            if (!answer({"500 Unknown command"}))
                return;
        }
    }
}

int UnusedPort()
{
    int port = 0;
    int fd = ListenOnLoopback(&port);
    ::close(fd);
    return port;
}

std::string LocalName()
{
    char name[260] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

} // namespace og::test
