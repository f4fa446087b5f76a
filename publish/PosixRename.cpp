#include "publish/PosixRename.h"

#include <libssh/libssh.h>

#include <memory>

namespace og {

namespace {

constexpr uint8_t kInit = 1, kVersion = 2, kStatus = 101, kExtended = 200;
// No reply here is anywhere near this; a bigger length is no SFTP server.
constexpr uint32_t kMaxReply = 256 * 1024;

void putU32(QByteArray& out, uint32_t v)
{
    out += char(v >> 24);
    out += char(v >> 16);
    out += char(v >> 8);
    out += char(v);
}

void putString(QByteArray& out, QByteArrayView s)
{
    putU32(out, uint32_t(s.size()));
    out += s;
}

std::optional<uint32_t> takeU32(QByteArrayView& in)
{
    if (in.size() < 4)
        return std::nullopt;
    const auto b = [&in](int i) { return uint32_t(uint8_t(in[i])); };
    const uint32_t v = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
    in = in.sliced(4);
    return v;
}

QByteArray withLength(const QByteArray& body)
{
    QByteArray packet;
    putU32(packet, uint32_t(body.size()));
    return packet + body;
}

struct Channel {
    ssh_channel ch;
    int timeoutMs;
    ~Channel()
    {
        if (ch) {
            ssh_channel_close(ch);
            ssh_channel_free(ch);
        }
    }
    bool write(const QByteArray& bytes) const
    {
        return ssh_channel_write(ch, bytes.constData(), uint32_t(bytes.size())) == int(bytes.size());
    }
    // Exactly n bytes, or false.
    bool read(char* into, uint32_t n) const
    {
        for (uint32_t done = 0; done < n;) {
            const int got = ssh_channel_read_timeout(ch, into + done, n - done, 0, timeoutMs);
            if (got <= 0)
                return false;
            done += uint32_t(got);
        }
        return true;
    }
    // One reply packet without its length field.
    std::optional<QByteArray> packet() const
    {
        char length[4];
        if (!read(length, 4))
            return std::nullopt;
        QByteArrayView view(length, 4);
        const uint32_t n = *takeU32(view);
        if (n == 0 || n > kMaxReply)
            return std::nullopt;
        QByteArray body(qsizetype(n), Qt::Uninitialized);
        return read(body.data(), n) ? std::optional(body) : std::nullopt;
    }
};

} // namespace

QByteArray posixRenamePacket(uint32_t id, QByteArrayView from, QByteArrayView to)
{
    QByteArray body;
    body += char(kExtended);
    putU32(body, id);
    putString(body, "posix-rename@openssh.com");
    putString(body, from);
    putString(body, to);
    return withLength(body);
}

std::optional<SftpStatus> parseStatusReply(QByteArrayView reply, uint32_t id)
{
    if (reply.isEmpty() || uint8_t(reply[0]) != kStatus)
        return std::nullopt;
    reply = reply.sliced(1);
    const std::optional<uint32_t> replyId = takeU32(reply), code = takeU32(reply);
    if (!replyId || *replyId != id || !code)
        return std::nullopt;
    SftpStatus status {*code, {}};
    // The text is optional before version 3; a cut one is simply left out.
    if (const std::optional<uint32_t> length = takeU32(reply); length && *length <= uint32_t(reply.size()))
        status.message = reply.first(qsizetype(*length)).toByteArray();
    return status;
}

QString posixRename(ssh_session_struct* ssh, QByteArrayView from, QByteArrayView to, int timeoutMs)
{
    const QString lost = QStringLiteral("the connection was lost (%1)");
    const Channel c {ssh_channel_new(ssh), timeoutMs};
    if (!c.ch || ssh_channel_open_session(c.ch) != SSH_OK || ssh_channel_request_subsystem(c.ch, "sftp") != SSH_OK)
        return lost.arg(QString::fromUtf8(ssh_get_error(ssh)));
    QByteArray init;
    init += char(kInit);
    putU32(init, 3);
    if (!c.write(withLength(init)))
        return lost.arg(QString::fromUtf8(ssh_get_error(ssh)));
    const std::optional<QByteArray> version = c.packet();
    if (!version || uint8_t(version->at(0)) != kVersion)
        return lost.arg(QStringLiteral("no SFTP greeting"));
    constexpr uint32_t id = 1;
    if (!c.write(posixRenamePacket(id, from, to)))
        return lost.arg(QString::fromUtf8(ssh_get_error(ssh)));
    const std::optional<QByteArray> reply = c.packet();
    if (!reply)
        return lost.arg(QStringLiteral("no answer to the rename"));
    const std::optional<SftpStatus> status = parseStatusReply(*reply, id);
    if (!status)
        return QStringLiteral("the server's answer to the rename is no SFTP status");
    if (status->code != 0)
        return QStringLiteral("the server refused (SFTP status %1: %2)")
            .arg(status->code)
            .arg(QString::fromUtf8(status->message).left(200));
    return {};
}

} // namespace og
