#pragma once
// The customers of a run over one to N connections, one loop for all: each
// connection takes the next customer not yet taken and sends them the
// message built from their record; the outcomes are taken into account in
// address-file order, so the log, the progress and the end of the run read
// the same whatever N. One connection runs on the caller's thread, more on
// a thread each.

#include "common/AddressFile.h"
#include "mailer/send/SendRun.h"

#include <QString>

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace og {

class MessageBuilder;
class RunLog;
class SendJournal;

class SendLoop {
public:
    // The status text as each customer's message starts.
    static const QString SendingText;

    // lastRound: a customer refused for now is deferred for good, not
    // handed back by again().
    SendLoop(SendRun& run, const MessageBuilder& messages, const QList<AddressRecord>& customers, SendJournal& journal,
        RunLog& log, SendOutcome& outcome, bool lastRound = true);

    // Sends to every customer over `connections` connections of the run and
    // returns once all of them have ended; outcome.stopped when Stop came
    // before every customer was served. A failure that would fail every
    // later customer ends it with SendFailure once the log says where; a log
    // or journal that cannot be written ends it with its own.
    void run(int connections);
    // After run(): the customers refused for now, to be tried again.
    const QList<AddressRecord>& again() const { return again_; }
    // After run(): a connection still open with room for one more message
    // (the vendor's copy goes on it rather than on a login of its own), or
    // none. It stays registered with the run until dropConnection.
    std::unique_ptr<TWireSMTP> takeOpen() { return std::move(open_); }

private:
    // Connection `number` (from 0) of the run.
    void work(TWireSMTP& smtp, int number);
    // After the server asked to slow down at customer i: true when they go
    // again after the pause, false when the pauses are spent (a is then the
    // failure that ends the run).
    bool goesAgain(qsizetype i, SendRun::Attempt& a);
    static constexpr std::chrono::seconds IdleLimit {60};
    // Whether customer i may go ahead; with every customer before them
    // accounted for, they are logged now, before their message goes out.
    bool started(qsizetype i);
    // Takes customer i's outcome and accounts for every one now in turn.
    void finished(qsizetype i, const SendRun::Attempt& a);
    // Logs and counts one outcome; the first failure that would fail every
    // later customer ends the run.
    void account(qsizetype i, const SendRun::Attempt& a);

    SendRun& run_;
    const MessageBuilder& messages_;
    const QList<AddressRecord>& customers_;
    SendJournal& journal_;
    RunLog& log_;
    SendOutcome& outcome_;
    const bool lastRound_;
    QList<AddressRecord> again_;
    std::unique_ptr<TWireSMTP> open_;

    std::mutex mutex_; // everything below, the log and the outcome
    std::vector<std::optional<SendRun::Attempt>> outcomes_;
    std::set<qsizetype> slowedDown_; // customers to try again after the server asked to slow down
    qsizetype next_ = 0;             // the next customer to take
    qsizetype counted_ = 0;          // the next customer to account for
    qsizetype logged_ = 0;           // customers whose address is in the log
    int lostInARow_ = 0;
    bool ended_ = false;                    // a failure ends the run: take no further customer
    std::optional<SendRun::Attempt> fatal_; // the failure that would fail every later customer
    QString endedAt_;                       // the customer it came with
    bool lostTwice_ = false;                // it was the connection lost twice running
    std::exception_ptr error_;              // the log or the journal could not be written
    QString firstUnserved_;                 // the first customer Stop left without their message
    int openNumber_ = -1;                   // the connection left open for takeOpen
};

} // namespace og
