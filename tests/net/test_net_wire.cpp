// The socket client against a scripted server on 127.0.0.1: line reading,
// replies, commands, gathered writes, time-outs, peer close, events and the
// traffic log.

#include <fstream>
#include <sstream>
#include <thread>

#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "net/Wire.h"
#include "tests/support/CountingWinsock.h"
#include "tests/support/ScriptedSmtpServer.h"

using namespace og;
using namespace og::test;
using namespace std::chrono_literals;

namespace {

// Waits (bounded) until the client has had `n` receives with data.
void AwaitReceives(const CountingWinsock& counting, int n)
{
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (counting.receivesWithData < n && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

class WireClientTest : public ::testing::Test {
protected:
    CountingWinsock counting;
    TWireClient client;
    std::vector<std::string> statuses;

    void SetUp() override
    {
        client.Host = "127.0.0.1";
        client.Timeout = 5;
        client.OnStatus = [this](TWireSocket&, const std::string& text) { statuses.push_back(text); };
    }
    void ConnectTo(ScriptedSmtpServer& server)
    {
        client.Port = server.Port();
        client.Connect();
        ASSERT_TRUE(client.Connected());
    }
    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

} // namespace

TEST_F(WireClientTest, LineSplitOverReceivesComesWhole)
{
    ScriptedSmtpServer server([this](ServerSession& s, int) {
        s.Send("250 hel");
        AwaitReceives(counting, 1);
        s.Send("lo wor");
        AwaitReceives(counting, 2);
        s.Send("ld\r\n");
    });
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), "250 hello world");
    EXPECT_EQ(counting.receivesWithData, 3);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, TwoLinesInOneReceiveNeedOneReceive)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Send("first\r\nsecond\r\nthird"); });
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), "first");
    EXPECT_EQ(client.ReadLn(), "second");
    EXPECT_EQ(counting.receivesWithData, 1);
    // The rest stays buffered until its line end arrives.
    EXPECT_EQ(client.BufferPos(), 6);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, OnlyCrLfEndsALine)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Send("a\nb\rc\r\n\r\nd\r\n"); });
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), "a\nb\rc");
    EXPECT_EQ(client.ReadLn(), "");
    EXPECT_EQ(client.ReadLnNonBlank(), "d");
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, RepliesOneAfterAnother)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Send("\r\n   \r\n\t\r\n220 ready\r\n"
               "250-a\r\n250-b\r\n250 c\r\n"
               "250-first\r\n251-odd one\r\n250-x\r\n250 last\r\n"
               "+OK POP3 ready\r\n"
               "-ERR no such message\r\n"
               "abc def\r\n"
               "25\r\n");
    });
    ConnectTo(server);

    EXPECT_EQ(client.GetResponse(), 220);
    EXPECT_EQ(client.LastReply, "220 ready");
    EXPECT_TRUE(client.ReplyLines.empty());

    EXPECT_EQ(client.GetResponse(), 250);
    EXPECT_EQ(client.LastReply, "250 c");
    EXPECT_EQ(client.ReplyLines, (std::vector<std::string> {"250-a", "250-b", "250 c"}));

    // Only the first line decides; lines in between are taken as they come.
    EXPECT_EQ(client.GetResponse(), 250);
    EXPECT_EQ(client.ReplyLines.size(), 4u);
    EXPECT_EQ(client.LastReply, "250 last");

    EXPECT_EQ(client.GetResponse(), 1);
    EXPECT_EQ(client.GetResponse(), 0);
    EXPECT_EQ(client.LastReply, "-ERR no such message");
    EXPECT_EQ(client.GetResponse(), 0);
    EXPECT_EQ(client.LastReply, "abc def");
    EXPECT_EQ(client.GetResponse(), 25);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, CommandChecksTheCodeAndReportsStatus)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        for (const char* reply : {"250 fine", "550 No such user here", "354 go", "221 bye"}) {
            if (!s.ReadLine())
                return;
            s.Reply(reply);
        }
    });
    ConnectTo(server);
    statuses.clear();

    EXPECT_EQ(client.Command("NOOP", 250, 2, "All fine"), 250);
    try {
        client.Command("RCPT to:<x@y>", 250, 2, "not reported");
        FAIL() << "a 550 was taken for 250";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "550 No such user here");
    }
    // A wrong code leaves the connection to the caller.
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.Command("DATA", -1, 1, "*"), 354);
    EXPECT_EQ(client.Command("QUIT", -1, 0, ""), 221);
    EXPECT_EQ(statuses, (std::vector<std::string> {"    All fine", "  354 go"}));
    client.Disconnect();
    server.Join();
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_EQ(server.Received()[0], "NOOP\r\nRCPT to:<x@y>\r\nDATA\r\nQUIT\r\n");
}

