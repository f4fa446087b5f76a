#include "net/WinsockIntf.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace og {

namespace {

// The calling thread's last error, as a Windows Sockets number.
thread_local int tLastError = 0;

int Fail(int winsockError)
{
    tLastError = winsockError;
    return kSocketError;
}

int FailErrno()
{
    return Fail(WinsockErrorFromErrno(errno));
}

struct ErrorText {
    int number;
    const char* text;
};

// The Windows Sockets 1.1 messages, kept word for word (10035 ends in a
// blank, 10066 has no full stop).
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Can't assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, can't splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {10067, "Too many processes."},
    {10068, "Too many users."},
    {10069, "Disk Quota Exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unavailable."},
    {10092, "WINSOCK DLL Version out of range."},
    {10093, "Winsock not loaded yet."},
    {11001, "Host not found."},
    {11002, "Non-authoritative response (try again or check DNS setup)."},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP."},
    {11004, "Valid name, no data record (check DNS setup)."},
};
static_assert(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]) == 50);

// Storage behind the host entries handed out by the lookups, one per thread,
// valid until that thread's next lookup (the contract of the calls they
// stand in for).
struct HostEntryStore {
    hostent entry {};
    std::string name;
    std::vector<in_addr> addresses;
    std::vector<char*> addressPointers;
    char* noAliases[1] = {nullptr};

    // Points the C host entry at the name and addresses held here.
    hostent* Publish()
    {
        addressPointers.clear();
        for (auto& a : addresses)
            addressPointers.push_back(reinterpret_cast<char*>(&a));
        addressPointers.push_back(nullptr);
        entry.h_name = name.data();
        entry.h_aliases = noAliases;
        entry.h_addrtype = AF_INET;
        entry.h_length = sizeof(in_addr);
        entry.h_addr_list = addressPointers.data();
        return &entry;
    }
};
thread_local HostEntryStore tHostEntry;

} // namespace

std::string WSErrorText(int errorNumber)
{
    std::string text = "Socket Error #" + std::to_string(errorNumber) + "\r\n";
    for (const auto& row : kErrorTexts)
        if (row.number == errorNumber)
            return text + row.text;
    return text;
}

// errno -> Windows Sockets error number:
//   EINTR 10004, EBADF 10009, EACCES/EPERM 10013, EFAULT 10014,
//   EINVAL 10022, EMFILE/ENFILE 10024, EAGAIN/EWOULDBLOCK 10035,
//   EINPROGRESS 10036, EALREADY 10037, ENOTSOCK 10038, EDESTADDRREQ 10039,
//   EMSGSIZE 10040, EPROTOTYPE 10041, ENOPROTOOPT 10042,
//   EPROTONOSUPPORT 10043, ESOCKTNOSUPPORT 10044, EOPNOTSUPP 10045,
//   EPFNOSUPPORT 10046, EAFNOSUPPORT 10047, EADDRINUSE 10048,
//   EADDRNOTAVAIL 10049, ENETDOWN 10050, ENETUNREACH 10051,
//   ENETRESET 10052, ECONNABORTED 10053, ECONNRESET 10054, ENOBUFS/ENOMEM
//   10055, EISCONN 10056, ENOTCONN 10057, ESHUTDOWN and EPIPE 10058,
//   ETOOMANYREFS 10059, ETIMEDOUT 10060, ECONNREFUSED 10061, ELOOP 10062,
//   ENAMETOOLONG 10063, EHOSTDOWN 10064, EHOSTUNREACH 10065,
//   ENOTEMPTY 10066, EUSERS 10068, EDQUOT 10069, ESTALE 10070,
//   EREMOTE 10071.
// EPIPE (writing to a connection that is already shut down, locally or by the
// peer) is 10058 "Cannot send or receive after socket is closed.": that is
// exactly its meaning, and the socket client treats 10058 as the connection
// being gone.
int WinsockErrorFromErrno(int e)
{
    switch (e) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return e;
    }
}

