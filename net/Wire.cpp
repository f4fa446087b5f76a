#include "net/Wire.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>

namespace og {

namespace {

bool IsControlOrBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

std::string TrimControls(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsControlOrBlank(s[b]))
        ++b;
    while (e > b && IsControlOrBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The first three characters as a decimal number (an optional sign allowed,
// as the reply parser always accepted), 0 when they are not one.
int ParseReplyCode(const std::string& line)
{
    std::string head = line.substr(0, 3);
    const char* first = head.data();
    const char* last = head.data() + head.size();
    if (first != last && *first == '+')
        ++first;
    int value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || first == last)
        return 0;
    return value;
}

} // namespace

// ---------------------------------------------------------------- TWire

TWire::~TWire()
{
    if (SocketHandle != kInvalidSocket) {
        GWinsock().WSCloseSocket(SocketHandle);
        SocketHandle = kInvalidSocket;
    }
}

void TWire::Close()
{
    std::lock_guard lock(handleMutex_);
    TSocket old = SocketHandle;
    SocketHandle = kInvalidSocket;
    if (old != kInvalidSocket)
        GWinsock().WSCloseSocket(old);
}

void TWire::Disconnect()
{
    if (Connected())
        Close();
}

void TWire::DisconnectQuietly() noexcept
{
    try {
        Disconnect();
    } catch (...) {
    }
}

void TWire::Abort()
{
    aborted_ = true;
    std::lock_guard lock(handleMutex_);
    if (SocketHandle != kInvalidSocket)
        GWinsock().WSShutdown(SocketHandle, SHUT_RDWR);
}

void TWire::CreateSocket(int socketType, int family)
{
    Close();
    TSocket s = GWinsock().WSSocket(family, socketType, 0);
    if (s == kInvalidSocket)
        throw EWireInvalidSocket("Cannot allocate socket.");
    std::lock_guard lock(handleMutex_);
    SocketHandle = s;
    // An Abort that came while the socket did not exist yet.
    if (aborted_)
        GWinsock().WSShutdown(SocketHandle, SHUT_RDWR);
}

bool TWire::CheckSocketResult(int result, int tolerated)
{
    if (result != kSocketError)
        return false;
    int error = GWinsock().WSGetLastError();
    if (tolerated != 0 && error == tolerated)
        return true;
    RaiseSocketError(error);
}

void TWire::RaiseSocketError(int errorNumber)
{
    throw EWireSocketError(errorNumber, GWinsock().WSErrorText(errorNumber));
}

// ---------------------------------------------------------------- TWireSocket

TWireSocket::TWireSocket() = default;

TWireSocket::~TWireSocket()
{
    CloseLog();
}

int TWireSocket::TimeoutMilliseconds() const
{
    int ms = Timeout <= 0 ? -1 : (Timeout >= INT_MAX / 1000 ? INT_MAX : Timeout * 1000);
    if (deadline_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
        const int leftMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
        ms = ms < 0 ? leftMs : std::min(ms, leftMs);
    }
    return ms;
}

bool TWireSocket::WaitReady(short events)
{
    int ready = GWinsock().WSPoll(SocketHandle, events, TimeoutMilliseconds());
    CheckSocketResult(ready);
    if (aborted_)
        FailLink(WSAECONNABORTED);
    return ready > 0;
}

void TWireSocket::FailLink(int errorNumber)
{
    LinkUp = false;
    out_.clear();
    if (Connected())
        DisconnectQuietly();
    RaiseSocketError(errorNumber);
}

void TWireSocket::WaitOrRaise(int error, short events)
{
    if (error == WSAEWOULDBLOCK) {
        if (!WaitReady(events))
            FailLink(WSAETIMEDOUT);
        return;
    }
    LinkUp = false;
    if (error == WSAESHUTDOWN)
        FailLink(WSAESHUTDOWN);
    RaiseSocketError(error);
}

void TWireSocket::ResetBuffer(std::size_t capacity)
{
    buffer_.assign(capacity, '\0');
    held_ = 0;
}

void TWireSocket::FillBuffer()
{
    const std::size_t chunk = static_cast<std::size_t>(std::max(BufferChunk, 1));
    std::size_t capacity = buffer_.size();
    // Free and position as the buffer has always counted them: BufferPos is
    // the 1-based index of the first free byte.
    const int64_t pos = BufferPos();
    const int64_t free = static_cast<int64_t>(capacity) - pos;
    if (free < pos / 2)
        capacity += chunk;
    else if (free > 2 * static_cast<int64_t>(chunk) && capacity - chunk > chunk)
        capacity -= chunk;
    // A receive of zero bytes would read as the peer closing.
    if (capacity < held_ + 2)
        capacity += chunk;
    buffer_.resize(capacity);

    const std::size_t room = std::min<std::size_t>(capacity - held_ - 1, INT_MAX);
    const std::size_t received = ReceiveSome(buffer_.data() + held_, room);

    ClosedGracefully = (received == 0);
    if (received != 0) {
        if (ASCIIFilter)
            for (std::size_t i = 0; i < received; ++i)
                buffer_[held_ + i] = static_cast<char>(buffer_[held_ + i] & 0x7F);
        held_ += received;
        DoWork(WorkCount + static_cast<int64_t>(received));
    }
    CheckGracefulClose();
}

std::size_t TWireSocket::ReceiveSome(char* into, std::size_t room)
{
    for (;;) {
        if (aborted_)
            FailLink(WSAECONNABORTED);
        const int received =
            GWinsock().WSRecv(SocketHandle, into, static_cast<int>(std::min<std::size_t>(room, INT_MAX)), 0);
        if (received != kSocketError)
            return static_cast<std::size_t>(received);
        const int error = GWinsock().WSGetLastError();
        if (error != WSAEWOULDBLOCK)
            out_.clear(); // nothing gathered goes out on a failed link
        WaitOrRaise(error, POLLIN);
    }
}

std::size_t TWireSocket::SendSome(const char* data, std::size_t size)
{
    for (;;) {
        if (aborted_)
            FailLink(WSAECONNABORTED);
        const int count =
            GWinsock().WSSend(SocketHandle, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
        if (count != kSocketError)
            return static_cast<std::size_t>(count);
        WaitOrRaise(GWinsock().WSGetLastError(), POLLOUT);
    }
}

void TWireSocket::CheckGracefulClose()
{
    if (!ClosedGracefully)
        return;
    // A shut-down socket reads as closed; the caller asked for that.
    if (aborted_)
        FailLink(WSAECONNABORTED);
    LinkUp = false;
    out_.clear();
    if (Connected())
        DisconnectQuietly();
    throw EWireConnClosedGraceful("Connection Closed Gracefully.");
}

std::string TWireSocket::TakeFromBuffer(std::size_t count)
{
    if (count >= held_ + 1)
        throw Exception("Not enough data in buffer.");
    std::string result = buffer_.substr(0, count);
    std::memmove(buffer_.data(), buffer_.data() + count, held_ - count);
    held_ -= count;
    return result;
}

std::string TWireSocket::ReadLn()
{
    FlushBeforeRead();
    const std::string eol = EOL.empty() ? std::string("\r\n") : EOL;
    std::size_t searchFrom = 0;
    for (;;) {
        std::string_view held(buffer_.data(), held_);
        std::size_t at = held.find(eol, searchFrom);
        if (at != std::string_view::npos) {
            std::string line = TakeFromBuffer(at + eol.size());
            line.resize(at);
            return line;
        }
        if (held_ > MaxLineLength + eol.size()) {
            LinkUp = false;
            out_.clear();
            if (Connected())
                DisconnectQuietly();
            throw EWireException(
                "Line from the server longer than " + std::to_string(MaxLineLength) + " bytes; connection dropped.");
        }
        // Only bytes that arrive next can complete a terminator that started
        // at the very end of what is held.
        searchFrom = held_ >= eol.size() - 1 ? held_ - (eol.size() - 1) : 0;
        int64_t start = BufferPos();
        FillBuffer();
        DebugRead(start);
    }
}

std::string TWireSocket::ReadLnNonBlank()
{
    for (;;) {
        std::string line = TrimControls(ReadLn());
        if (!line.empty())
            return line;
    }
}

std::string TWireSocket::ReadBuffer(int64_t count)
{
    if (count <= 0)
        return {};
    FlushBeforeRead();
    int64_t start = BufferPos();
    while (count >= BufferPos())
        FillBuffer();
    DebugRead(start);
    return TakeFromBuffer(static_cast<std::size_t>(count));
}

void TWireSocket::ReadBytes(void* destination, int64_t count)
{
    std::string bytes = ReadBuffer(count);
    if (!bytes.empty())
        std::memcpy(destination, bytes.data(), bytes.size());
}

void TWireSocket::Write(std::string_view s)
{
    if (s.empty())
        return;
    if (!Connected())
        throw EWireClosedSocket("Socket is closed, cannot write");
    out_ += s;
    if (out_.size() >= kWriteGatherLimit) {
        bulkSinceRead_ = true;
        Flush();
    }
}

void TWireSocket::WriteLn(const std::string& s)
{
    if (!Connected())
        throw EWireClosedSocket("Socket is closed, cannot write");
    out_ += s;
    out_ += EOL;
    if (out_.size() >= kWriteGatherLimit) {
        bulkSinceRead_ = true;
        Flush();
    }
}

void TWireSocket::WriteBytes(const void* source, int64_t count)
{
    if (count <= 0)
        return;
    Write(std::string(static_cast<const char*>(source), static_cast<std::size_t>(count)));
}

void TWireSocket::WriteHeaders(const std::vector<std::string>& lines)
{
    for (const auto& line : lines) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            WriteLn(line);
        else
            WriteLn(line.substr(0, eq) + ": " + line.substr(eq + 1));
    }
    WriteLn();
}

void TWireSocket::Flush()
{
    if (out_.empty())
        return;
    if (!Connected()) {
        out_.clear();
        throw EWireClosedSocket("Socket is closed, cannot write");
    }
    std::string pending;
    pending.swap(out_);
    SendAll(pending.data(), pending.size());
    // Keep the allocation for the next round of gathering.
    pending.clear();
    if (out_.empty())
        out_.swap(pending);
}

// A command sent after the previous reply leaves as one segment with nothing
// unacknowledged before it, so Nagle never holds it. After a bulk transfer
// (a message body of more than one gathering buffer) the final flush ends in
// a short segment that Nagle would keep back until the peer acknowledges the
// previous short one, which a peer delaying its acknowledgements does only
// after tens of milliseconds while we wait for its reply. Switching
// TCP_NODELAY on pushes that segment out at once; switching it off again
// keeps UseNagle in force for everything else.
void TWireSocket::FlushBeforeRead()
{
    const bool push = bulkSinceRead_ && UseNagle && !out_.empty();
    bulkSinceRead_ = false;
    Flush();
    if (push && Connected()) {
        int32_t on = 1, off = 0;
        GWinsock().WSSetSockOpt(SocketHandle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        GWinsock().WSSetSockOpt(
            SocketHandle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&off), sizeof off);
    }
}

void TWireSocket::SendAll(const char* data, std::size_t size)
{
    std::size_t sent = 0;
    while (sent < size) {
        const std::size_t count = SendSome(data + sent, size - sent);
        ClosedGracefully = (count == 0);
        DebugWrite(static_cast<int64_t>(sent) + 1);
        CheckGracefulClose();
        sent += count;
    }
}

int TWireSocket::GetResponse()
{
    ReplyLines.clear();
    // One deadline for the whole reply; the time-out of each read follows it.
    struct DeadlineScope {
        std::optional<std::chrono::steady_clock::time_point>& slot;
        ~DeadlineScope() { slot.reset(); }
    } scope {deadline_};
    if (Timeout > 0)
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
    std::size_t lines = 0, bytes = 0;
    auto next = [&] {
        for (;;) {
            std::string line = ReadLn();
            bytes += line.size() + EOL.size();
            if (++lines > MaxReplyLines || bytes > MaxReplySize) {
                LinkUp = false;
                out_.clear();
                if (Connected())
                    DisconnectQuietly();
                throw EWireException("Reply from the server longer than " + std::to_string(MaxReplyLines) +
                    " lines or " + std::to_string(MaxReplySize) + " bytes; connection dropped.");
            }
            line = TrimControls(line);
            if (line.empty())
                continue;
            for (char& c : line)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = '?';
            LogLine("I: " + line + "\r\n");
            return line;
        }
    };
    std::string line = next();
    if (line.size() > 3 && line[3] == '-') {
        // The last line has the code and then a blank or nothing ("250",
        // which the trimming also makes of "250 ").
        const std::string code = line.substr(0, 3);
        ReplyLines.push_back(line);
        do {
            line = next();
            ReplyLines.push_back(line);
        } while (!(line == code || line.compare(0, 4, code + " ") == 0));
    }
    LastReply = line;
    if (StartsWith(LastReply, "+OK"))
        ReplyCode = 1;
    else if (StartsWith(LastReply, "-ERR"))
        ReplyCode = 0;
    else
        ReplyCode = static_cast<int16_t>(ParseReplyCode(LastReply));
    return ReplyCode;
}

int TWireSocket::Command(const std::string& line, int expected, int indent, const std::string& status)
{
    SendCommand(line, line);
    return AwaitReply(expected, indent, status);
}

void TWireSocket::SendCommand(const std::string& line, const std::string& logAs)
{
    if (line.find_first_of("\r\n") != std::string::npos)
        throw EWireException("Command refused: it holds a line break (CR or LF), which would end it early "
                             "and start another command.");
    LogLine("O: " + logAs);
    WriteLn(line);
}

int TWireSocket::AwaitReply(int expected, int indent, const std::string& status)
{
    GetResponse();
    if (expected >= 0 && expected != ReplyCode)
        throw EWireResponseError(LastReply);
    const std::string blanks(static_cast<std::size_t>(std::max(indent, 0)) * 2, ' ');
    if (status == "*")
        DoStatus(blanks + LastReply);
    else if (!status.empty())
        DoStatus(blanks + status);
    return ReplyCode;
}

std::string TWireSocket::LocalHostName()
{
    char name[260] = {};
    CheckSocketResult(GWinsock().WSGetHostName(name, sizeof name - 1));
    return std::string(name, strnlen(name, sizeof name));
}

void TWireSocket::DoStatus(const std::string& text)
{
    if (!OnStatus)
        return;
    static const std::string suffix = " occurred in user's OnStatus Event.";
    try {
        OnStatus(*this, text);
    } catch (const Exception& e) {
        e.RaiseWithMessage(e.Message() + suffix);
    } catch (const std::exception& e) {
        throw Exception(std::string(e.what()) + suffix);
    }
}

void TWireSocket::DoWork(int64_t total)
{
    WorkCount = total;
    if (WorkSize == -2)
        return;
    if (total != -1 && total / 1024 <= LastWorkKB)
        return;
    LastWorkKB = total / 1024;
    if (OnWork)
        OnWork(*this, WorkCount, WorkSize);
}

void TWireSocket::BeginWork(int64_t size)
{
    WorkCount = 0;
    WorkSize = size;
}

void TWireSocket::EndWork()
{
    WorkSize = -1;
    DoWork(-1);
    WorkSize = -2;
}

void TWireSocket::Disconnect()
{
    out_.clear();
    bulkSinceRead_ = false;
    LinkUp = false;
    TWire::Disconnect();
}

void TWireSocket::OpenLog()
{
    auto stream = std::make_unique<std::ofstream>(LogFile, std::ios::binary | std::ios::trunc);
    if (!*stream)
        throw Exception("Cannot create file \"" + LogFile + "\".");
    logStream_ = std::move(stream);
}

void TWireSocket::CloseLog()
{
    logStream_.reset();
}

void TWireSocket::LogLine(const std::string& text)
{
    if (!logStream_)
        return;
    *logStream_ << text << "\r\n";
    logStream_->flush();
}

} // namespace og