TEST_F(WireClientTest, CommandWithLineBreakIsRefusedBeforeSending)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        if (s.ReadLine())
            s.Reply("250 ok");
    });
    ConnectTo(server);
    for (const char* smuggler : {"RCPT to:<a@b>\r\nRCPT to:<c@d>", "MAIL FROM:<a@b>\nDATA", "NOOP\r"}) {
        EXPECT_THROW(client.Command(smuggler, 250, 0, ""), EWireException) << smuggler;
        EXPECT_TRUE(client.Connected());
    }
    EXPECT_EQ(client.Command("NOOP", 250, 0, ""), 250);
    client.Disconnect();
    server.Join();
    EXPECT_EQ(server.Received()[0], "NOOP\r\n");
}

TEST_F(WireClientTest, AsciiFilterClearsTheTopBit)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Send("\xE9t\xE9\r\n\xE9\r\n"); });
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), "\xE9t\xE9");
    client.ASCIIFilter = true;
    // The filter acts as bytes arrive; the second line was already here.
    EXPECT_EQ(client.ReadLn(), "\xE9");
    client.Disconnect();

    ScriptedSmtpServer second([](ServerSession& s, int) { s.Send("\xE9t\xE9\r\n"); });
    client.Port = second.Port();
    client.Connect();
    EXPECT_EQ(client.ReadLn(), "iti");
    client.Disconnect();
    server.Join();
    second.Join();
}

TEST_F(WireClientTest, WritingWithoutConnection)
{
    EXPECT_NO_THROW(client.Write(""));
    try {
        client.Write("x");
        FAIL() << "wrote without a socket";
    } catch (const EWireClosedSocket& e) {
        EXPECT_EQ(e.Message(), "Socket is closed, cannot write");
    }
    EXPECT_THROW(client.WriteLn("x"), EWireClosedSocket);
    EXPECT_EQ(counting.sends, 0);
}

TEST_F(WireClientTest, GatheredWritesGoOutAsFewSendsWithExactBytes)
{
    const std::string line(60, 'Q');
    ScriptedSmtpServer server([](ServerSession& s, int) {
        for (int i = 0; i < 3000; ++i)
            if (!s.ReadLine())
                return;
        s.Reply("250 all lines here");
    });
    ConnectTo(server);
    for (int i = 0; i < 3000; ++i)
        client.WriteLn(line);
    EXPECT_EQ(client.GetResponse(), 250);
    // 186,000 bytes in 3000 lines: a handful of sends of the gathering
    // buffer (partial sends when the socket buffer is full add a few), never
    // one per line.
    EXPECT_LE(counting.sends, 100);
    client.Disconnect();
    server.Join();
    std::string expected;
    for (int i = 0; i < 3000; ++i)
        expected += line + "\r\n";
    EXPECT_EQ(server.Received()[0], expected);
}

TEST_F(WireClientTest, PendingWritesGoOutAtDisconnect)
{
    ScriptedSmtpServer server([](ServerSession&, int) {});
    ConnectTo(server);
    client.WriteLn("last words");
    client.Disconnect();
    server.Join();
    EXPECT_EQ(server.Received()[0], "last words\r\n");
}

TEST_F(WireClientTest, HeaderBlockFromNameValueLines)
{
    ScriptedSmtpServer server([](ServerSession&, int) {});
    ConnectTo(server);
    client.WriteHeaders(
        {"From=Shop <shop@example.com>", "Content-Type=multipart/mixed; boundary=\"=_b\"", "X-Plain", "Subject="});
    client.Disconnect();
    server.Join();
    EXPECT_EQ(server.Received()[0],
        "From: Shop <shop@example.com>\r\n"
        "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n"
        "X-Plain\r\n"
        "Subject: \r\n"
        "\r\n");
}

