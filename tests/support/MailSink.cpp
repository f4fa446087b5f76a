#include "tests/support/MailSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

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

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

MailSink::MailSink(const QStringList& arguments)
    : arguments_(arguments)
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
        QStringList {supportScript("smtp_sink.py"), QStringLiteral("--port-file"), portFile,
            QStringLiteral("--store-dir"), storeDir_, QStringLiteral("--watch-stdin"), QStringLiteral("--max-seconds"),
            QStringLiteral("120")} +
            arguments_);
    if (!process_.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        const QByteArray text = contents(portFile).trimmed();
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

QString MailSink::server() const
{
    const qsizetype host = arguments_.indexOf(QStringLiteral("--host"));
    const QString address = host >= 0 ? arguments_.value(host + 1) : QStringLiteral("127.0.0.1");
    return (address.contains(u':') ? u'[' + address + u']' : address) + QStringLiteral(":%1").arg(port_);
}

QString MailSink::stored(int i, const char* suffix) const
{
    return storeDir_ + QStringLiteral("/msg-%1.").arg(i, 4, 10, QLatin1Char('0')) + QLatin1String(suffix);
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
    return QJsonDocument::fromJson(contents(stored(i, "json"))).object();
}

QByteArray MailSink::raw(int i) const
{
    return contents(stored(i, "eml"));
}

QJsonObject MailSink::parsed(int i) const
{
    return parseFile(stored(i, "eml"));
}

QJsonObject MailSink::parseFile(const QString& path)
{
    QProcess parser;
    parser.start(Python, {supportScript("smtp_parse.py"), path});
    if (!parser.waitForFinished(15000)) {
        parser.kill();
        parser.waitForFinished(2000);
        return {};
    }
    return QJsonDocument::fromJson(parser.readAllStandardOutput()).object();
}

} // namespace og::test
