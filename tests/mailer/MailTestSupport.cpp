#include "MailTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef OG_SOURCE_DIR
#error "OG_SOURCE_DIR must name the source tree"
#endif

namespace og::test {

namespace {
const QString Python = QStringLiteral("/usr/bin/python3");
QString supportScript(const char* name)
{
    return QStringLiteral(OG_SOURCE_DIR "/tests/support/") + QLatin1String(name);
}
} // namespace

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

MailSink::MailSink()
{
    workDir_ =
        QDir::tempPath() + QStringLiteral("/og-sink-%1-%2").arg(QCoreApplication::applicationPid()).arg(quintptr(this));
    storeDir_ = workDir_ + QStringLiteral("/store");
    QDir().mkpath(storeDir_);
}

MailSink::~MailSink()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel(); // --watch-stdin: ends at end of input
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    QDir(workDir_).removeRecursively();
}

bool MailSink::start()
{
    const QString portFile = workDir_ + QStringLiteral("/port");
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(Python,
        {supportScript("smtp_sink.py"), QStringLiteral("--port-file"), portFile, QStringLiteral("--store-dir"),
            storeDir_, QStringLiteral("--watch-stdin"), QStringLiteral("--max-seconds"), QStringLiteral("120")});
    if (!process_.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        const QByteArray text = readFile(portFile).trimmed();
        if (!text.isEmpty()) {
            port_ = text.toInt();
            return port_ > 0;
        }
        if (process_.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(20);
    }
    return false;
}

int MailSink::messageCount() const
{
    return int(QDir(storeDir_).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

int MailSink::waitForMessages(int n, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (messageCount() < n && timer.elapsed() < timeoutMs)
        QThread::msleep(20);
    return messageCount();
}

QJsonObject MailSink::envelope(int i) const
{
    return QJsonDocument::fromJson(readFile(storeDir_ + QStringLiteral("/msg-%1.json").arg(i, 4, 10, QLatin1Char('0'))))
        .object();
}

QByteArray MailSink::raw(int i) const
{
    return readFile(storeDir_ + QStringLiteral("/msg-%1.eml").arg(i, 4, 10, QLatin1Char('0')));
}

QJsonObject MailSink::parsed(int i) const
{
    QProcess parser;
    parser.start(Python,
        {supportScript("smtp_parse.py"), storeDir_ + QStringLiteral("/msg-%1.eml").arg(i, 4, 10, QLatin1Char('0'))});
    if (!parser.waitForFinished(15000)) {
        parser.kill();
        parser.waitForFinished(2000);
        return {};
    }
    return QJsonDocument::fromJson(parser.readAllStandardOutput()).object();
}

ScriptedSmtpServer::ScriptedSmtpServer(int failAtMessage, QByteArray failLine)
    : failAt_(failAtMessage),
      failLine_(std::move(failLine))
{
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool ScriptedSmtpServer::start()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 8) != 0)
        return false;
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
    return true;
}

QStringList ScriptedSmtpServer::delivered() const
{
    std::lock_guard lock(mutex_);
    return delivered_;
}

void ScriptedSmtpServer::serve()
{
    int number = 0;
    while (!stop_) {
        pollfd p {listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        ++connections_;
        session(fd, ++number);
        ::close(fd);
    }
}

void ScriptedSmtpServer::session(int fd, int number)
{
    QByteArray pending;
    const auto send = [fd](const QByteArray& line) {
        const QByteArray data = line + "\r\n";
        return ::send(fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL) == data.size();
    };
    // One line from the client; empty optional-like result on end or time-out.
    const auto readLine = [&](QByteArray& line) -> bool {
        QElapsedTimer timer;
        timer.start();
        while (!stop_ && timer.elapsed() < 10000) {
            const qsizetype end = pending.indexOf("\r\n");
            if (end >= 0) {
                line = pending.left(end);
                pending.remove(0, end + 2);
                return true;
            }
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            pending.append(buffer, got);
        }
        return false;
    };

    send("220 scripted test server");
    QString recipient;
    QByteArray line;
    while (readLine(line)) {
        const QByteArray command = line.left(4).toUpper();
        if (command == "EHLO" || command == "HELO" || command == "RSET" || command == "MAIL") {
            send("250 OK");
        } else if (command == "RCPT") {
            if (number == failAt_) {
                send(failLine_);
            } else {
                recipient = QString::fromUtf8(line.mid(line.indexOf('<') + 1).chopped(1));
                send("250 OK");
            }
        } else if (command == "DATA") {
            send("354 go ahead");
            QByteArray dataLine;
            while (readLine(dataLine) && dataLine != ".") { }
            if (onData_)
                onData_(number);
            {
                std::lock_guard lock(mutex_);
                delivered_ << recipient;
            }
            send("250 accepted");
        } else if (command == "QUIT") {
            return;
        } else {
            send("500 unknown command");
        }
    }
}

} // namespace og::test
