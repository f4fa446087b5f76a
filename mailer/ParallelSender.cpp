#include "mailer/ParallelSender.h"

#include "mail/WireMessage.h"
#include "mailer/SendJournal.h"
#include "net/SMTPWire.h"

namespace og {

ParallelSender::ParallelSender(
    SendRun& run, const MailerInput& input, const QStringList& customers, SendJournal& journal, int count)
    : run_(run),
      customers_(customers),
      journal_(journal),
      outcomes_(std::size_t(customers.size()))
{
    for (int i = 0; i < count; ++i) {
        clients_.push_back(run.connectionLike(input));
        messages_.push_back(std::make_unique<TWireMessage>(run.message_));
    }
    {
        // Registered before any starts, so a Stop reaches every one.
        std::lock_guard lock(run.connectionsMutex_);
        for (const auto& client : clients_)
            run.connections_.push_back(client.get());
    }
    if (run.stopRequested_)
        for (const auto& client : clients_)
            client->Abort();
    working_ = count;
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([this, i] { work(*clients_[std::size_t(i)], *messages_[std::size_t(i)]); });
}

void ParallelSender::work(TWireSMTP& smtp, TWireMessage& message)
{
    for (;;) {
        qsizetype i = 0;
        {
            std::lock_guard lock(mutex_);
            if (closing_ || run_.stopRequested_ || next_ >= customers_.size())
                break;
            i = next_++;
        }
        const QString& address = customers_[i];
        SendRun::Attempt a;
        if (!run_.waitForTurn()) {
            a.result = CustomerResult::NotSent;
            a.text = QStringLiteral("stopped by the user");
        } else {
            run_.showStatus(QStringLiteral("Sending to ") + address);
            try {
                journal_.begin(address);
                a = run_.attempt(smtp, message, address);
                journal_.record(address, a.result);
            } catch (const SendFailure& failure) {
                // The journal cannot be written: as fatal as on one connection.
                a.result = a.result == CustomerResult::Accepted ? CustomerResult::Unknown : a.result;
                a.text = failure.message();
                a.fatal = true;
            }
        }
        std::lock_guard lock(mutex_);
        outcomes_[std::size_t(i)] = a;
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    --working_;
    changed_.notify_all();
}

std::optional<SendRun::Attempt> ParallelSender::outcome(qsizetype i)
{
    std::unique_lock lock(mutex_);
    // Customer i ends, or is known never to start: not taken while every
    // worker has stopped.
    changed_.wait(lock, [&] { return outcomes_[std::size_t(i)].has_value() || (i >= next_ && working_ == 0); });
    return outcomes_[std::size_t(i)];
}

void ParallelSender::finish()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    for (std::thread& thread : threads_)
        if (thread.joinable())
            thread.join();
    std::lock_guard lock(run_.connectionsMutex_);
    std::erase_if(run_.connections_, [this](TWireSMTP* client) {
        for (const auto& own : clients_)
            if (own.get() == client)
                return true;
        return false;
    });
}

} // namespace og
