#include "mailer/send/RunLog.h"

#include "common/ReplacingFile.h"
#include "mailer/SendFailure.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>

namespace og {

void RunLog::open(const QString& path)
{
    close();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        throw SendFailure(writeFailureText(path, file_.errorString()));
}

void RunLog::close()
{
    if (file_.isOpen())
        file_.close();
}

QString RunLog::timestamp()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), QLocale::ShortFormat) + u' ' + locale.toString(now.time(), QLocale::LongFormat);
}

void RunLog::writeLine(const QString& line)
{
    if (!file_.isOpen())
        return;
    const QByteArray bytes = line.toUtf8() + "\r\n";
    // Straight to the file, so a run that breaks off keeps what it did and a
    // full disk is reported with the system's reason.
    QString reason;
    if (!writeFully(file_.handle(), bytes.constData(), bytes.size(), &reason)) {
        const QString path = file_.fileName();
        file_.close();
        throw SendFailure(writeFailureText(path, reason));
    }
}

void RunLog::writeHeader(
    const QString& addressFile, const QString& subject, const QStringList& bodyLines, const QStringList& notes)
{
    writeLine(QStringLiteral("*** ") + timestamp() + QStringLiteral(" Using file ") + addressFile);
    for (const QString& note : notes)
        writeLine(note);
    writeLine(QStringLiteral("Subject: ") + subject);
    writeLine(QStringLiteral("Body:"));
    for (const QString& line : bodyLines)
        writeLine(line);
    writeLine(QStringLiteral("Sent to these Customers:"));
}

namespace {

// The failure text may span lines (socket errors do); keep it on one.
QString oneLine(const QString& text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(u'\n', u' ');
    line.replace(u'\r', u' ');
    return line;
}

} // namespace

void RunLog::writeOutcome(CustomerResult result, const QString& failure, bool again)
{
    const QString line = QStringLiteral("*** ") + outcomeWords(result) +
        (again ? QStringLiteral(", to be tried again") : QString()) + QStringLiteral(": ") + oneLine(failure);
    if (result != CustomerResult::NotSent) {
        writeLine(line);
        return;
    }
    try {
        writeLine(line);
    } catch (const SendFailure&) {
        // The send's own failure is the one to report.
    }
}

void RunLog::writeEnded(const QString& address, int sent, int total, bool lostTwice)
{
    try {
        writeLine(QStringLiteral("*** run ended at %1%2 (%3 of %4 customers sent)")
                      .arg(address, lostTwice ? QStringLiteral(": the connection was lost twice running") : QString())
                      .arg(sent)
                      .arg(total));
    } catch (const SendFailure&) {
    }
}

void RunLog::writeStopped(const QString& nextAddress, int sent, int total)
{
    writeLine(QStringLiteral("*** Stopped%1 (%2 of %3 customers sent)")
                  .arg(nextAddress.isEmpty() ? QString() : QStringLiteral(" before ") + nextAddress)
                  .arg(sent)
                  .arg(total));
}

} // namespace og