TEST_F(WireClientTest, SecondConnectKeepsTheConnection)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        if (s.ReadLine())
            s.Reply("250 still here");
    });
    ConnectTo(server);
    try {
        client.Connect();
        FAIL() << "connected twice";
    } catch (const EWireAlreadyConnected& e) {
        EXPECT_EQ(e.Message(), "Already connected.");
    }
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.Command("NOOP", 250, 0, ""), 250);
    client.Disconnect();
    server.Join();
    EXPECT_EQ(server.Accepted(), 1);
}

TEST_F(WireClientTest, LowerCaseLocalhostConnectsWithoutLookup)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Reply("220 hi"); });
    client.Host = "localhost";
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), "220 hi");
    EXPECT_EQ(counting.hostLookups, 0);
    client.Disconnect();
    server.Join();
}

// A name is tried at each of its addresses in turn, IPv6 ones too; when
// none answers, the error is the first address's unless its network is out
// of reach from here. (Nothing listens on 127.0.0.2 at the server's port.)
TEST_F(WireClientTest, EachAddressOfANameInTurn)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Reply("220 hi"); }, 2);
    const struct {
        std::vector<std::string> addresses;
        int error; // 0: connected
    } cases[] = {
        {{"127.0.0.2", "127.0.0.1"}, 0},
        {{"::1", "127.0.0.1"}, 0},
        {{"127.0.0.2", "::1"}, 10061},
    };
    for (const auto& c : cases) {
        counting.resolveTo = c.addresses;
        client.Host = "mail.example.test";
        client.Port = server.Port();
        const int socketsBefore = counting.sockets;
        try {
            client.Connect();
            EXPECT_EQ(client.ReadLn(), "220 hi");
            EXPECT_EQ(c.error, 0);
            client.Disconnect();
        } catch (const EWireSocketError& e) {
            EXPECT_EQ(e.ErrorCode(), c.error) << e.Message();
        }
        EXPECT_EQ(counting.sockets - socketsBefore, 2) << "one socket per address tried";
        EXPECT_EQ(counting.sockets, counting.closes);
    }
    EXPECT_EQ(counting.hostLookups, 3);
}

TEST_F(WireClientTest, RefusedConnectionReportsConnectionRefused)
{
    client.Port = UnusedPort();
    try {
        client.Connect();
        FAIL() << "connected to a port where nothing listens";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error #10061\r\nConnection refused.");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(counting.sockets, counting.closes);
    EXPECT_EQ(statuses, (std::vector<std::string> {"Connecting to 127.0.0.1", "Disconnecting", "Disconnected"}));
}

TEST_F(WireClientTest, SilentServerTimesOutAndIsDropped)
{
    std::atomic<bool> clientClosed {false};
    ScriptedSmtpServer server([&](ServerSession& s, int) { clientClosed = s.WaitForPeerClose(10s); });
    client.Timeout = 1;
    ConnectTo(server);
    try {
        client.ReadLn();
        FAIL() << "a silent server gave a line";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10060);
        EXPECT_EQ(e.Message(), "Socket Error #10060\r\nConnection timed out.");
    }
    EXPECT_FALSE(client.Connected());
    server.Join();
    EXPECT_TRUE(clientClosed);
}

TEST_F(WireClientTest, ServerThatStopsReadingTimesTheSendOut)
{
    ScriptedSmtpServer server([](ServerSession&, int) { std::this_thread::sleep_for(4s); });
    client.Timeout = 1;
    ConnectTo(server);
    const std::string block(1 << 20, 'x');
    try {
        for (int i = 0; i < 256; ++i)
            client.Write(block);
        client.Flush();
        FAIL() << "256 MB went into a server that reads nothing";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10060);
    }
    EXPECT_FALSE(client.Connected());
    server.Join();
}

TEST_F(WireClientTest, PeerCloseIsAGracefulCloseAndDisconnects)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Send("partial line");
        s.Close();
    });
    ConnectTo(server);
    try {
        client.ReadLn();
        FAIL() << "a closed connection gave a line";
    } catch (const EWireConnClosedGraceful& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_TRUE(client.ClosedGracefully);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.BufferPos(), 1);
    server.Join();
}

