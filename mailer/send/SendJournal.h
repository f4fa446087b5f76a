#pragma once
// The journal of a send run: what became of each customer, so that a run
// that did not finish (stopped, failed, the program or the machine gone) can
// be resumed without sending twice. One file per address file and message,
// beside the log, named "journal_" + the address file's name + "_" + a short
// code of the message. A line per event, each written through to the disk
// before the run goes on: "data-sent" and the address just before a
// message's final "." goes (from there on the server may have it), then its
// outcome. A customer with "data-sent" and no outcome (the program was
// killed while the server had the message) is not known; one with no line
// was not sent. The sender's copy has the same lines with "copy-" in front
// and no address; "finished" ends a run that went to its end;
// "deferred-until" and a UTC time says the day's allowance deferred the
// customers still deferred until then. Journals of
// older versions wrote "begun" before connecting: read as not known, as
// they always were. A resumed run appends, on a line of its own even when
// the last one was cut short. Writing may come from several threads.
// Just before "data-sent", "message-id <id> <address>" keeps the message's
// Message-ID (without <>), so what comes back days later (a delivery
// report names the message, not always the customer) is traced to whom it
// went; readers before it pass the line over.

#include "mailer/CustomerResult.h"
#include "mailer/SendFailure.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace og {

class SendJournal {
public:
    // What an earlier run of the same message to the same address file did.
    struct State {
        bool readable = false; // a line of a journal in it (a run's first line will do)
        QString problem;       // when not: why ("it does not exist", "it is empty", ...)
        bool finished = false; // a "finished" line: trust it only when every customer has an outcome
        // By address: the last thing known. A customer whose message had
        // gone and whose outcome never came is Unknown.
        QHash<QString, CustomerResult> results;
        std::optional<CustomerResult> copy; // the sender's copy, the last thing known when it was tried
        QDateTime deferredUntil;            // the last "deferred-until" time; invalid: none

        // Whether a customer needs no message any more: accepted, refused or
        // not known (those are for the user to decide, never resent
        // silently); one deferred or not sent still needs it.
        bool done(const QString& address) const;
        // Whether the copy needs none: accepted or not known.
        bool copyDone() const { return copy == CustomerResult::Accepted || copy == CustomerResult::Unknown; }
    };

    // The journal's file name for this address file and message, in folder.
    static QString pathFor(const QString& folder, const QString& addressFile, const QString& subject,
        const QStringList& bodyLines, const QStringList& attachments);
    static State read(const QString& path);
    // The messages of every journal in folder: Message-ID (without <>) to the
    // customer's address. Unreadable journals are passed over.
    static QHash<QString, QString> messageIds(const QString& folder);

    SendJournal() = default;
    ~SendJournal() { close(); }
    SendJournal(const SendJournal&) = delete;
    SendJournal& operator=(const SendJournal&) = delete;

    // Starts a journal afresh, or goes on with the one there (resume). Throws
    // SendFailure when it cannot be written.
    void open(const QString& path, bool resume, const QString& addressFile, const QString& subject);
    void close();
    const QString& path() const { return path_; }

    // Just before the final "." of the customer's message (or the copy) goes;
    // messageId: the message's Message-ID, with or without <> (none: empty).
    void dataSent(const QString& address, const QString& messageId = {});
    void record(const QString& address, CustomerResult result);
    void copyDataSent();
    void recordCopy(CustomerResult result);
    void finish();
    // The day's allowance defers the customers recorded deferred until then.
    void deferUntil(const QDateTime& when);

private:
    void write(const QString& line, bool durable);
    QFile file_;
    QString path_;
    std::mutex mutex_; // parallel connections write their customers' lines
};

} // namespace og
