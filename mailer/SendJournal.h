#pragma once
// The journal of a send run: what became of each customer, so that a run
// that did not finish (stopped, failed, the program or the machine gone) can
// be resumed without sending twice. One file per address file and message,
// beside the log, named "journal_" + the address file's name + "_" + a short
// code of the message. A line per event, each written through to the disk
// before the run goes on, so a crash loses at most the customer under way;
// that customer was marked "begun" first and counts as "not known".
// Writing may come from several threads.

#include "mailer/SendRun.h"

#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>

namespace og {

class SendJournal {
public:
    // What an earlier run of the same message to the same address file did.
    struct State {
        bool exists = false;   // a journal with at least one customer in it
        bool finished = false; // that run went to its end
        bool copySent = false; // the sender's copy was accepted
        // By address: the last thing known. A customer begun and never ended
        // (the program was killed) is Unknown.
        QHash<QString, CustomerResult> results;

        // Whether a customer needs no message any more: accepted, refused or
        // not known (those are for the user to decide, never resent silently).
        bool done(const QString& address) const;
    };

    // The journal's file name for this address file and message, in folder.
    static QString pathFor(const QString& folder, const QString& addressFile, const QString& subject,
        const QStringList& bodyLines, const QStringList& attachments);
    static State read(const QString& path);

    SendJournal() = default;
    ~SendJournal() { close(); }
    SendJournal(const SendJournal&) = delete;
    SendJournal& operator=(const SendJournal&) = delete;

    // Starts a journal afresh, or goes on with the one there (resume). Throws
    // SendFailure when it cannot be written.
    void open(const QString& path, bool resume, const QString& addressFile, const QString& subject);
    void close();
    const QString& path() const { return path_; }

    void begin(const QString& address);
    void record(const QString& address, CustomerResult result);
    void recordCopy();
    void finish();

private:
    void write(const QString& line, bool durable);
    QFile file_;
    QString path_;
    std::mutex mutex_; // parallel connections write their customers' lines
};

} // namespace og
