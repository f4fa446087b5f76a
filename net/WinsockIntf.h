#pragma once
// The one object through which the transport makes every socket call. The
// operations keep the shape of the Windows Sockets 1.1 calls the transport was
// designed around: -1 (or a null host entry) on failure and the error number
// left for WSGetLastError. Error numbers are always the Windows Sockets ones
// (10061 "Connection refused." and so on) so messages and callers stay the
// same on every platform; POSIX errno values and resolver failures are mapped
// onto them here and nowhere else.

#include <cstdint>
#include <string>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace og {

using TSocket = int;
constexpr TSocket kInvalidSocket = -1;
constexpr int kSocketError = -1;

// Windows Sockets error numbers the transport itself refers to.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// "Socket Error #" + n + CR LF + the text for n (empty for an unknown number).
std::string WSErrorText(int errorNumber);

// The Windows Sockets number for a POSIX errno value / a getaddrinfo() result.
// Values without a counterpart of their own keep their errno number so nothing
// is hidden (their message then has an empty second line).
int WinsockErrorFromErrno(int errnoValue);
int WinsockErrorFromResolver(int gaiResult, int errnoValue);

class TWinsockIntfBase {
public:
    TWinsockIntfBase() = default;
    virtual ~TWinsockIntfBase() = default;
    TWinsockIntfBase(const TWinsockIntfBase&) = delete;
    TWinsockIntfBase& operator=(const TWinsockIntfBase&) = delete;

    virtual int WSConnect(TSocket s, const sockaddr* name, socklen_t nameLength) = 0;
    virtual hostent* WSGetHostByAddr(const char* address, int length, int type) = 0;
    virtual uint16_t WSHtoNS(uint16_t value) = 0;
    virtual uint16_t WSNtoHS(uint16_t value) = 0;
    // Network byte order; INADDR_NONE when the text is no dotted address.
    virtual uint32_t WSInetAddr(const char* dotted) = 0;
    virtual int WSGetHostName(char* name, int size) = 0;
    virtual hostent* WSGetHostByName(const char* name) = 0;
    virtual std::string WSErrorText(int errorNumber) = 0;
    virtual int WSGetLastError() = 0;
    virtual int WSRecv(TSocket s, char* buffer, int length, int flags) = 0;
    virtual int WSRecvFrom(TSocket s, char* buffer, int length, int flags, sockaddr* from, socklen_t* fromLength) = 0;
    virtual int WSSelect(int count, fd_set* readSet, fd_set* writeSet, fd_set* errorSet, timeval* timeout) = 0;
    // Sends never raise SIGPIPE: a peer that went away is an error number.
    virtual int WSSend(TSocket s, const char* data, int length, int flags) = 0;
    virtual int WSSendTo(
        TSocket s, const char* data, int length, int flags, const sockaddr* to, socklen_t toLength) = 0;
    virtual int WSSetSockOpt(TSocket s, int level, int option, const char* value, int valueLength) = 0;
    virtual char* WSInetNtoA(in_addr address) = 0;
    virtual int WSListen(TSocket s, int backlog) = 0;
    virtual TSocket WSAccept(TSocket s, sockaddr* address, socklen_t* addressLength) = 0;
    virtual int WSBind(TSocket s, const sockaddr* address, socklen_t addressLength) = 0;
    virtual int WSCloseSocket(TSocket s) = 0;
    virtual TSocket WSSocket(int family, int type, int protocol) = 0;

    // Added for bounded waits; the socket client uses these so that a silent
    // server can never hold the caller for ever.
    // Switches blocking off or on (ioctlsocket FIONBIO).
    virtual int WSSetNonBlocking(TSocket s, bool nonBlocking) = 0;
    virtual int WSGetSockOpt(TSocket s, int level, int option, char* value, socklen_t* valueLength) = 0;
    // Waits up to timeoutMs (negative: no limit) for `events` (POLLIN,
    // POLLOUT) on one socket: >0 ready, 0 timed out, -1 error.
    virtual int WSPoll(TSocket s, short events, int timeoutMs) = 0;
    // shutdown(): SHUT_RD, SHUT_WR or SHUT_RDWR. Wakes a wait on the socket.
    virtual int WSShutdown(TSocket s, int how) = 0;
    // getsockname(): the local end of a connected socket.
    virtual int WSGetSockName(TSocket s, sockaddr* address, socklen_t* addressLength) = 0;
    // Added for IPv6 (the getaddrinfo and freeaddrinfo of Windows Sockets 2):
    // every address of a name, IPv6 and IPv4 alike, in the resolver's order.
    // 0 with the list in *result (free it with WSFreeAddrInfo), or -1 with
    // the resolver's failure as a Windows Sockets number (11001 and so on).
    virtual int WSGetAddrInfo(const char* node, const addrinfo* hints, addrinfo** result) = 0;
    virtual void WSFreeAddrInfo(addrinfo* list) = 0;
};

// The POSIX implementation. Keeps no state between calls apart from the
// calling thread's last error number.
class TWinsockIntf11 : public TWinsockIntfBase {
public:
    TWinsockIntf11();

    int WSConnect(TSocket s, const sockaddr* name, socklen_t nameLength) override;
    hostent* WSGetHostByAddr(const char* address, int length, int type) override;
    uint16_t WSHtoNS(uint16_t value) override;
    uint16_t WSNtoHS(uint16_t value) override;
    uint32_t WSInetAddr(const char* dotted) override;
    int WSGetHostName(char* name, int size) override;
    hostent* WSGetHostByName(const char* name) override;
    std::string WSErrorText(int errorNumber) override;
    int WSGetLastError() override;
    int WSRecv(TSocket s, char* buffer, int length, int flags) override;
    int WSRecvFrom(TSocket s, char* buffer, int length, int flags, sockaddr* from, socklen_t* fromLength) override;
    int WSSelect(int count, fd_set* readSet, fd_set* writeSet, fd_set* errorSet, timeval* timeout) override;
    int WSSend(TSocket s, const char* data, int length, int flags) override;
    int WSSendTo(TSocket s, const char* data, int length, int flags, const sockaddr* to, socklen_t toLength) override;
    int WSSetSockOpt(TSocket s, int level, int option, const char* value, int valueLength) override;
    char* WSInetNtoA(in_addr address) override;
    int WSListen(TSocket s, int backlog) override;
    TSocket WSAccept(TSocket s, sockaddr* address, socklen_t* addressLength) override;
    int WSBind(TSocket s, const sockaddr* address, socklen_t addressLength) override;
    int WSCloseSocket(TSocket s) override;
    TSocket WSSocket(int family, int type, int protocol) override;
    int WSSetNonBlocking(TSocket s, bool nonBlocking) override;
    int WSGetSockOpt(TSocket s, int level, int option, char* value, socklen_t* valueLength) override;
    int WSPoll(TSocket s, short events, int timeoutMs) override;
    int WSShutdown(TSocket s, int how) override;
    int WSGetSockName(TSocket s, sockaddr* address, socklen_t* addressLength) override;
    int WSGetAddrInfo(const char* node, const addrinfo* hints, addrinfo** result) override;
    void WSFreeAddrInfo(addrinfo* list) override;
};

// The binding every socket call goes through. Tests may put a scripted one in
// place with SetWinsock; SetWinsock(nullptr) restores the real one.
TWinsockIntfBase& GWinsock();
void SetWinsock(TWinsockIntfBase* binding);

} // namespace og
