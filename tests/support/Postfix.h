#pragma once
// Debian's postfix as a mail server of the tests: an instance of its own
// (tests/support/start-postfix, which the benchmarks use too) with its
// configuration, queue and log in a temporary folder, listening on
// 127.0.0.1 only, stopped by the destructor. postfix's own service and
// configuration are never touched. Needs root and the postfix package:
// unavailable() says why not.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace og::test {

class Postfix {
public:
    Postfix() = default;
    ~Postfix();
    Postfix(const Postfix&) = delete;
    Postfix& operator=(const Postfix&) = delete;

    // Why this machine cannot run one (not root, no postfix), or empty.
    static QString unavailable();
    // Starts it on a free port with the caller's main.cf lines (domains,
    // maps, transports); false with why() when it did not come up in 15 s.
    bool start(const QByteArray& mainCf);
    QString why() const { return why_; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // A file in its folder: for the maps the main.cf lines name.
    QString file(const QString& name) const { return dir_.filePath(name); }

    // Hands a message in as a program on its machine would (postfix's
    // sendmail), envelope from and to as given.
    bool submit(const QString& from, const QString& to, const QByteArray& message);
    // Asks the queue to try what waits now rather than at its next run.
    void flush();

private:
    QString conf() const { return dir_.filePath(QStringLiteral("etc")); }
    QTemporaryDir dir_;
    int port_ = 0;
    bool running_ = false;
    QString why_;
};

} // namespace og::test