// getaddrinfo() result -> Windows Sockets error number:
//   EAI_NONAME 11001 "Host not found.", EAI_AGAIN 11002 (temporary failure),
//   EAI_FAIL 11003 (non-recoverable), EAI_NODATA and EAI_ADDRFAMILY 11004
//   (the name exists but has no address of the family asked for), EAI_MEMORY 10055,
//   EAI_FAMILY 10047, EAI_SOCKTYPE 10044, EAI_SERVICE/EAI_BADFLAGS 10022,
//   EAI_SYSTEM the errno mapping above.
int WinsockErrorFromResolver(int gaiResult, int errnoValue)
{
    switch (gaiResult) {
    case 0:
        return 0;
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_MEMORY:
        return 10055;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SERVICE:
    case EAI_BADFLAGS:
        return 10022;
    case EAI_SYSTEM:
        return WinsockErrorFromErrno(errnoValue);
    default:
        return 11003;
    }
}

TWinsockIntf11::TWinsockIntf11() = default;

int TWinsockIntf11::WSConnect(TSocket s, const sockaddr* name, socklen_t nameLength)
{
    return ::connect(s, name, nameLength) == 0 ? 0 : FailErrno();
}

hostent* TWinsockIntf11::WSGetHostByAddr(const char* address, int length, int type)
{
    if (type != AF_INET || length != static_cast<int>(sizeof(in_addr)) || !address) {
        Fail(10047);
        return nullptr;
    }
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    std::memcpy(&sa.sin_addr, address, sizeof(in_addr));
    char host[NI_MAXHOST];
    int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        Fail(WinsockErrorFromResolver(rc, errno));
        return nullptr;
    }
    auto& store = tHostEntry;
    store.name = host;
    store.addresses.assign(1, sa.sin_addr);
    return store.Publish();
}

uint16_t TWinsockIntf11::WSHtoNS(uint16_t value)
{
    return htons(value);
}
uint16_t TWinsockIntf11::WSNtoHS(uint16_t value)
{
    return ntohs(value);
}

uint32_t TWinsockIntf11::WSInetAddr(const char* dotted)
{
    if (!dotted)
        return INADDR_NONE;
    in_addr address {};
    if (::inet_pton(AF_INET, dotted, &address) != 1)
        return INADDR_NONE;
    return address.s_addr;
}

int TWinsockIntf11::WSGetHostName(char* name, int size)
{
    if (!name || size <= 0)
        return Fail(10014);
    return ::gethostname(name, static_cast<std::size_t>(size)) == 0 ? 0 : FailErrno();
}

hostent* TWinsockIntf11::WSGetHostByName(const char* name)
{
    if (!name) {
        Fail(10014);
        return nullptr;
    }
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    errno = 0;
    int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0) {
        Fail(WinsockErrorFromResolver(rc, errno));
        return nullptr;
    }
    auto& store = tHostEntry;
    store.name = (found->ai_canonname ? found->ai_canonname : name);
    store.addresses.clear();
    for (addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET)
            store.addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    ::freeaddrinfo(found);
    if (store.addresses.empty()) {
        Fail(11004);
        return nullptr;
    }
    return store.Publish();
}

std::string TWinsockIntf11::WSErrorText(int errorNumber)
{
    return og::WSErrorText(errorNumber);
}

int TWinsockIntf11::WSGetLastError()
{
    return tLastError;
}

int TWinsockIntf11::WSRecv(TSocket s, char* buffer, int length, int flags)
{
    ssize_t n = ::recv(s, buffer, static_cast<std::size_t>(length), flags);
    return n >= 0 ? static_cast<int>(n) : FailErrno();
}

int TWinsockIntf11::WSRecvFrom(TSocket s, char* buffer, int length, int flags, sockaddr* from, socklen_t* fromLength)
{
    ssize_t n = ::recvfrom(s, buffer, static_cast<std::size_t>(length), flags, from, fromLength);
    return n >= 0 ? static_cast<int>(n) : FailErrno();
}

int TWinsockIntf11::WSSelect(int count, fd_set* readSet, fd_set* writeSet, fd_set* errorSet, timeval* timeout)
{
    int n = ::select(count, readSet, writeSet, errorSet, timeout);
    return n >= 0 ? n : FailErrno();
}

