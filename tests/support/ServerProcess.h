#pragma once

// What the tests that start a real server (sshd, apache2, dovecot) need to
// know that the server they talk to is the one they started: a free port is
// only free until someone else binds it, and a test running beside them may.

#include <QList>

namespace og::test {

// A loopback port nothing listens on now (the kernel's choice).
int freeLoopbackPort();

// pid and every process below it, found in /proc.
QList<qint64> processTree(qint64 pid);

// Kills pid and everything below it at once.
void killTree(qint64 pid);

// Whether a process of pid's tree holds the socket listening on the port.
bool treeListensOn(qint64 pid, int port);

} // namespace og::test
