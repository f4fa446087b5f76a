#pragma once
// Helpers for the mailer tests: the local SMTP sink (Debian's aiosmtpd,
// started per test on 127.0.0.1), a scripted SMTP server that can fail on
// purpose, and small file helpers. Every wait is bounded; what a helper
// starts it stops in its destructor.

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace og::test {

// Writes bytes to a file, replacing it; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// aiosmtpd on 127.0.0.1 storing every message it receives.
class MailSink {
public:
    MailSink();
    ~MailSink();
    bool start(); // false when it did not come up within a few seconds
    int port() const { return port_; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

    // Waits until at least n messages are stored (bounded); their number.
    int waitForMessages(int n, int timeoutMs = 10000) const;
    int messageCount() const;
    // Envelope of message i (1-based): mail_from, rcpt_tos.
    QJsonObject envelope(int i) const;
    // The message parsed with Python's email package (smtp_parse.py).
    QJsonObject parsed(int i) const;
    QByteArray raw(int i) const;

private:
    QString storeDir_;
    QString workDir_;
    QProcess process_;
    int port_ = 0;
};

// A small SMTP server on a thread of its own that answers every command with
// success, except that the RCPT of message failAtMessage (1-based; 0: never)
// gets failLine. onData(n) runs when message n's data has arrived, before the
// server accepts it.
class ScriptedSmtpServer {
public:
    explicit ScriptedSmtpServer(int failAtMessage = 0, QByteArray failLine = "550 5.1.1 No such user here");
    ~ScriptedSmtpServer();
    bool start();
    int port() const { return port_; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    void setOnData(std::function<void(int)> onData) { onData_ = std::move(onData); }

    // Recipients of the messages accepted, in order.
    QStringList delivered() const;
    int connections() const { return connections_; }

private:
    void serve();
    void session(int fd, int number);

    int failAt_;
    QByteArray failLine_;
    std::function<void(int)> onData_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_ {false};
    std::atomic<int> connections_ {0};
    std::thread thread_;
    mutable std::mutex mutex_;
    QStringList delivered_;
};

} // namespace og::test