TEST_F(WireClientTest, NagleSwitchedOffOnlyWhenAsked)
{
    ScriptedSmtpServer server([](ServerSession&, int) {}, 2);
    auto noDelay = [this] {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(client.SocketHandle, IPPROTO_TCP, TCP_NODELAY, &value, &length);
        return value;
    };
    ConnectTo(server);
    EXPECT_EQ(noDelay(), 0);
    client.Disconnect();
    client.UseNagle = false;
    ConnectTo(server);
    EXPECT_NE(noDelay(), 0);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, ReadBufferTakesExactlyCountBytes)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Send("\x05\x01");
        std::this_thread::sleep_for(20ms);
        s.Send(std::string("\x00\x03rest\r\n", 8));
    });
    ConnectTo(server);
    EXPECT_EQ(client.ReadBuffer(0), "");
    EXPECT_EQ(client.ReadBuffer(3), std::string("\x05\x01\x00", 3));
    char bytes[1];
    client.ReadBytes(bytes, 1);
    EXPECT_EQ(bytes[0], '\x03');
    EXPECT_EQ(client.ReadLn(), "rest");
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, ReceiveBufferGrowsForLongLinesAndEmptiesAtDisconnect)
{
    const std::string longLine(100000, 'L');
    ScriptedSmtpServer server([&](ServerSession& s, int) { s.Send(longLine + "\r\nshort\r\n"); });
    client.BufferChunk = 1024;
    ConnectTo(server);
    EXPECT_EQ(client.BufferCapacity(), 1024u);
    EXPECT_EQ(client.ReadLn(), longLine);
    EXPECT_EQ(client.BufferCapacity() % 1024, 0u);
    EXPECT_GT(client.BufferCapacity(), 100000u);
    EXPECT_EQ(client.ReadLn(), "short");
    client.Disconnect();
    EXPECT_EQ(client.BufferCapacity(), 0u);
    EXPECT_EQ(client.BufferPos(), 1);
    server.Join();
}

TEST_F(WireClientTest, EndlessLineIsRefusedAndTheConnectionDropped)
{
    // A peer that streams bytes without ever ending its line.
    ScriptedSmtpServer server([](ServerSession& s, int) { s.Send(std::string(20000, 'x')); });
    client.MaxLineLength = 4096;
    ConnectTo(server);
    try {
        client.ReadLn();
        FAIL() << "an endless line was accepted";
    } catch (const EWireException& e) {
        EXPECT_NE(std::string(e.what()).find("longer than 4096 bytes"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(client.Connected());
    server.Join();
}

TEST_F(WireClientTest, StatusHandlerErrorsAreWrappedKeepingTheirClass)
{
    ScriptedSmtpServer server([](ServerSession&, int) {});
    client.Port = server.Port();
    client.OnStatus = [](TWireSocket&, const std::string& text) {
        if (text == "Socket Connected")
            throw EWireResponseError("Handler failed");
    };
    try {
        client.Connect();
        FAIL() << "the handler's error vanished";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "Handler failed occurred in user's OnStatus Event.");
    }
    EXPECT_FALSE(client.Connected());

    client.OnStatus = [](TWireSocket&, const std::string&) { throw std::runtime_error("plain"); };
    try {
        client.DoStatus("x");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "plain occurred in user's OnStatus Event.");
    }
    server.Stop();
}

TEST_F(WireClientTest, DisconnectNeverRaisesEvenWhenTheHandlerDoes)
{
    ScriptedSmtpServer server([](ServerSession&, int) {});
    ConnectTo(server);
    client.OnStatus = [](TWireSocket&, const std::string&) { throw Exception("no"); };
    EXPECT_NO_THROW(client.Disconnect());
    EXPECT_FALSE(client.Connected());
    server.Join();
}

TEST(WireProgressTest, WorkEventsPerKilobyteAndCountedTransfers)
{
    TWireClient client;
    std::vector<std::pair<int64_t, int64_t>> events;
    client.OnWork = [&](TWireSocket&, int64_t work, int64_t size) { events.emplace_back(work, size); };

    client.DoWork(500);  // still in the first kilobyte
    client.DoWork(1024); // enters the second
    client.DoWork(2000);
    client.DoWork(5000);
    EXPECT_EQ(events, (std::vector<std::pair<int64_t, int64_t>> {{1024, 0}, {5000, 0}}));
    EXPECT_EQ(client.LastWorkKB, 4);

    events.clear();
    client.BeginWork(100000);
    EXPECT_EQ(client.WorkCount, 0);
    client.DoWork(3000); // not above the kilobyte seen last: BeginWork keeps it
    client.DoWork(6000);
    client.EndWork();
    EXPECT_EQ(events, (std::vector<std::pair<int64_t, int64_t>> {{6000, 100000}, {-1, -1}}));
    EXPECT_EQ(client.LastWorkKB, 0);
    EXPECT_EQ(client.WorkSize, -2);

    events.clear();
    client.DoWork(900000); // silenced until the next counted transfer
    EXPECT_TRUE(events.empty());
    client.BeginWork(10);
    client.DoWork(2048);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(WireClientTest, ReceivedBytesFeedTheWorkEvent)
{
    std::vector<int64_t> work;
    client.OnWork = [&](TWireSocket&, int64_t w, int64_t) { work.push_back(w); };
    const std::string big(3000, 'b');
    ScriptedSmtpServer server([&](ServerSession& s, int) { s.Send(big + "\r\n"); });
    ConnectTo(server);
    EXPECT_EQ(client.ReadLn(), big);
    ASSERT_FALSE(work.empty());
    EXPECT_GE(work.back(), 2048);
    EXPECT_EQ(client.WorkCount, 3002);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, TrafficLogRecordsCommandsAndReplies)
{
    const std::string log = ::testing::TempDir() + "wire_traffic.log";
    {
        std::ofstream old(log);
        old << "left from an earlier run";
    }
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Reply("220 hello");
        if (s.ReadLine())
            s.Send("250-one\r\n250 two\r\n");
    });
    client.LogFile = log;
    ConnectTo(server);
    EXPECT_TRUE(client.LogOpen());
    client.GetResponse();
    client.Command("EHLO me", 250, 0, "");
    client.WriteLn("not a command: not logged");
    client.Disconnect();
    EXPECT_FALSE(client.LogOpen());
    server.Join();
    EXPECT_EQ(Slurp(log),
        "I: 220 hello\r\n\r\n"
        "O: EHLO me\r\n"
        "I: 250-one\r\n\r\n"
        "I: 250 two\r\n\r\n");
}

