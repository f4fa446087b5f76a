#include "mailer/send/SendLoop.h"

#include "mail/WireMessage.h"
#include "mailer/message/MessageBuilder.h"
#include "mailer/send/RunLog.h"
#include "mailer/send/SendJournal.h"
#include "smtp/SMTPWire.h"
#include "smtp/SmtpReply.h"

#include <QScopeGuard>

#include <thread>

namespace og {

const QString SendLoop::SendingText = QStringLiteral("Sending to ");

SendLoop::SendLoop(SendRun& run, const MessageBuilder& messages, const QList<AddressRecord>& customers,
    SendJournal& journal, RunLog& log, SendOutcome& outcome, bool lastRound)
    : run_(run),
      messages_(messages),
      customers_(customers),
      journal_(journal),
      log_(log),
      outcome_(outcome),
      lastRound_(lastRound),
      outcomes_(std::size_t(customers.size()))
{
}

void SendLoop::run(int connections)
{
    // Every connection exists before any starts, so a Stop reaches them all.
    std::vector<std::unique_ptr<TWireSMTP>> clients;
    const auto drop = qScopeGuard([&] {
        for (const auto& client : clients) {
            if (client)
                run_.dropConnection(*client);
        }
    });
    for (int i = 0; i < connections; ++i)
        clients.push_back(run_.newConnection());
    if (clients.size() == 1) {
        work(*clients.front(), 0);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t n = 0; n < clients.size(); ++n)
            threads.emplace_back([this, smtp = clients[n].get(), n] { work(*smtp, int(n)); });
        for (std::thread& thread : threads)
            thread.join();
        // A connection let go may have handed back its customer last; the
        // one kept open has no count of what it carried left for that.
        if (!slowedDown_.empty() && openNumber_ >= 0) {
            clients[std::size_t(openNumber_)]->DisconnectQuietly();
            openNumber_ = -1;
        }
        while (!slowedDown_.empty() && !ended_ && !run_.stopRequested_)
            work(*clients.front(), 0);
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
        run_.showStatus(QStringLiteral("Run ended at %1: %2 of %3 customers sent")
                            .arg(endedAt_)
                            .arg(outcome_.sent)
                            .arg(outcome_.total));
        SendRun::endRun(*fatal_);
    }
    // Every customer taken has been accounted for; the first one left is
    // the first not tried, unless Stop caught one before their data went.
    if (run_.stopRequested_ && (!firstUnserved_.isEmpty() || counted_ < customers_.size()))
        run_.stopRun(outcome_, firstUnserved_.isEmpty() ? customers_[counted_].address : firstUnserved_, log_);
    if (openNumber_ >= 0)
        open_ = std::move(clients[std::size_t(openNumber_)]);
}

void SendLoop::work(TWireSMTP& smtp, int number)
{
    // Several messages a connection: it stays open until it has carried
    // its share, or a failure leaves it out of step.
    smtp.KeepConnection = run_.perConnection_ > 1;
    int carried = 0;
    const auto close = [&] {
        carried = 0;
        try {
            if (smtp.Connected())
                smtp.Disconnect();
        } catch (const std::exception&) {
            // The farewell is no part of any customer's outcome.
        }
    };
    const auto closeAtEnd = qScopeGuard([&] {
        // The first connection to run out of customers with room left
        // stays open for the copy that may follow.
        if (smtp.KeepConnection && carried > 0 && carried < run_.perConnection_ && smtp.Connected()) {
            std::lock_guard lock(mutex_);
            if (!ended_ && !run_.stopRequested_ && (openNumber_ < 0 || openNumber_ == number)) {
                openNumber_ = number;
                return;
            }
        }
        close();
    });
    for (;;) {
        qsizetype i = 0;
        {
            std::lock_guard lock(mutex_);
            // A connection the server asked to do without ends here; the
            // customers it gave back go first.
            if (ended_ || run_.stopRequested_ || number >= run_.connectionsAllowed() ||
                (slowedDown_.empty() && next_ >= customers_.size()))
                return;
            i = slowedDown_.empty() ? next_++ : slowedDown_.extract(slowedDown_.begin()).value();
        }
        const AddressRecord& customer = customers_[i];
        if (!started(i))
            return;
        run_.showStatus(SendingText + customer.address);
        SendRun::Attempt a;
        std::chrono::milliseconds waited {0};
        const bool turn = run_.waitForTurn(&waited);
        // Servers drop a connection left idle for long: a new one after a pause.
        if (turn && waited > IdleLimit && smtp.Connected())
            close();
        if (!turn) {
            a.result = CustomerResult::NotSent;
            a.text = QStringLiteral("Stopped");
            a.stopped = true;
        } else {
            try {
                TWireMessage message = messages_.build(customer);
                a = run_.attempt(smtp, message, customer.address, [&] {
                    journal_.dataSent(customer.address, QString::fromStdString(message.Headers.Value("Message-ID")));
                });
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
        if (smtp.KeepConnection && (++carried >= run_.perConnection_ || !smtp.Connected()))
            close();
        if (a.throttled && goesAgain(i, a))
            continue;
        finished(i, a);
    }
}

bool SendLoop::goesAgain(qsizetype i, SendRun::Attempt& a)
{
    const std::optional<QString> note = run_.slowDown(a.text);
    std::lock_guard lock(mutex_);
    if (!note) {
        a.fatal = true;
        a.text = run_.throttledEnd(a.text);
        return false;
    }
    slowedDown_.insert(i);
    try {
        if (!note->isEmpty())
            log_.writeLine(QStringLiteral("*** ") + *note);
    } catch (...) {
        error_ = std::current_exception();
        ended_ = true;
    }
    if (!note->isEmpty())
        run_.showStatus(*note);
    return true;
}

bool SendLoop::started(qsizetype i)
{
    std::lock_guard lock(mutex_);
    if (ended_)
        return false;
    if (counted_ != i || logged_ > i)
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
    run_.noteEncryption(log_, a.securityNote);
    lostInARow_ = a.lost ? lostInARow_ + 1 : 0;
    const bool endsRun = a.fatal || lostInARow_ == 2;
    const bool again = a.result == CustomerResult::Deferred && !lastRound_ && !endsRun;
    if (a.stopped && a.result == CustomerResult::NotSent) {
        // Not tried: the first such is where a resumed run begins.
        log_.writeOutcome(a.result, a.text);
        if (firstUnserved_.isEmpty())
            firstUnserved_ = address;
    } else if (a.result == CustomerResult::Accepted) {
        ++outcome_.sent;
    } else {
        log_.writeOutcome(a.result, a.text, again);
        if (again)
            again_ << customers_[i];
        else if (!a.fatal)
            *outcome_.listOf(a.result) << address;
        if (run_.customer_ && !a.fatal)
            run_.customer_(address, a.result, a.text, again);
    }
    if (!fatal_ && endsRun) {
        fatal_ = a;
        endedAt_ = address;
        lostTwice_ = lostInARow_ == 2;
        ended_ = true;
    }
    if (run_.progress_)
        run_.progress_(outcome_.done(), outcome_.total);
}

} // namespace og
