#pragma once
// OpenSSH's posix-rename: a rename that replaces the target in one step.
// libssh's SFTP client renames only onto a free name, so this one request
// goes over an SFTP channel of its own, in SFTP version 3's packets
// (uint32 length, type byte, request id, the request's strings).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

struct ssh_session_struct;

namespace og {

// The request's packet, length first.
QByteArray posixRenamePacket(uint32_t id, QByteArrayView from, QByteArrayView to);

// A server's reply (after its length field): the status code of an
// SSH_FXP_STATUS for id and the server's text. nullopt for anything else
// (another type or id, a packet cut short). The reply is untrusted.
struct SftpStatus {
    uint32_t code = 0;
    QByteArray message;
};
std::optional<SftpStatus> parseStatusReply(QByteArrayView reply, uint32_t id);

// Renames from over to on the server of ssh. Empty when done, else the
// reason (the connection lost, the server's refusal).
QString posixRename(ssh_session_struct* ssh, QByteArrayView from, QByteArrayView to, int timeoutMs);

} // namespace og