int TWinsockIntf11::WSSend(TSocket s, const char* data, int length, int flags)
{
    ssize_t n = ::send(s, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    return n >= 0 ? static_cast<int>(n) : FailErrno();
}

int TWinsockIntf11::WSSendTo(TSocket s, const char* data, int length, int flags, const sockaddr* to, socklen_t toLength)
{
    ssize_t n = ::sendto(s, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL, to, toLength);
    return n >= 0 ? static_cast<int>(n) : FailErrno();
}

int TWinsockIntf11::WSSetSockOpt(TSocket s, int level, int option, const char* value, int valueLength)
{
    return ::setsockopt(s, level, option, value, static_cast<socklen_t>(valueLength)) == 0 ? 0 : FailErrno();
}

char* TWinsockIntf11::WSInetNtoA(in_addr address)
{
    thread_local char text[INET_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET, &address, text, sizeof text))
        return nullptr;
    return text;
}

int TWinsockIntf11::WSListen(TSocket s, int backlog)
{
    return ::listen(s, backlog) == 0 ? 0 : FailErrno();
}

TSocket TWinsockIntf11::WSAccept(TSocket s, sockaddr* address, socklen_t* addressLength)
{
    int fd = ::accept4(s, address, addressLength, SOCK_CLOEXEC);
    return fd >= 0 ? fd : FailErrno();
}

int TWinsockIntf11::WSBind(TSocket s, const sockaddr* address, socklen_t addressLength)
{
    return ::bind(s, address, addressLength) == 0 ? 0 : FailErrno();
}

int TWinsockIntf11::WSCloseSocket(TSocket s)
{
    return ::close(s) == 0 ? 0 : FailErrno();
}

TSocket TWinsockIntf11::WSSocket(int family, int type, int protocol)
{
    // Close-on-exec: an editor or browser started by the program must not
    // inherit a mail connection.
    int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return fd >= 0 ? fd : FailErrno();
}

int TWinsockIntf11::WSShutdown(TSocket s, int how)
{
    return ::shutdown(s, how) == 0 ? 0 : FailErrno();
}

int TWinsockIntf11::WSGetSockName(TSocket s, sockaddr* address, socklen_t* addressLength)
{
    return ::getsockname(s, address, addressLength) == 0 ? 0 : FailErrno();
}

int TWinsockIntf11::WSGetAddrInfo(const char* node, const addrinfo* hints, addrinfo** result)
{
    if (!node || !result)
        return Fail(10014);
    errno = 0;
    const int rc = ::getaddrinfo(node, nullptr, hints, result);
    return rc == 0 ? 0 : Fail(WinsockErrorFromResolver(rc, errno));
}

void TWinsockIntf11::WSFreeAddrInfo(addrinfo* list)
{
    if (list)
        ::freeaddrinfo(list);
}

int TWinsockIntf11::WSSetNonBlocking(TSocket s, bool nonBlocking)
{
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return FailErrno();
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) == 0 ? 0 : FailErrno();
}

int TWinsockIntf11::WSGetSockOpt(TSocket s, int level, int option, char* value, socklen_t* valueLength)
{
    return ::getsockopt(s, level, option, value, valueLength) == 0 ? 0 : FailErrno();
}

int TWinsockIntf11::WSPoll(TSocket s, short events, int timeoutMs)
{
    pollfd p {};
    p.fd = s;
    p.events = events;
    for (;;) {
        int n = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (n >= 0) {
            if (n > 0 && (p.revents & POLLNVAL))
                return Fail(10038);
            return n;
        }
        // A signal is no reason to give up the wait; the caller's time
        // budget is per call anyway.
        if (errno != EINTR)
            return FailErrno();
    }
}

namespace {
TWinsockIntf11& DefaultWinsock()
{
    static TWinsockIntf11 binding;
    return binding;
}
TWinsockIntfBase* gActive = nullptr;
} // namespace

TWinsockIntfBase& GWinsock()
{
    return gActive ? *gActive : DefaultWinsock();
}

void SetWinsock(TWinsockIntfBase* binding)
{
    gActive = binding;
}

} // namespace og
