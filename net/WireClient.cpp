// Finding a server's addresses and connecting to the first that answers:
// the client side of the socket client (net/Wire.h).
#include "net/Wire.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>

namespace og {

// ---------------------------------------------------------------- resolving

uint32_t TWire::ResolveHost(const std::string& name)
{
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper == "LOCALHOST")
        return GWinsock().WSInetAddr("127.0.0.1");
    uint32_t address = GWinsock().WSInetAddr(name.c_str());
    if (address != INADDR_NONE)
        return address;
    hostent* entry = GWinsock().WSGetHostByName(name.c_str());
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0])
        RaiseSocketError(GWinsock().WSGetLastError());
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

std::vector<TSocketAddress> TWire::ResolveAddresses(const std::string& name, int port)
{
    std::string host = name;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const uint16_t portBytes = GWinsock().WSHtoNS(static_cast<uint16_t>(port));
    TSocketAddress one;
    in6_addr v6 {};
    if (host.find(':') != std::string::npos && inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        auto& a = reinterpret_cast<sockaddr_in6&>(one.address);
        a.sin6_family = AF_INET6;
        a.sin6_addr = v6;
        a.sin6_port = portBytes;
        one.length = sizeof a;
        return {one};
    }
    std::string upper = host;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    const uint32_t v4 = GWinsock().WSInetAddr(upper == "LOCALHOST" ? "127.0.0.1" : host.c_str());
    if (v4 != INADDR_NONE) {
        auto& a = reinterpret_cast<sockaddr_in&>(one.address);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = v4;
        a.sin_port = portBytes;
        one.length = sizeof a;
        return {one};
    }
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (GWinsock().WSGetAddrInfo(host.c_str(), &hints, &found) != 0)
        RaiseSocketError(GWinsock().WSGetLastError());
    std::vector<TSocketAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof one.address)
            continue;
        TSocketAddress next;
        std::memcpy(&next.address, a->ai_addr, a->ai_addrlen);
        next.length = a->ai_addrlen;
        if (a->ai_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(next.address).sin_port = portBytes;
        else
            reinterpret_cast<sockaddr_in6&>(next.address).sin6_port = portBytes;
        addresses.push_back(next);
    }
    GWinsock().WSFreeAddrInfo(found);
    if (addresses.empty())
        RaiseSocketError(WSANO_DATA);
    return addresses;
}

// ---------------------------------------------------------------- TWireClient

TWireClient::~TWireClient()
{
    if (Connected())
        TWireClient::Disconnect();
    OnStatus = nullptr;
}

namespace {

// Errors that say this machine cannot reach that kind of address at all
// (no IPv6 route, say): another address's failure says more.
bool OutOfReach(int errorNumber)
{
    return errorNumber == WSAEAFNOSUPPORT || errorNumber == WSAEADDRNOTAVAIL || errorNumber == WSAENETDOWN ||
        errorNumber == WSAENETUNREACH || errorNumber == WSAEHOSTUNREACH;
}

} // namespace

void TWireClient::Connect()
{
    if (Connected())
        throw EWireAlreadyConnected("Already connected.");
    if (aborted_)
        RaiseSocketError(WSAECONNABORTED);
    DoStatus("Connecting to " + Host);
    ResetBuffer(static_cast<std::size_t>(std::max(BufferChunk, 1)));
    deadline_.reset();
    LinkUp = false;
    try {
        const std::vector<TSocketAddress> addresses = ResolveAddresses(Host, Port);
        std::exception_ptr reported;
        bool reportedOutOfReach = false, connected = false;
        for (const TSocketAddress& address : addresses) {
            std::exception_ptr failed;
            int failure = 0;
            try {
                ConnectTo(address);
                connected = true;
                break;
            } catch (const EWireSocketError& e) {
                failed = std::current_exception();
                failure = e.ErrorCode();
            } catch (const EWireInvalidSocket&) {
                failed = std::current_exception();
                failure = WSAEAFNOSUPPORT; // no socket of that family here
            }
            if (aborted_)
                std::rethrow_exception(failed);
            if (!reported || (reportedOutOfReach && !OutOfReach(failure))) {
                reported = failed;
                reportedOutOfReach = OutOfReach(failure);
            }
        }
        if (!connected)
            std::rethrow_exception(reported);
        LinkUp = true;
        if (!LogFile.empty())
            OpenLog();
        DoStatus("Socket Connected");
        ClosedGracefully = false;
    } catch (...) {
        // The caller sees the error that stopped the connect, never one from
        // the clean-up (such as a farewell on a socket that never connected).
        DisconnectQuietly();
        throw;
    }
}

void TWireClient::ConnectTo(const TSocketAddress& address)
{
    CreateSocket(SOCK_STREAM, address.Family());
    // The socket never blocks: every wait happens in a bounded poll.
    CheckSocketResult(GWinsock().WSSetNonBlocking(SocketHandle, true));
    if (!UseNagle) {
        int32_t on = 1;
        CheckSocketResult(GWinsock().WSSetSockOpt(
            SocketHandle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on));
    }
    int result =
        GWinsock().WSConnect(SocketHandle, reinterpret_cast<const sockaddr*>(&address.address), address.length);
    if (result == kSocketError) {
        int error = GWinsock().WSGetLastError();
        if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS)
            RaiseSocketError(error);
        if (ConnectTimeout > 0)
            deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(ConnectTimeout);
        const bool ready = WaitReady(POLLOUT);
        deadline_.reset();
        if (!ready)
            RaiseSocketError(WSAETIMEDOUT);
        int32_t pending = 0;
        socklen_t length = sizeof pending;
        CheckSocketResult(
            GWinsock().WSGetSockOpt(SocketHandle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &length));
        if (pending != 0)
            RaiseSocketError(WinsockErrorFromErrno(pending));
    }
}

void TWireClient::Disconnect()
{
    try {
        DoStatus("Disconnecting");
    } catch (...) {
    }
    // Whatever was written still goes out before the socket closes.
    if (Connected() && LinkUp) {
        try {
            Flush();
        } catch (...) {
        }
    }
    CloseLog();
    ResetBuffer(0);
    TWireSocket::Disconnect();
    try {
        DoStatus("Disconnected");
    } catch (...) {
    }
}

} // namespace og
