#pragma once
// A one-connection TCP sink on 127.0.0.1 for the mail tests: it accepts one
// client on an ephemeral port and records every byte until the client closes.
// Every wait is bounded, and the destructor stops the thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace og::test {

class LoopbackSink {
public:
    // A small receive buffer lets a sender feel back-pressure sooner.
    explicit LoopbackSink(std::chrono::milliseconds idleLimit = std::chrono::seconds(20), int receiveBufferBytes = 0)
        : idleLimit_(idleLimit)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0)
            throw std::runtime_error("sink: no socket");
        if (receiveBufferBytes > 0)
            ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(listener_);
            throw std::runtime_error("sink: cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }

    ~LoopbackSink()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }

    LoopbackSink(const LoopbackSink&) = delete;
    LoopbackSink& operator=(const LoopbackSink&) = delete;

    int Port() const { return port_; }

    // Drops the connection at once (reset), as a failing server would.
    void Abort() { abort_ = true; }

    // Waits (bounded by the idle limit) until the client has closed, then
    // returns everything it sent.
    std::string Received()
    {
        if (thread_.joinable())
            thread_.join();
        std::lock_guard lock(mutex_);
        return received_;
    }

    std::size_t ReceivedSoFar()
    {
        std::lock_guard lock(mutex_);
        return received_.size();
    }

private:
    void Run()
    {
        const auto deadline = [this] { return std::chrono::steady_clock::now() + idleLimit_; };
        auto until = deadline();
        int peer = -1;
        while (!stop_ && std::chrono::steady_clock::now() < until) {
            pollfd p {listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                break;
            }
        }
        if (peer < 0)
            return;
        until = deadline();
        char buffer[65536];
        while (!stop_ && std::chrono::steady_clock::now() < until) {
            if (abort_) {
                linger hard {1, 0};
                ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                break;
            }
            pollfd p {peer, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            {
                std::lock_guard lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(got));
            }
            until = deadline();
        }
        ::close(peer);
    }

    std::chrono::milliseconds idleLimit_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_ {false};
    std::atomic<bool> abort_ {false};
    std::mutex mutex_;
    std::string received_;
};

} // namespace og::test
