#pragma once

#include "mailer/CustomerResult.h"

#include <QFile>
#include <QString>
#include <QStringList>

namespace og {

// The run log "log.txt": appended to, one line per customer, every line ended
// by CR LF and flushed at once so a run that breaks off keeps what it did.
// A closed log (or one never opened, when logging is off) ignores writes.
class RunLog {
public:
    RunLog() = default;
    ~RunLog() { close(); }
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Throws SendFailure when the file cannot be opened for appending.
    void open(const QString& path);
    bool isOpen() const { return file_.isOpen(); }
    void close();

    // "*** <date> <time> Using file <path>", "Subject: ", "Body:", the body
    // lines and "Sent to these Customers:".
    // notes (a resumed run says so) follow the first line.
    void writeHeader(const QString& addressFile, const QString& subject, const QStringList& bodyLines,
        const QStringList& notes = {});
    void writeLine(const QString& line);
    // After the address of a customer not sent: "*** " and the outcome's
    // words (mailer/CustomerResult.h), then the server's line or the error;
    // again: the customer is tried again later in the run.
    void writeOutcome(CustomerResult result, const QString& failure, bool again = false);
    // "*** Stopped before <the first customer not tried> (N of M customers sent)".
    void writeStopped(const QString& nextAddress, int sent, int total);
    // A failure that would fail every later customer ended the run there.
    void writeEnded(const QString& address, int sent, int total, bool lostTwice);

    // The local date and time as the header line shows them.
    static QString timestamp();

private:
    QFile file_;
};

} // namespace og
