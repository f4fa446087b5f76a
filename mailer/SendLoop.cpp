#include "mailer/SendLoop.h"

#include "mail/WireMessage.h"
#include "mailer/MessageBuilder.h"
#include "mailer/RunLog.h"
#include "mailer/SendJournal.h"
#include "net/SMTPWire.h"

#include <QScopeGuard>

#include <thread>

namespace og {

const QString SendLoop::SendingText = QStringLiteral("Sending to ");

SendLoop::SendLoop(SendRun& run, const MessageBuilder& messages, const QList<AddressRecord>& customers,
    SendJournal& journal, RunLog& log, SendOutcome& outcome)
    : run_(run),
      messages_(messages),
      customers_(customers),
      journal_(journal),
      log_(log),
      outcome_(outcome),
      outcomes_(std::size_t(customers.size()))
{
}

void SendLoop::run(int connections)
{
    // Every connection exists before any starts, so a Stop reaches them all.
    std::vector<std::unique_ptr<TWireSMTP>> clients;
    const auto drop = qScopeGuard([&] {
        for (const auto& client : clients)
            run_.dropConnection(*client);
    });
    for (int i = 0; i < connections; ++i)
        clients.push_back(run_.newConnection());
    if (clients.size() == 1) {
        work(*clients.front());
    } else {
        std::vector<std::thread> threads;
        for (const auto& client : clients)
            threads.emplace_back([this, smtp = client.get()] { work(*smtp); });
        for (std::thread& thread : threads)
            thread.join();
    }

    // Other connections may have served customers after the one where a
    // failure ended the run (some taken after it may not have begun): the
    // log and the count name each customer served, as the journal does.
    for (qsizetype i = counted_; fatal_ && !error_ && i < customers_.size(); ++i) {
        try {
            if (outcomes_[std::size_t(i)])
                account(i, *outcomes_[std::size_t(i)]);
        } catch (...) {
            error_ = std::current_exception();
        }
    }
    if (error_)
        std::rethrow_exception(error_);
    if (fatal_) {
        log_.writeEnded(endedAt_, outcome_.sent, outcome_.total, lostTwice_);
        log_.close();
        SendRun::endRun(*fatal_);
    }
    // Every customer taken has been accounted for; the first one left is
    // where Stop came, unless one under way went unserved.
    if (run_.stopRequested_ && (!firstUnserved_.isEmpty() || counted_ < customers_.size()))
        run_.stopRun(outcome_, firstUnserved_.isEmpty() ? customers_[counted_].address : firstUnserved_, log_);
}

void SendLoop::work(TWireSMTP& smtp)
{
    for (;;) {
        qsizetype i = 0;
        {
            std::lock_guard lock(mutex_);
            if (ended_ || run_.stopRequested_ || next_ >= customers_.size())
                return;
            i = next_++;
        }
        const AddressRecord& customer = customers_[i];
        if (!started(i))
            return;
        run_.showStatus(SendingText + customer.address);
        SendRun::Attempt a;
        if (!run_.waitForTurn()) {
            a.result = CustomerResult::NotSent;
            a.text = QStringLiteral("stopped by the user");
        } else {
            try {
                TWireMessage message = messages_.build(customer);
                a = run_.attempt(smtp, message, customer.address, [&] { journal_.dataSent(customer.address); });
                journal_.record(customer.address, a.result);
            } catch (...) {
                // The journal cannot be written: without it a resumed run
                // could send twice, so the run ends here with its reason.
                std::lock_guard lock(mutex_);
                if (!error_)
                    error_ = std::current_exception();
                ended_ = true;
                return;
            }
        }
        finished(i, a);
    }
}

bool SendLoop::started(qsizetype i)
{
    std::lock_guard lock(mutex_);
    if (ended_)
        return false;
    if (counted_ != i)
        return true;
    try {
        log_.writeLine(customers_[i].address);
        logged_ = i + 1;
        return true;
    } catch (...) {
        error_ = std::current_exception();
        ended_ = true;
        return false;
    }
}

void SendLoop::finished(qsizetype i, const SendRun::Attempt& a)
{
    std::lock_guard lock(mutex_);
    outcomes_[std::size_t(i)] = a;
    try {
        for (; !error_ && counted_ < customers_.size() && outcomes_[std::size_t(counted_)]; ++counted_)
            account(counted_, *outcomes_[std::size_t(counted_)]);
    } catch (...) {
        error_ = std::current_exception();
        ended_ = true;
    }
}

void SendLoop::account(qsizetype i, const SendRun::Attempt& a)
{
    const QString& address = customers_[i].address;
    if (logged_ <= i) {
        log_.writeLine(address);
        logged_ = i + 1;
    }
    run_.noteEncryption(log_, a.tlsNote);
    switch (a.result) {
    case CustomerResult::Accepted:
        ++outcome_.sent;
        break;
    case CustomerResult::Refused:
    case CustomerResult::NotSent:
        if (!a.fatal)
            outcome_.notSent << address;
        log_.writeNotSent(a.text);
        break;
    case CustomerResult::Unknown:
        outcome_.unknown << address;
        log_.writeUnknown(a.text);
        break;
    }
    lostInARow_ = a.lost ? lostInARow_ + 1 : 0;
    if (!fatal_ && (a.fatal || lostInARow_ == 2)) {
        fatal_ = a;
        endedAt_ = address;
        lostTwice_ = lostInARow_ == 2;
        ended_ = true;
    }
    if (run_.progress_)
        run_.progress_(int(i) + 1, outcome_.total);
    if (run_.stopRequested_ && a.result == CustomerResult::NotSent && firstUnserved_.isEmpty())
        firstUnserved_ = address;
}

} // namespace og
