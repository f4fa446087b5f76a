#pragma once
// Small file helpers for the mailer and command-line tests. The servers they
// send to are in tests/support/ (ScriptedSmtpServer.h, MailSink.h).

#include <QByteArray>
#include <QString>

namespace og::test {

// Writes bytes to a file, replacing it; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

} // namespace og::test
