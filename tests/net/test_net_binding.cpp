// The binding: error texts, the mapping of POSIX errors onto the Windows
// Sockets numbers, the substitutable binding object and the exception family.

#include <cerrno>
#include <cstring>
#include <netdb.h>

#include <gtest/gtest.h>

#include "net/WinsockIntf.h"
#include "net/Wire.h"
#include "tests/support/CountingWinsock.h"

using namespace og;

TEST(WSErrorTextTest, NumberLineThenTextLine)
{
    EXPECT_EQ(WSErrorText(10061), "Socket Error #10061\r\nConnection refused.");
    EXPECT_EQ(WSErrorText(10060), "Socket Error #10060\r\nConnection timed out.");
    EXPECT_EQ(WSErrorText(11001), "Socket Error #11001\r\nHost not found.");
    EXPECT_EQ(WSErrorText(10058), "Socket Error #10058\r\nCannot send or receive after socket is closed.");
    // The binding object gives the same texts.
    EXPECT_EQ(GWinsock().WSErrorText(10054), WSErrorText(10054));
}

TEST(WSErrorTextTest, TextsKeptWordForWord)
{
    // A trailing blank, a missing full stop and an apostrophe are all part of
    // the texts users and scripts have always seen.
    EXPECT_EQ(WSErrorText(10035), "Socket Error #10035\r\nOperation would block. ");
    EXPECT_EQ(WSErrorText(10066), "Socket Error #10066\r\nDirectory not empty");
    EXPECT_EQ(WSErrorText(10049), "Socket Error #10049\r\nCan't assign requested address.");
    EXPECT_EQ(WSErrorText(11002), "Socket Error #11002\r\nNon-authoritative response (try again or check DNS setup).");
    EXPECT_EQ(WSErrorText(11004), "Socket Error #11004\r\nValid name, no data record (check DNS setup).");
    EXPECT_EQ(WSErrorText(10093), "Socket Error #10093\r\nWinsock not loaded yet.");
}

TEST(WSErrorTextTest, UnknownNumberHasEmptySecondLine)
{
    EXPECT_EQ(WSErrorText(12345), "Socket Error #12345\r\n");
    EXPECT_EQ(WSErrorText(0), "Socket Error #0\r\n");
    // Between the two ranges of the table.
    EXPECT_EQ(WSErrorText(10072), "Socket Error #10072\r\n");
}

TEST(ErrorMappingTest, ErrnoValuesBecomeWindowsSocketsNumbers)
{
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
    EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(WinsockErrorFromErrno(EINTR), 10004);
    EXPECT_EQ(WinsockErrorFromErrno(EBADF), 10009);
    EXPECT_EQ(WinsockErrorFromErrno(EACCES), 10013);
    EXPECT_EQ(WinsockErrorFromErrno(EFAULT), 10014);
    EXPECT_EQ(WinsockErrorFromErrno(EINVAL), 10022);
    EXPECT_EQ(WinsockErrorFromErrno(EMFILE), 10024);
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(EINPROGRESS), 10036);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNABORTED), 10053);
}

TEST(ErrorMappingTest, EveryMappedErrnoHasAText)
{
    // Whatever errno a socket call can report, the user gets a readable
    // second line whenever the table has a counterpart.
    for (int e : {EINTR, EBADF, EACCES, EFAULT, EINVAL, EMFILE, EAGAIN, EINPROGRESS, EALREADY, ENOTSOCK, EDESTADDRREQ,
             EMSGSIZE, EPROTOTYPE, ENOPROTOOPT, EPROTONOSUPPORT, EOPNOTSUPP, EAFNOSUPPORT, EADDRINUSE, EADDRNOTAVAIL,
             ENETDOWN, ENETUNREACH, ENETRESET, ECONNABORTED, ECONNRESET, ENOBUFS, EISCONN, ENOTCONN, EPIPE, ETIMEDOUT,
             ECONNREFUSED, EHOSTDOWN, EHOSTUNREACH}) {
        std::string text = WSErrorText(WinsockErrorFromErrno(e));
        EXPECT_GT(text.size(), text.find("\r\n") + 2) << "errno " << e << " gives " << text;
    }
}

