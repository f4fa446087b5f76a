#pragma once
// The blocking TCP client under the mail transport: a socket (TWire), a
// receive buffer with line reading, gathered writes, the numbered
// command/reply exchange of text protocols, status and progress events and a
// traffic log (TWireSocket), and a target host with connect and disconnect
// (TWireClient). Every socket call goes through GWinsock().
//
// Every wait on the network is bounded by Timeout seconds; when it runs out
// the call fails with EWireSocketError 10060 "Connection timed out." and the
// connection is dropped.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/WinsockIntf.h"
#include "net/WireExceptions.h"

namespace og {

class TWireSocket;

// One address to connect to: IPv4 or IPv6, with its port.
struct TSocketAddress {
    sockaddr_storage address {};
    socklen_t length = 0;
    int Family() const { return address.ss_family; }
};

using TStringEvent = std::function<void(TWireSocket& sender, const std::string& text)>;
using TProgressEvent = std::function<void(TWireSocket& sender, int64_t work, int64_t size)>;
using TDebugWriteEvent = std::function<void(TWireSocket& sender)>;

class TWireBase {
public:
    TWireBase() = default;
    virtual ~TWireBase() = default;
    TWireBase(const TWireBase&) = delete;
    TWireBase& operator=(const TWireBase&) = delete;

    std::string Name; // component name, for the caller's own use
};

class TWire : public TWireBase {
public:
    ~TWire() override;

    TSocket SocketHandle = kInvalidSocket;
    int Port = 0;
    std::string BoundIP; // kept; never applied to the socket
    // The library's version text; it goes into the "X-Library" header.
    static constexpr const char* kVersion = "1.0";
    std::string Version() const { return kVersion; }

    virtual void Close();
    virtual bool Connected() const { return SocketHandle != kInvalidSocket; }
    virtual void Disconnect();
    // Disconnect for clean-up paths, where the error that brought us there is
    // the one the caller needs and a failing farewell must not replace it.
    void DisconnectQuietly() noexcept;

    // May be called from any thread: makes the network call under way (a
    // connect, receive or send waiting on this socket) and every later one
    // fail promptly with Socket Error #10053, by shutting the socket down.
    // It stays in force, across connections, until ResetAbort().
    void Abort();
    void ResetAbort() { aborted_ = false; }
    bool Aborted() const { return aborted_; }

    // Closes a socket that is open, then opens a new socket of the given
    // type and family; EWireInvalidSocket "Cannot allocate socket." on
    // failure.
    virtual void CreateSocket(int socketType, int family = AF_INET);

    // -1 from a socket call: true when the last error is `tolerated`,
    // otherwise EWireSocketError. Any other result: false.
    static bool CheckSocketResult(int result, int tolerated = 0);
    [[noreturn]] static void RaiseSocketError(int errorNumber);
    // IPv4 address in network byte order: "localhost" (any case) is 127.0.0.1
    // without a lookup, then a dotted address, then a name lookup.
    static uint32_t ResolveHost(const std::string& name);
    // Every address to try for a host, in the resolver's order, each with
    // `port`: "localhost" (any case) is 127.0.0.1 and an IPv4 or IPv6
    // literal ("::1" or "[::1]") is itself, without a lookup; a name is
    // looked up for IPv6 and IPv4 alike. Raises the lookup's error.
    static std::vector<TSocketAddress> ResolveAddresses(const std::string& name, int port);

protected:
    std::atomic<bool> aborted_ {false};

private:
    // Guards the handle between Abort on another thread and Close.
    std::mutex handleMutex_;
};

class TWireSocket : public TWire {
public:
    TWireSocket();
    ~TWireSocket() override;

    bool UseNagle = true;     // false sets TCP_NODELAY at connect
    bool ASCIIFilter = false; // true clears the top bit of every received byte
    int BufferChunk = 8192;   // growth/shrink step of the receive buffer
    std::string LogFile;      // traffic log; empty for none
    int Timeout = 300;        // seconds for any one connect, receive or send; <= 0 waits for ever
    int ConnectTimeout = 60;  // seconds a connect may take at most (and never more than Timeout)
    // The longest line ReadLn waits for (bytes, its line end not counted).
    // Mail servers keep their replies under 512 bytes; a peer that never ends
    // its line must not make the buffer grow until memory runs out.
    std::size_t MaxLineLength = std::size_t(1) << 20;
    // A reply (all its lines, blank ones too) may hold at most this many
    // lines and bytes; Timeout is the deadline for the whole of it, so a
    // server that drips or never ends its reply cannot hold the client.
    std::size_t MaxReplyLines = 1000;
    std::size_t MaxReplySize = std::size_t(1) << 20;
    TStringEvent OnStatus;
    TProgressEvent OnWork;
    TDebugWriteEvent OnDebugWrite; // raw-traffic trace hooks: never fired
    TDebugWriteEvent OnDebugRead;
    std::string EOL = "\r\n";

    bool ClosedGracefully = false;
    int16_t ReplyCode = 0;
    std::string LastReply;
    std::vector<std::string> ReplyLines;
    int64_t WorkCount = 0;
    int64_t LastWorkKB = 0;
    int64_t WorkSize = 0;

    // Gathered output is sent once it reaches this many bytes, before every
    // read and at disconnect.
    static constexpr std::size_t kWriteGatherLimit = 64 * 1024;

