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
}

void SendLoop::work(TWireSMTP& smtp)
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
    const auto closeAtEnd = qScopeGuard(close);
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
    judgeFirstRefusals(i, a);
    if (!fatal_ && endsRun) {
        fatal_ = a;
        endedAt_ = address;
        lostTwice_ = lostInARow_ == 2;
        ended_ = true;
    }
    if (run_.progress_)
        run_.progress_(outcome_.done(), outcome_.total);
}

void SendLoop::judgeFirstRefusals(qsizetype i, const SendRun::Attempt& a)
{
    constexpr int InARow = 3;
    if (fatal_ || outcome_.done() != int(i) + 1 || i >= InARow || customers_.size() != outcome_.total ||
        customers_.size() < InARow)
        return;
    const QString reply = QString::fromStdString(ReplyWithoutAddresses(a.text.toStdString()));
    if (!a.refusedAtRecipient || (i > 0 && reply != firstRefusal_)) {
        firstRefusal_ = QStringLiteral("-");
        return;
    }
    if (i == 0)
        firstRefusal_ = reply;
    if (i < InARow - 1 || firstRefusal_ == QStringLiteral("-"))
        return;
    // Not the customers' fault: they go back to "not sent" for a resumed run.
    for (qsizetype k = 0; k < InARow; ++k) {
        const QString& address = customers_[k].address;
        outcome_.refused.removeOne(address);
        outcome_.notSent << address;
        journal_.record(address, CustomerResult::NotSent);
    }
    SendRun::Attempt end = a;
    end.result = CustomerResult::NotSent;
    end.fatal = true;
    end.text = a.text +
        QStringLiteral("\nThe server refused the first %1 customers with the same reply: it refuses "
                       "this sender or this computer, not the customers. Check the sender address, "
                       "the login and the server.")
            .arg(InARow);
    fatal_ = end;
    endedAt_ = customers_[i].address;
    ended_ = true;
}

} // namespace og