TEST_F(WireClientTest, LocalHostNameIsTheMachineName)
{
    EXPECT_EQ(client.LocalHostName(), LocalName());
}

TEST_F(WireClientTest, ConnectToAServerThatNeverAcceptsTimesOut)
{
    // A listener whose accept queue is full drops further connection
    // requests, so the handshake never completes.
    StalledListener listener;
    client.Port = listener.Port();
    client.Timeout = 1;
    try {
        client.Connect();
        FAIL() << "connected although the server takes no connections";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10060);
    }
    EXPECT_FALSE(client.Connected());
}

TEST_F(WireClientTest, ShortTailOfABulkTransferIsPushedBeforeTheReply)
{
    ScriptedSmtpServer server(
        [](ServerSession& s, int) {
            for (int round = 0; round < 3; ++round) {
                if (!s.ReadLine())
                    return;
                s.Reply("250 ok");
            }
        },
        2);
    ConnectTo(server);
    // A command after a reply: nothing to push.
    client.Command("NOOP", 250, 0, "");
    EXPECT_EQ(counting.noDelayOn, 0);
    // 200 KB and a short tail, then a read: pushed once, Nagle back on after.
    client.Write(std::string(200 * 1024, 'x'));
    client.Command("NOOP", 250, 0, "");
    EXPECT_EQ(counting.noDelayOn, 1);
    EXPECT_EQ(counting.noDelayOff, 1);
    client.Command("NOOP", 250, 0, "");
    EXPECT_EQ(counting.noDelayOn, 1);
    client.Disconnect();

    // With Nagle off from the start there is nothing to push.
    client.UseNagle = false;
    ConnectTo(server);
    const int atConnect = counting.noDelayOn;
    client.Write(std::string(200 * 1024, 'x'));
    client.Command("NOOP", 250, 0, "");
    EXPECT_EQ(counting.noDelayOn, atConnect);
    EXPECT_EQ(counting.noDelayOff, 1);
    client.Disconnect();
    server.Join();
}

TEST_F(WireClientTest, AbortFromAnotherThreadEndsABlockedReadPromptly)
{
    ScriptedSmtpServer server([](ServerSession& s, int) { s.WaitForPeerClose(10s); });
    client.Timeout = 30;
    ConnectTo(server);
    std::thread stopper([this] {
        std::this_thread::sleep_for(100ms);
        client.Abort();
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        client.ReadLn();
        ADD_FAILURE() << "an aborted read returned";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), WSAECONNABORTED);
    }
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(client.Connected());
    // It stays in force until reset, so a run being stopped opens nothing new.
    EXPECT_THROW(client.Connect(), EWireSocketError);
    client.ResetAbort();
    server.Join();
}