TEST(ErrorMappingTest, ResolverFailures)
{
    EXPECT_EQ(WinsockErrorFromResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(WinsockErrorFromResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(WinsockErrorFromResolver(EAI_FAIL, 0), 11003);
#ifdef EAI_NODATA
    EXPECT_EQ(WinsockErrorFromResolver(EAI_NODATA, 0), 11004);
#endif
    EXPECT_EQ(WinsockErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(BindingTest, FailedCallsLeaveTheirNumberForGetLastError)
{
    TWinsockIntfBase& ws = GWinsock();
    char byte = 0;
    EXPECT_EQ(ws.WSRecv(-1, &byte, 1, 0), -1);
    EXPECT_EQ(ws.WSGetLastError(), 10009);
    EXPECT_EQ(ws.WSSend(-1, &byte, 1, 0), -1);
    EXPECT_EQ(ws.WSGetLastError(), 10009);
    EXPECT_EQ(ws.WSInetAddr("not an address"), INADDR_NONE);
    EXPECT_EQ(ws.WSInetAddr("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ws.WSHtoNS(25), htons(25));
    EXPECT_EQ(ws.WSNtoHS(htons(2525)), 2525);
}

TEST(BindingTest, SendingToAClosedPeerIsAnErrorNotASignal)
{
    // If the process took SIGPIPE here, the test binary would die.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    TWinsockIntfBase& ws = GWinsock();
    const char data[] = "Quit\r\n";
    EXPECT_EQ(ws.WSSend(pair[0], data, 6, 0), -1);
    EXPECT_EQ(ws.WSGetLastError(), 10058);
    ws.WSCloseSocket(pair[0]);
}

TEST(BindingTest, HostLookupOfLocalhostName)
{
    hostent* entry = GWinsock().WSGetHostByName("localhost");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    in_addr first {};
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
    EXPECT_EQ((ntohl(first.s_addr) >> 24), 127u);
}

TEST(BindingTest, SubstitutedBindingCarriesEveryCall)
{
    {
        test::CountingWinsock counting;
        EXPECT_EQ(&GWinsock(), &counting);
        counting.failSocketWith = 10024;
        TWireClient client;
        client.Host = "127.0.0.1";
        client.Port = 1;
        try {
            client.Connect();
            FAIL() << "no socket could be had, yet Connect went on";
        } catch (const EWireInvalidSocket& e) {
            EXPECT_EQ(e.Message(), "Cannot allocate socket.");
        }
        EXPECT_FALSE(client.Connected());
    }
    // Restored once the substitute is gone.
    EXPECT_NE(dynamic_cast<TWinsockIntf11*>(&GWinsock()), nullptr);
}

TEST(ResolveHostTest, LocalhostInAnyCaseNeedsNoLookup)
{
    test::CountingWinsock counting;
    EXPECT_EQ(TWire::ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(TWire::ResolveHost("LocalHost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(TWire::ResolveHost("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(counting.hostLookups, 0);
}

TEST(ResolveHostTest, UnknownHostRaisesTheLookupError)
{
    test::CountingWinsock counting;
    counting.failLookupWith = WSAHOST_NOT_FOUND;
    try {
        TWire::ResolveHost("no-such-host.invalid");
        FAIL() << "an unknown host resolved";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error #11001\r\nHost not found.");
    }
    EXPECT_EQ(counting.hostLookups, 1);
}

TEST(ExceptionFamilyTest, ClassesAndMessages)
{
    EWireSocketError socketError(10061);
    EXPECT_EQ(socketError.ErrorCode(), 10061);
    EXPECT_EQ(socketError.Message(), "Socket Error #10061\r\nConnection refused.");
    const EWireException& asWire = socketError;
    EXPECT_STREQ(asWire.what(), "Socket Error #10061\r\nConnection refused.");

    EWireConnClosedGraceful closed("Connection Closed Gracefully.");
    EXPECT_NE(dynamic_cast<const EWireSilentException*>(static_cast<const Exception*>(&closed)), nullptr);

    // Re-raising with a new message keeps the class and the error number.
    try {
        socketError.RaiseWithMessage("wrapped");
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_EQ(e.Message(), "wrapped");
    }
    try {
        EWireResponseError("550 No such user").RaiseWithMessage("550 No such user, again");
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "550 No such user, again");
    }
}
