#pragma once
// The real binding with counters and a switch to make single calls fail, put
// in place of GWinsock() for the length of one test.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "net/WinsockIntf.h"

namespace og::test {

class CountingWinsock : public TWinsockIntf11 {
public:
    CountingWinsock() { SetWinsock(this); }
    ~CountingWinsock() override { SetWinsock(nullptr); }

    std::atomic<int> receivesWithData {0};
    std::atomic<int> sends {0};
    std::atomic<int> hostLookups {0};
    std::atomic<int> sockets {0};
    std::atomic<int> closes {0};
    std::atomic<int> noDelayOn {0};  // TCP_NODELAY switched on
    std::atomic<int> noDelayOff {0}; // and off again
    // When non-zero, the next WSSocket fails with this error.
    int failSocketWith = 0;
    // When non-zero, WSGetHostByName and WSGetAddrInfo fail with this error.
    int failLookupWith = 0;
    // When set, WSGetAddrInfo answers any name with these address literals, in order.
    std::vector<std::string> resolveTo;
    // When set, an IPv4 connect to port `from` goes to port `to`: a test
    // server in the place of a port the test cannot listen on.
    struct {
        int from = 0, to = 0;
    } redirectPort;

    std::vector<int> SendSizes()
    {
        std::lock_guard lock(mutex_);
        return sendSizes_;
    }

    int WSRecv(TSocket s, char* buffer, int length, int flags) override
    {
        int n = TWinsockIntf11::WSRecv(s, buffer, length, flags);
        if (n > 0)
            ++receivesWithData;
        return n;
    }
    int WSSend(TSocket s, const char* data, int length, int flags) override
    {
        int n = TWinsockIntf11::WSSend(s, data, length, flags);
        if (n > 0) {
            ++sends;
            std::lock_guard lock(mutex_);
            sendSizes_.push_back(n);
        }
        return n;
    }
    hostent* WSGetHostByName(const char* name) override
    {
        ++hostLookups;
        if (failLookupWith) {
            injected_ = failLookupWith;
            return nullptr;
        }
        return TWinsockIntf11::WSGetHostByName(name);
    }
    int WSGetAddrInfo(const char* node, const addrinfo* hints, addrinfo** result) override
    {
        ++hostLookups;
        if (failLookupWith) {
            injected_ = failLookupWith;
            return kSocketError;
        }
        if (resolveTo.empty())
            return TWinsockIntf11::WSGetAddrInfo(node, hints, result);
        // One list of the real resolver's per literal, chained; cut apart again when freed.
        addrinfo** tail = result;
        for (const std::string& literal : resolveTo) {
            addrinfo* part = nullptr;
            if (TWinsockIntf11::WSGetAddrInfo(literal.c_str(), hints, &part) != 0)
                continue;
            parts_.push_back(part);
            *tail = part;
            while (*tail)
                tail = &(*tail)->ai_next;
        }
        return 0;
    }
    void WSFreeAddrInfo(addrinfo* list) override
    {
        if (parts_.empty() || list != parts_.front())
            return TWinsockIntf11::WSFreeAddrInfo(list);
        for (std::size_t i = 0; i + 1 < parts_.size(); ++i)
            for (addrinfo* a = parts_[i]; a; a = a->ai_next)
                if (a->ai_next == parts_[i + 1])
                    a->ai_next = nullptr;
        for (addrinfo* part : parts_)
            TWinsockIntf11::WSFreeAddrInfo(part);
        parts_.clear();
    }
    int WSConnect(TSocket s, const sockaddr* name, socklen_t nameLength) override
    {
        sockaddr_in moved {};
        if (redirectPort.from && name->sa_family == AF_INET && nameLength >= socklen_t(sizeof moved)) {
            std::memcpy(&moved, name, sizeof moved);
            if (ntohs(moved.sin_port) == redirectPort.from) {
                moved.sin_port = htons(uint16_t(redirectPort.to));
                return TWinsockIntf11::WSConnect(s, reinterpret_cast<const sockaddr*>(&moved), sizeof moved);
            }
        }
        return TWinsockIntf11::WSConnect(s, name, nameLength);
    }
    TSocket WSSocket(int family, int type, int protocol) override
    {
        if (failSocketWith) {
            injected_ = failSocketWith;
            failSocketWith = 0;
            return kInvalidSocket;
        }
        ++sockets;
        return TWinsockIntf11::WSSocket(family, type, protocol);
    }
    int WSSetSockOpt(TSocket s, int level, int option, const char* value, int valueLength) override
    {
        if (level == IPPROTO_TCP && option == 1 /* TCP_NODELAY */ && valueLength == 4) {
            int32_t v;
            std::memcpy(&v, value, 4);
            ++(v ? noDelayOn : noDelayOff);
        }
        return TWinsockIntf11::WSSetSockOpt(s, level, option, value, valueLength);
    }
    int WSCloseSocket(TSocket s) override
    {
        ++closes;
        return TWinsockIntf11::WSCloseSocket(s);
    }
    int WSGetLastError() override
    {
        if (injected_) {
            int e = injected_;
            injected_ = 0;
            return e;
        }
        return TWinsockIntf11::WSGetLastError();
    }

private:
    int injected_ = 0;
    std::vector<addrinfo*> parts_;
    std::mutex mutex_;
    std::vector<int> sendSizes_;
};

} // namespace og::test