namespace {

// A layer in the place TLS takes: every byte in either direction passes
// through ReceiveSome and SendSome, here turned into upper case one way.
class ShoutingClient : public TWireClient {
protected:
    std::size_t ReceiveSome(char* into, std::size_t room) override
    {
        const std::size_t n = TWireClient::ReceiveSome(into, std::min<std::size_t>(room, 3));
        for (std::size_t i = 0; i < n; ++i)
            into[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(into[i])));
        return n;
    }
    std::size_t SendSome(const char* data, std::size_t size) override
    {
        std::string upper(data, std::min<std::size_t>(size, 2));
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return TWireClient::SendSome(upper.data(), upper.size());
    }
};

} // namespace

TEST(WireLayerTest, AllTrafficPassesThroughTheOverridableSteps)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Reply("250-first");
        s.Reply("250 last line");
        s.ReadLine();
    });
    ShoutingClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Timeout = 5;
    client.Connect();
    EXPECT_EQ(client.Command("noop", 250, 0, ""), 250);
    EXPECT_EQ(client.ReplyLines, (std::vector<std::string> {"250-FIRST", "250 LAST LINE"}));
    client.Disconnect();
    server.Join();
    EXPECT_EQ(server.Received()[0], "NOOP\r\n");
}

TEST_F(WireClientTest, MultiLineReplyEndsWithABareCode)
{
    for (const char* last : {"250", "250 "}) {
        ScriptedSmtpServer server([&](ServerSession& s, int) {
            s.Send("250-first\r\n" + std::string(last) + "\r\n");
            s.WaitForPeerClose(5s);
        });
        client.Timeout = 2;
        ConnectTo(server);
        EXPECT_EQ(client.GetResponse(), 250) << '"' << last << '"';
        EXPECT_EQ(client.ReplyLines, (std::vector<std::string> {"250-first", "250"}));
        client.Disconnect();
        server.Join();
    }
}

// Replies that never end: too many lines, endless blank lines, a drip that
// keeps every single read alive. Each ends in an error, never a wait for ever.
TEST_F(WireClientTest, RepliesAreBoundedInLinesSizeAndTime)
{
    struct Case {
        const char* name;
        std::function<void(ServerSession&)> play;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"endless lines",
            [](ServerSession& s) {
                for (int i = 0; i < 4000 && !s.Closed(); ++i)
                    s.Send("250-" + std::string(500, 'x') + "\r\n");
            },
            "Reply from the server longer than"},
        {"endless blank lines",
            [](ServerSession& s) {
                for (int i = 0; i < 4000; ++i)
                    s.Send(std::string(1000, '\n'));
            },
            "Reply from the server longer than"},
        {"drip",
            [](ServerSession& s) {
                for (int i = 0; i < 20; ++i) {
                    s.Send("250-a\r\n");
                    std::this_thread::sleep_for(200ms);
                }
                s.Send("250 done\r\n");
            },
            "Connection timed out."},
    };
    for (const Case& c : cases) {
        ScriptedSmtpServer server([&](ServerSession& s, int) { c.play(s); });
        client.Timeout = 1;
        client.EOL = "\n";
        ConnectTo(server);
        try {
            client.GetResponse();
            ADD_FAILURE() << c.name << ": the reply was taken";
        } catch (const EWireException& e) {
            EXPECT_NE(e.Message().find(c.error), std::string::npos) << c.name << ": " << e.Message();
        }
        EXPECT_FALSE(client.Connected()) << c.name;
        server.Stop();
    }
}

TEST_F(WireClientTest, ControlCharactersInServerTextAreReplaced)
{
    const std::string log = ::testing::TempDir() + "/og_control_log.txt";
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Send(std::string("550 bad\x1b[2J news\0here\x7f\r\n", 24));
        s.WaitForPeerClose(5s);
    });
    client.LogFile = log;
    ConnectTo(server);
    try {
        client.Command("noop", 250, 0, "");
        ADD_FAILURE() << "a 550 was taken";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "550 bad?[2J news?here?");
    }
    client.Disconnect();
    server.Join();
    EXPECT_NE(Slurp(log).find("I: 550 bad?[2J news?here?\r\n"), std::string::npos);
}
