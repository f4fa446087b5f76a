#pragma once
// The customers of a run over several connections at once: each worker
// thread has its own client and copy of the message and takes the next
// customer not yet taken; the run's thread collects the outcomes in
// address-file order, so the log reads as with one connection.

#include "mailer/SendRun.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace og {

class SendJournal;

class ParallelSender {
public:
    // Starts `count` connections over customers; the journal learns of each
    // customer as it begins and ends.
    ParallelSender(
        SendRun& run, const MailerInput& input, const QStringList& customers, SendJournal& journal, int count);
    ~ParallelSender() { finish(); }
    ParallelSender(const ParallelSender&) = delete;
    ParallelSender& operator=(const ParallelSender&) = delete;

    // The outcome of customer i, once it is there; nothing when the customer
    // was never started (Stop, or finish() came first).
    std::optional<SendRun::Attempt> outcome(qsizetype i);
    // Starts no further customer and waits for those under way.
    void finish();

private:
    void work(TWireSMTP& smtp, TWireMessage& message);

    SendRun& run_;
    const QStringList& customers_;
    SendJournal& journal_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<SendRun::Attempt>> outcomes_;
    qsizetype next_ = 0;   // the next customer to start
    int working_ = 0;      // workers still running
    bool closing_ = false; // start no further customer
    std::vector<std::unique_ptr<TWireSMTP>> clients_;
    std::vector<std::unique_ptr<TWireMessage>> messages_;
    std::vector<std::thread> threads_;
};

} // namespace og
