// The send run's pace: the turns of its connections at the rate set or the
// provider's, and slowing down when the server asks it to.
#include "mailer/ProviderProfile.h"
#include "mailer/send/RunLog.h"
#include "mailer/send/SendRun.h"

#include <algorithm>

namespace og {

bool SendRun::waitForTurn(std::chrono::milliseconds* waited)
{
    std::unique_lock lock(turnMutex_);
    const auto now = std::chrono::steady_clock::now();
    const auto turn = std::max(now, nextTurn_);
    nextTurn_ = turn + turnInterval_;
    stopSignal_.wait_until(lock, turn, [this] { return stopRequested_.load(); });
    if (waited)
        *waited = std::chrono::duration_cast<std::chrono::milliseconds>(turn - now);
    return !stopRequested_;
}

void SendRun::noteAccepted()
{
    std::lock_guard lock(turnMutex_);
    accepted_.push_back(std::chrono::steady_clock::now());
    while (accepted_.size() > 1 && accepted_.back() - accepted_.front() >= minute_)
        accepted_.pop_front();
}

std::optional<QString> SendRun::slowDown(const QString& reply)
{
    std::lock_guard lock(turnMutex_);
    const auto now = std::chrono::steady_clock::now();
    while (!accepted_.empty() && now - accepted_.front() >= minute_)
        accepted_.pop_front();
    const auto perMinute = [this](std::chrono::milliseconds interval) {
        return interval.count() > 0 ? QString::number(std::max<long long>(1, minute_ / interval))
                                    : QStringLiteral("no limit");
    };
    // The other connections' refusals of the same moment ask nothing more.
    if (now < pauseUntil_)
        return QString();
    if (++throttleRounds_ > MaxThrottleRounds)
        return std::nullopt;
    // Half the rate set, and no more than half what the server took in the
    // last minute: a limit by the minute lets that many through again.
    turnInterval_ *= 2;
    if (!accepted_.empty())
        turnInterval_ =
            std::max(turnInterval_, std::chrono::milliseconds(minute_ * 2 / std::int64_t(accepted_.size())));
    connectionsAllowed_ = std::max(1, connectionsAllowed_.load() / 2);
    const auto base = std::max<std::chrono::milliseconds>(std::chrono::seconds(retryDelaySeconds_), minute_);
    const auto length = std::min<std::chrono::milliseconds>(base * (1 << (throttleRounds_ - 1)), MaxThrottlePause);
    pauseUntil_ = now + length;
    nextTurn_ = std::max(nextTurn_, pauseUntil_);
    return QStringLiteral("The server asks to slow down (%1): going on in %2 s at %3 a minute over %4 "
                          "connection(s)")
        .arg(reply)
        .arg(std::chrono::duration_cast<std::chrono::seconds>(length).count())
        .arg(perMinute(turnInterval_))
        .arg(connectionsAllowed_.load());
}

QString SendRun::throttledEnd(const QString& reply) const
{
    return reply +
        QStringLiteral("\nThe server still asked to slow down after %1 pauses: lower the rate (--rate, or rate in "
                       "the settings) and the connections (--connections, or connections in the settings), then "
                       "resume.")
            .arg(MaxThrottleRounds);
}

void SendRun::setPace(
    const MailerInput& input, const ProviderProfile& profile, const DayAllowance& day, int customers, RunLog& log)
{
    const MailerSettings& settings = input.settings;
    const bool dryRun = !dryRunFolder_.isEmpty();
    // The provider's pace, and no more than it unless asked for on purpose.
    const Pace pace =
        paceFor(profile, settings.ratePerMinute, settings.connections, input.rateAsked, input.connectionsAsked);
    const int rate = dryRun ? 0 : pace.perMinute;
    if (!dryRun && !pace.lowered.isEmpty()) {
        const QString line = QStringLiteral("%1 allows no more: lowered %2 (a higher value only with --rate or "
                                            "--connections, or in a [provider NAME] section of your own)")
                                 .arg(profile.name, pace.lowered.join(QStringLiteral(" and ")));
        log.writeLine(QStringLiteral("*** ") + line);
        showStatus(line);
    }
    const int left = day.left();
    if (!dryRun && (rate > 0 || (left >= 0 && left < customers)))
        showStatus(profile.name + QStringLiteral(": ") + runEstimate(customers, rate, day));
    {
        std::lock_guard lock(turnMutex_);
        turnInterval_ = rate > 0 ? minute_ / std::min(rate, 60000) : std::chrono::milliseconds(0);
        nextTurn_ = std::chrono::steady_clock::now();
        accepted_.clear();
        throttleRounds_ = 0;
        pauseUntil_ = {};
        retryDelaySeconds_ = std::clamp(settings.retryDelaySeconds, 0, MailerSettings::MaxRetryDelay);
    }
    connectionsWanted_ = dryRun ? 1 : pace.connections;
    connectionsAllowed_ = std::max(1, connectionsWanted_);
    perConnection_ = std::clamp(settings.perConnection, 1, MailerSettings::MaxPerConnection);
    sender_ = settings.sender;
}

} // namespace og
