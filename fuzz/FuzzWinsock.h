#pragma once
// An in-memory socket binding for the transport's fuzz targets: every
// connection reads the server's bytes from `input` (then the peer closes) and
// every byte the client sends is kept in `output`. No socket is opened and
// nothing waits, so one run costs microseconds and cannot hang.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "net/WinsockIntf.h"

namespace og::fuzz {

class FuzzWinsock : public TWinsockIntf11 {
public:
    FuzzWinsock() { SetWinsock(this); }
    ~FuzzWinsock() override { SetWinsock(nullptr); }
    FuzzWinsock(const FuzzWinsock&) = delete;
    FuzzWinsock& operator=(const FuzzWinsock&) = delete;

    void Reset(std::string_view serverBytes)
    {
        input_.assign(serverBytes);
        read_ = 0;
        output.clear();
    }
    // More bytes from the server, for a server that answers what it gets.
    void Feed(std::string_view serverBytes) { input_.append(serverBytes); }
    std::string output;

    // A real descriptor, so that closing it is an ordinary close.
    TSocket WSSocket(int, int, int) override { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }
    int WSCloseSocket(TSocket s) override { return ::close(s); }
    int WSConnect(TSocket, const sockaddr*, socklen_t) override { return 0; }
    int WSSetNonBlocking(TSocket, bool) override { return 0; }
    int WSSetSockOpt(TSocket, int, int, const char*, int) override { return 0; }
    int WSPoll(TSocket, short events, int) override { return events & (POLLIN | POLLOUT) ? 1 : 0; }
    int WSRecv(TSocket, char* buffer, int length, int) override
    {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), input_.size() - read_);
        std::memcpy(buffer, input_.data() + read_, n);
        read_ += n;
        return static_cast<int>(n); // 0 at the end: the server closed
    }
    int WSSend(TSocket, const char* data, int length, int) override
    {
        output.append(data, static_cast<std::size_t>(length));
        return length;
    }

private:
    std::string input_;
    std::size_t read_ = 0;
};

} // namespace og::fuzz
