#pragma once
// A real SMTP server for end-to-end tests: Debian's aiosmtpd
// (tests/support/smtp_sink.py) started on 127.0.0.1 for one test, storing
// every message it receives; Python's email package (smtp_parse.py) reads a
// stored message back. Every wait is bounded; the destructor stops the
// server. For servers that misbehave on purpose or record the dialogue, see
// tests/support/ScriptedSmtpServer.h.

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace og::test {

class MailSink {
public:
    // arguments: more of smtp_sink.py's ("--host", "::1"; "--oauth-check", URL).
    explicit MailSink(const QStringList& arguments = {});
    ~MailSink();
    MailSink(const MailSink&) = delete;
    MailSink& operator=(const MailSink&) = delete;

    bool start(); // false when it did not come up within a few seconds
    int port() const { return port_; }
    // "127.0.0.1:PORT", or "[::1]:PORT" under --host ::1.
    QString server() const;

    // Waits until at least n messages are stored (bounded); their number.
    int waitForMessages(int n, int timeoutMs = 10000) const;
    int messageCount() const;
    // Envelope of message i (1-based): mail_from, rcpt_tos.
    QJsonObject envelope(int i) const;
    // The message parsed with Python's email package: headers, defects and
    // the tree of parts, each with its size and SHA-256 (smtp_parse.py).
    QJsonObject parsed(int i) const;
    // The same for any message file (.eml).
    static QJsonObject parseFile(const QString& path);
    QByteArray raw(int i) const;

private:
    QString stored(int i, const char* suffix) const;
    QStringList arguments_;
    QString storeDir_;
    QString workDir_;
    QProcess process_;
    int port_ = 0;
};

} // namespace og::test