    // Index (from 1) of the first free byte of the receive buffer; the buffer
    // holds BufferPos() - 1 bytes.
    int64_t BufferPos() const { return static_cast<int64_t>(held_) + 1; }
    std::size_t BufferCapacity() const { return buffer_.size(); }
    bool LogOpen() const { return logStream_ != nullptr; }

    std::string ReadLn();
    std::string ReadLnNonBlank();
    virtual std::string ReadBuffer(int64_t count);
    void ReadBytes(void* destination, int64_t count);

    void Write(std::string_view s);
    void WriteLn(const std::string& s = {});
    void WriteBytes(const void* source, int64_t count);
    void WriteHeaders(const std::vector<std::string>& lines);
    // Sends whatever Write has gathered so far.
    void Flush();
    // The flush before a read: after a bulk transfer the last, short segment
    // is pushed out at once (see FlushBeforeRead in Wire.cpp).
    void FlushBeforeRead();

    // Reads one reply. Control characters in its text (below 0x20, 0x7F) are
    // replaced by "?" before it is kept, shown or logged.
    int GetResponse();
    // A line holding CR or LF is refused with EWireException before any of it
    // is sent: it would smuggle a second command into the dialogue.
    virtual int Command(const std::string& line, int expected, int indent, const std::string& status);
    // Command in two halves, for commands sent together and answered in
    // order: SendCommand gathers the line (the traffic log shows `logAs`
    // instead, so secrets stay out of it); AwaitReply reads and checks one
    // reply as Command does.
    void SendCommand(const std::string& line, const std::string& logAs);
    int AwaitReply(int expected, int indent, const std::string& status);

    std::string LocalHostName();

    virtual void DoStatus(const std::string& text);
    virtual void DoWork(int64_t total);
    void BeginWork(int64_t size);
    void EndWork();

    void Disconnect() override;

protected:
    // The one place bytes cross the connection, so that a layer such as TLS
    // can take its place. ReceiveSome stores 1 to `room` bytes and returns
    // how many, or 0 when the peer has closed; SendSome sends 1 to `size`
    // bytes and returns how many, 0 when the peer has closed. Both wait
    // within the time-out and raise on failure.
    virtual std::size_t ReceiveSome(char* into, std::size_t room);
    virtual std::size_t SendSome(const char* data, std::size_t size);

    virtual void DebugWrite(int64_t /*start*/) { }
    virtual void DebugRead(int64_t /*start*/) { }

    // Receive buffer management.
    void ResetBuffer(std::size_t capacity);
    void FillBuffer();
    std::string TakeFromBuffer(std::size_t count);
    void CheckGracefulClose();
    // The bytes received and not yet read, for a look at what a peer sent
    // before it is taken as lines.
    std::string_view Held() const { return {buffer_.data(), held_}; }

    // Opens / closes the traffic log.
    void OpenLog();
    void CloseLog();
    void LogLine(const std::string& text);

    // True between a standing TCP connection and the moment it is known to be
    // gone (closed by either side, reset, timed out). Farewells ("Quit") are
    // only sent while it holds.
    bool LinkUp = false;

    // A connection that has failed under us: nothing gathered is sent any
    // more, the socket is dropped through the virtual Disconnect (whose own
    // errors cannot replace the first one), and the error is raised.
    [[noreturn]] void FailLink(int errorNumber);

    // After a failed receive or send: a call that would block waits for the
    // socket (within Timeout, else the link fails as timed out) and returns
    // so the caller tries again; any other error ends the link and is raised.
    void WaitOrRaise(int error, short events);

    // Waits for the socket to become readable/writable within Timeout.
    // False when the time ran out.
    bool WaitReady(short events);
    int TimeoutMilliseconds() const;
    // While set, no wait runs past it (the reply under way).
    std::optional<std::chrono::steady_clock::time_point> deadline_;

private:
    std::string buffer_; // capacity == size(); bytes [0, held_) are held
    std::size_t held_ = 0;
    std::string out_;            // gathered writes not yet sent
    bool bulkSinceRead_ = false; // a full gathering buffer went out since the last read
    std::unique_ptr<std::ofstream> logStream_;

    void SendAll(const char* data, std::size_t size);
};

enum class TSocksVersion { NoSocks, Socks4, Socks4A, Socks5 };
enum class TSocksAuthentication { NoAuthentication, UsernamePassword };

class TWireClient : public TWireSocket {
public:
    ~TWireClient() override;

    std::string Host;
    // Proxy settings are kept for the component's shape; connections are
    // always direct.
    std::string SocksHost;
    int SocksPort = 0;
    std::string SocksUserID;
    std::string SocksPassword;
    TSocksVersion SocksVersion = TSocksVersion::NoSocks;
    TSocksAuthentication SocksAuthentication = TSocksAuthentication::NoAuthentication;
    std::string UserID;
    std::string Password;

    // Connects to Host at Port, trying each of its addresses in turn
    // (ResolveAddresses) until one answers. When none does, the error of
    // the first that failed for another reason than its network being out
    // of reach from here (no IPv6 route, say) is raised, else the first.
    virtual void Connect();
    // Never raises; always ends without a socket.
    void Disconnect() override;

private:
    void ConnectTo(const TSocketAddress& address);
};

} // namespace og
