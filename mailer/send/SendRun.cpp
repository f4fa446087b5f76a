#include "mailer/send/SendRun.h"

#include "common/AddressFile.h"
#include "common/SuppressionList.h"
#include "common/TextFiles.h"
#include "mail/WireMessage.h"
#include "mailer/ProviderProfile.h"
#include "mailer/SentToday.h"
#include "mailer/message/MessageBuilder.h"
#include "mailer/send/Connections.h"
#include "mailer/send/RunLog.h"
#include "mailer/send/SendJournal.h"
#include "mailer/send/SendLoop.h"
#include "mailer/signin/AccessTokenSource.h"
#include "smtp/SMTPWire.h"
#include "smtp/SmtpReply.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

namespace og {

namespace {

const QString PreparingText = QStringLiteral("Preparing to send messages...");
const QString StoppedText = QStringLiteral("Stopped");

// What to check when the server's refusal would refuse every later customer.
QString refusalHint(TReplyVerdict verdict, const QString& sender)
{
    switch (verdict) {
    case TReplyVerdict::Sender:
        return QStringLiteral("The server does not let this login send as %1: use the login's own address as "
                              "the sender, or ask the provider to allow this one.")
            .arg(sender);
    case TReplyVerdict::Client:
        return QStringLiteral("The server does not take mail from this computer: send through your provider's "
                              "server, with its login, and check the server and the security setting.");
    case TReplyVerdict::Login:
        return QStringLiteral("The server wants a login it takes: check the user name, the password and the login "
                              "method.");
    case TReplyVerdict::Quota:
        return QStringLiteral("The provider's sending limit is reached: resume later.");
    default:
        break;
    }
    return QStringLiteral("The server refuses the sender %1: check the sender address and the login.").arg(sender);
}

} // namespace

static QString allowanceTime(const QDateTime& when)
{
    return QLocale::c().toString(when.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString withRefusalHint(const QString& reply, TReplyVerdict verdict, const QString& sender)
{
    return reply + u'\n' + refusalHint(verdict, sender);
}

SendRun::SendRun() = default;

SendRun::~SendRun() = default;

void SendRun::showStatus(const QString& text)
{
    std::lock_guard lock(statusMutex_);
    if (status_)
        status_(text);
}

QStringList SendRun::prepare(const MailerInput& input)
{
    stopRequested_ = false;
    showStatus(PreparingText);
    signature_.clear();
    try {
        MailerSettings::saveAddressFile(input.settingsPath, input.settings.addressFile);
    } catch (const std::exception& error) {
        throw SendFailure(QString::fromUtf8(error.what()));
    }
    signature_ = readSignature(input.settings);
    return signature_;
}

void SendRun::noteEncryption(RunLog& log, const QString& note)
{
    // Once a run, from its first connection: how it is encrypted and whether
    // the certificate was checked ("NOT checked" must never go unsaid), or
    // that Automatic found no STARTTLS and sends in plain text.
    if (encryptionNoted_ || note.isEmpty())
        return;
    encryptionNoted_ = true;
    log.writeLine(QStringLiteral("*** ") + note);
    showStatus(note);
}

QStringList* SendOutcome::listOf(CustomerResult result)
{
    switch (result) {
    case CustomerResult::Refused:
        return &refused;
    case CustomerResult::Deferred:
        return &deferred;
    case CustomerResult::NotSent:
        return &notSent;
    case CustomerResult::Unknown:
        return &unknown;
    case CustomerResult::Accepted:
        break;
    }
    return nullptr;
}

QStringList SendOutcome::summary() const
{
    QStringList lines {QStringLiteral("Message sent to %1 customers").arg(sent)};
    for (const CustomerResult result : AllCustomerResults) {
        const QStringList* list = const_cast<SendOutcome*>(this)->listOf(result);
        if (list && !list->isEmpty())
            lines << QStringLiteral("%1 %2: %3")
                         .arg(list->size())
                         .arg(outcomeWords(result), list->join(QStringLiteral(", ")));
    }
    if (!suppressed.isEmpty())
        lines << QStringLiteral("%1 suppressed: %2").arg(suppressed.size()).arg(suppressed.join(QStringLiteral(", ")));
    if (deferredUntil.isValid())
        lines << QStringLiteral("The day's allowance is used: the deferred customers can go from %1 (resume then)")
                     .arg(allowanceTime(deferredUntil));
    if (!copyProblem.isEmpty())
        lines << QStringLiteral("Your copy was not sent: ") + copyProblem;
    return lines;
}

void SendRun::requestStop()
{
    {
        std::lock_guard lock(turnMutex_);
        stopRequested_ = true;
    }
    stopSignal_.notify_all();
    std::lock_guard lock(connectionsMutex_);
    for (TWireSMTP* connection : connections_)
        connection->Abort();
}

std::unique_ptr<TWireSMTP> SendRun::newConnection()
{
    std::unique_ptr<TWireSMTP> smtp = factory_->make();
    std::lock_guard lock(connectionsMutex_);
    connections_.push_back(smtp.get());
    // A Stop that came first reaches it too.
    if (stopRequested_)
        smtp->Abort();
    return smtp;
}

void SendRun::dropConnection(const TWireSMTP& smtp)
{
    std::lock_guard lock(connectionsMutex_);
    std::erase(connections_, &smtp);
}

void SendRun::closeOpen()
{
    if (!open_)
        return;
    try {
        if (open_->Connected())
            open_->Disconnect();
    } catch (const std::exception&) {
        // The farewell is no part of any outcome.
    }
    dropConnection(*open_);
    open_.reset();
}

SendRun::Attempt SendRun::attempt(
    TWireSMTP& smtp, TWireMessage& message, const QString& address, const std::function<void()>& dataEnd)
{
    Attempt a;
    smtp.OnDataEnd = dataEnd;
    const auto noteTls = qScopeGuard([&] {
        a.securityNote = QString::fromStdString(smtp.SecurityNote());
        smtp.OnDataEnd = nullptr;
    });
    for (bool renewed = false;; renewed = true) {
        try {
            if (dryRunFolder_.isEmpty())
                smtp.Send(message);
            else
                writeDryRunFile(smtp, message, address);
            noteAccepted();
            return a;
        } catch (const EWireTokenRefused& refused) {
            // An access token that ran out: one fresh one for all the
            // connections, and this customer once more on a new connection.
            try {
                if (!renewed && !stopRequested_ && smtp.RenewSecret())
                    continue;
                failed(smtp, refused, a);
            } catch (const std::exception& error) {
                failed(smtp, error, a); // the provider refused the refresh
            }
            return a;
        } catch (const std::exception& error) {
            failed(smtp, error, a);
            return a;
        }
    }
}

void SendRun::failed(const TWireSMTP& smtp, const std::exception& error, Attempt& a)
{
    a.text = QString::fromUtf8(error.what());
    if (dynamic_cast<const EWireAddressRefused*>(&error)) {
        // This customer's address alone: nothing of the message went.
        a.result = CustomerResult::Refused;
        return;
    }
    if (!dryRunFolder_.isEmpty()) {
        a.result = CustomerResult::NotSent;
        a.fatal = true;
        return;
    }
    a.result = smtp.DataSent() ? CustomerResult::Unknown : CustomerResult::NotSent;
    if (stopRequested_) {
        a.stopped = true;
        a.text = StoppedText;
        return;
    }
    using At = TWireSMTP::TRefusedAt;
    // The server asks to slow down: at its greeting or EHLO any "not now"
    // does, later a reply that speaks of rate or number (a 421 too).
    const bool closing = dynamic_cast<const EWireResponseError*>(&error) && smtp.ReplyCode == 421;
    if (smtp.RefusedAt() == At::Greeting ||
        ((smtp.RefusedAt() != At::None || closing) &&
            JudgeReply(smtp.ReplyCode, smtp.LastReply) == TReplyVerdict::Throttled)) {
        a.result = CustomerResult::Deferred; // a reply refused it: nothing was delivered
        a.throttled = true;
        return;
    }
    if (smtp.RefusedAt() != At::None) {
        // A reply refused this message: for now, for good, or for everyone.
        const TReplyVerdict verdict = JudgeReply(smtp.ReplyCode, smtp.LastReply);
        if (EndsTheRun(verdict) || (smtp.RefusedAt() == At::Mail && verdict == TReplyVerdict::Permanent)) {
            a.result = CustomerResult::NotSent;
            a.fatal = true;
            a.text = withRefusalHint(a.text, verdict, sender_);
            return;
        }
        a.result = verdict == TReplyVerdict::Temporary ? CustomerResult::Deferred : CustomerResult::Refused;
        return;
    }
    const bool passwordRefused = dynamic_cast<const EWireAuthError*>(&error) &&
        !dynamic_cast<const EWireTokenRefused*>(&error) && smtp.Credential &&
        smtp.Credential->Kind() == TSecretKind::Password;
    if (passwordRefused)
        a.text = withOAuthHint(a.text, smtp.Capabilities);
    a.signInAgain = dynamic_cast<const SignInAgain*>(&error) != nullptr;
    a.tlsFromStart = dynamic_cast<const EWireTlsExpected*>(&error) != nullptr;
    if (dynamic_cast<const EWireTlsError*>(&error) && a.text.contains(QStringLiteral(" is not trusted: ")))
        a.text += QStringLiteral("\nTo trust this certificate, give its SHA-256 fingerprint (--tls-fingerprint, or "
                                 "fingerprint in the settings) or the authority that signed it (--ca-file, or cafile "
                                 "in the settings).");
    // A connection that broke (or a 421 that closed it) once it stood
    // costs this customer a try; one that cannot be had, will not talk TLS
    // or refuses the login fails every customer, and so does a file that
    // cannot be read.
    const bool connectionBroke = dynamic_cast<const EWireSocketError*>(&error) ||
        dynamic_cast<const EWireClosedSocket*>(&error) || dynamic_cast<const EWireConnClosedGraceful*>(&error) ||
        (dynamic_cast<const EWireResponseError*>(&error) && smtp.ReplyCode == 421);
    a.lost = connectionBroke && smtp.SendStage() != TWireSMTP::TSendStage::Connect;
    // (A server that answers and refuses, 554 at the greeting, is reached.)
    a.unreachable = dynamic_cast<const EWireSocketError*>(&error) && smtp.SendStage() == TWireSMTP::TSendStage::Connect;
    if (a.lost && a.result == CustomerResult::NotSent)
        a.result = CustomerResult::Deferred;
    a.fatal = !a.lost;
}

void SendRun::endRun(const Attempt& a)
{
    if (a.signInAgain)
        throw SignInAgain(a.text);
    SendFailure failure(a.text);
    failure.tlsFromStart = a.tlsFromStart;
    failure.unreachable = a.unreachable;
    throw failure;
}

void SendRun::stopRun(SendOutcome& outcome, const QString& nextAddress, RunLog& log)
{
    outcome.stopped = true;
    outcome.nextAddress = nextAddress;
    log.writeStopped(nextAddress, outcome.sent, outcome.total);
    log.close();
    const QString where = nextAddress.isEmpty() ? QString() : QStringLiteral(" before ") + nextAddress;
    QStringList text {
        QStringLiteral("Stopped%1: %2 of %3 customers sent").arg(where).arg(outcome.sent).arg(outcome.total)};
    showStatus((text + outcome.summary().mid(1)).join(QStringLiteral("; ")));
}

bool SendRun::pause(std::chrono::milliseconds length)
{
    std::unique_lock lock(turnMutex_);
    stopSignal_.wait_for(lock, length, [this] { return stopRequested_.load(); });
    return !stopRequested_;
}

QList<AddressRecord> SendRun::sendRound(const MessageBuilder& messages, const QList<AddressRecord>& customers,
    SendJournal& journal, RunLog& log, SendOutcome& outcome, bool lastRound)
{
    closeOpen();
    SendLoop loop(*this, messages, customers, journal, log, outcome, lastRound);
    loop.run(std::clamp(
        connectionsAllowed_.load(), 1, std::clamp(int(customers.size()), 1, MailerSettings::MaxConnections)));
    open_ = loop.takeOpen();
    return loop.again();
}

void SendRun::sendCopy(
    const QString& sender, const MessageBuilder& messages, SendJournal& journal, RunLog& log, SendOutcome& outcome)
{
    showStatus(SendLoop::SendingText + sender);
    Attempt a {CustomerResult::NotSent, StoppedText, false, false, {}};
    if (waitForTurn()) {
        TWireMessage copy = messages.copyTo(sender);
        const auto sendOn = [&](std::unique_ptr<TWireSMTP> smtp) {
            const auto drop = qScopeGuard([&] {
                smtp->DisconnectQuietly();
                dropConnection(*smtp);
            });
            a = attempt(*smtp, copy, sender, [&journal] { journal.copyDataSent(); });
            return !smtp->DataSent();
        };
        // The last round's open connection saves a login; one the server
        // has closed meanwhile costs a new one.
        const bool reused = open_ != nullptr;
        if (!reused || (sendOn(std::move(open_)) && a.lost))
            sendOn(newConnection());
        journal.recordCopy(a.result);
    }
    noteEncryption(log, a.securityNote);
    if (a.fatal) {
        log.close();
        endRun(a);
    }
    if (a.result != CustomerResult::Accepted)
        outcome.copyProblem = a.text;
}

namespace {

// The customers a run sends to, in the file's order: not those the checks
// left out (counted as not sent), nor those an earlier run of a resumed one
// has done (counted as sent before, or named in unknownBefore).
QList<AddressRecord> customersToSend(const QList<AddressRecord>& all, const SendRun::FieldCheck& check,
    const SendJournal::State& earlier, const SuppressedAddresses& lists, SendOutcome& outcome,
    QStringList& unknownBefore)
{
    QList<AddressRecord> customers;
    for (const AddressRecord& record : all) {
        if (const QString why = lists.why(record.address); !why.isEmpty())
            outcome.suppressed << record.address + QStringLiteral(" (") + why + u')';
        else if (check.refusedAddresses.contains(record.address))
            outcome.notSent << record.address; // a field would pick a file outside its folder
        else if (check.missingAddresses.contains(record.address))
            outcome.notSent << record.address; // their own attachment is missing
        else if (!earlier.done(record.address))
            customers << record;
        else if (earlier.results.value(record.address) == CustomerResult::Accepted)
            ++outcome.alreadySent;
        else if (earlier.results.value(record.address) == CustomerResult::Unknown)
            unknownBefore << record.address;
    }
    if (earlier.copy == CustomerResult::Unknown)
        unknownBefore << ResumeState::YourCopy;
    return customers;
}

} // namespace

void SendRun::openLog(RunLog& log, const MailerInput& input, const MessageBuilder& messages, const SendOutcome& outcome,
    const QStringList& unknownBefore, const FieldCheck& check, bool dryRun)
{
    const MailerSettings& settings = input.settings;
    if (dryRun)
        showStatus(QStringLiteral("Dry run: writing each message to %1, sending nothing")
                       .arg(QDir::toNativeSeparators(dryRunFolder_)));
    else if (settings.wantLog) {
        log.open(QLatin1String(LogFileName));
        QStringList notes;
        if (resume_) {
            notes << QStringLiteral("*** Resumed: %1 already sent, sending to the remaining %2")
                         .arg(outcome.alreadySent)
                         .arg(outcome.total);
            if (!unknownBefore.isEmpty())
                notes << QStringLiteral("*** Not known whether sent, not sent again: ") +
                        unknownBefore.join(QStringLiteral(", "));
        }
        log.writeHeader(settings.addressFile, input.subject, messages.body().lines(), notes);
    }
    for (const QString& note : std::as_const(check.notes))
        log.writeLine(QStringLiteral("*** ") + note);
    for (const QString& refusal : std::as_const(check.refused))
        log.writeLine(QStringLiteral("*** Not sent: ") + refusal);
    // "a@example.com (bounced 2026-12-11 550 5.1.1)" as "a@example.com
    // suppressed: bounced 2026-12-11 550 5.1.1".
    for (const QString& left : std::as_const(outcome.suppressed)) {
        const qsizetype open = left.indexOf(QStringLiteral(" ("));
        log.writeLine(
            QStringLiteral("*** ") + left.left(open) + QStringLiteral(" suppressed: ") + left.mid(open + 2).chopped(1));
    }
    if (customer_)
        for (qsizetype i = 0; i < check.refused.size(); ++i)
            customer_(check.refusedAddresses[i], CustomerResult::NotSent,
                check.refused[i].mid(check.refused[i].indexOf(QStringLiteral(": ")) + 2), false);
}

void SendRun::deferPastAllowance(QList<AddressRecord>& customers, const ProviderProfile& profile,
    const DayAllowance& day, SendJournal& journal, RunLog& log, SendOutcome& outcome)
{
    const int left = day.left();
    if (left < 0 || customers.size() <= left)
        return;
    // The day's length follows the run's minute, so tests can shorten it.
    const QDateTime until = day.restFrom;
    QStringList later;
    for (const AddressRecord& record : customers.mid(left)) {
        journal.record(record.address, CustomerResult::Deferred);
        later << record.address;
    }
    journal.deferUntil(until);
    customers.resize(left);
    outcome.deferred << later;
    outcome.deferredUntil = until;
    log.writeLine(
        QStringLiteral("*** deferred until %1 (the day's allowance of %2 at %3%4): %5")
            .arg(allowanceTime(until))
            .arg(day.perDay)
            .arg(profile.name,
                day.sentBefore > 0 ? QStringLiteral(", %1 sent in the last 24 hours").arg(day.sentBefore) : QString(),
                later.join(QStringLiteral(", "))));
}

bool SendRun::sendRounds(const MessageBuilder& messages, QList<AddressRecord> pending, SendJournal& journal,
    RunLog& log, SendOutcome& outcome, const MailerSettings& settings, bool dryRun)
{
    // Those refused for now go round again after a pause that grows each
    // time; what the last round leaves is deferred, for a resumed run.
    for (int round = 0; !pending.isEmpty(); ++round) {
        pending = sendRound(messages, pending, journal, log, outcome,
            dryRun || round >= std::clamp(settings.retries, 0, MailerSettings::MaxRetries));
        if (outcome.stopped)
            return false;
        if (pending.isEmpty())
            break;
        closeOpen(); // idle through the pause, a server would drop it
        const auto length = std::chrono::milliseconds(
            std::clamp(settings.retryDelaySeconds, 0, MailerSettings::MaxRetryDelay) * 1000LL << std::min(round, 10));
        showStatus(QStringLiteral("Trying %1 deferred customers again in %2 s")
                       .arg(pending.size())
                       .arg(std::chrono::duration_cast<std::chrono::seconds>(length).count()));
        if (!pause(length)) {
            stopRun(outcome, pending.first().address, log);
            return false;
        }
    }
    return true;
}

void SendRun::finishRun(const MailerInput& input, const MessageBuilder& messages, SendJournal& journal, RunLog& log,
    SendOutcome& outcome, bool copyDone, bool dryRun)
{
    const MailerSettings& settings = input.settings;
    if (settings.copyToSelf && stopRequested_)
        outcome.copyProblem = StoppedText;
    else if (settings.copyToSelf && !copyDone)
        sendCopy(settings.sender, messages, journal, log, outcome);
    journal.finish();
    const QStringList summary = outcome.summary();
    if (!outcome.allSent())
        for (const QString& line : summary)
            log.writeLine(QStringLiteral("*** ") + line);
    log.close();
    for (const QString& line : summary)
        showStatus(line);
    if (input.settingsChanged && !dryRun) {
        try {
            settings.save(input.settingsPath);
        } catch (const std::exception& error) {
            throw SendFailure(QString::fromUtf8(error.what()));
        }
    }
    showStatus(QString());
}

SendOutcome SendRun::send(const MailerInput& input)
{
    SendOutcome outcome;
    const auto closeAtEnd = qScopeGuard([this] { closeOpen(); });
    const MailerSettings& settings = input.settings;

    factory_ =
        std::make_unique<ConnectionFactory>(connectionSettings(settings, input.password, input.tokens), tlsSessions_);
    tlsSessions_ = factory_->tlsSessions();
    encryptionNoted_ = false;
    dryRunCount_ = 0;
    MessageBuilder messages(input, signature_, true);
    FieldCheck check;
    const QList<AddressRecord> all = boundCustomers(input, messages, &check);
    if (const QString refused = check.refusal(skipped_); !refused.isEmpty())
        throw SendFailure(refused);

    // Count the customers first so the progress can say "of how many"; a
    // resumed run leaves out every one an earlier run has done.
    const SendJournal::State earlier = resume_ ? SendJournal::read(journalPath(input)) : SendJournal::State();
    if (earlier.deferredUntil.isValid() && QDateTime::currentDateTime() < earlier.deferredUntil)
        throw SendFailure(QStringLiteral("The day's allowance of the last run is used: the deferred customers can go "
                                         "from %1. Resume then; nothing was sent.")
                              .arg(allowanceTime(earlier.deferredUntil)));
    SuppressedAddresses lists;
    if (QString error;
        !input.includeSuppressed && !input.listsFolder.isEmpty() && !lists.read(input.listsFolder, &error))
        throw SendFailure(error +
            QStringLiteral("; nothing was sent (fix the list, or send with the suppressed "
                           "customers included)"));
    QStringList unknownBefore;
    const QList<AddressRecord> customers = customersToSend(all, check, earlier, lists, outcome, unknownBefore);
    outcome.resumed = resume_;
    outcome.total = int(customers.size());

    // A dry run sends nothing, so it has nothing to journal or log.
    const bool dryRun = !dryRunFolder_.isEmpty();
    SendJournal journal;
    if (!dryRun)
        journal.open(journalPath(input), resume_, settings.addressFile, input.subject);
    RunLog log;
    openLog(log, input, messages, outcome, unknownBefore, check, dryRun);
    if (progress_)
        progress_(0, outcome.total);

    const ProviderProfile profile = chooseProfile(settings.server, input.settingsPath, settings.provider);
    // Earlier runs of the same account count against the day's allowance.
    // The day's length follows the run's minute, so tests can shorten it.
    // The run's sends count from its start, when their day's allowance is
    // decided, so they free it again when its deferred customers may go.
    const SentToday sentToday(input.programFolder, minute_ * 24 * 60);
    const QString account = SentToday::account(profile, settings);
    const QDateTime start = QDateTime::currentDateTime();
    const DayAllowance day = input.programFolder.isEmpty()
        ? DayAllowance {profile.perDay, 0, start.addMSecs((minute_ * 24 * 60).count())}
        : sentToday.allowance(profile, account, start);
    setPace(input, profile, day, outcome.total, log);
    QList<AddressRecord> now = customers;
    if (!dryRun)
        deferPastAllowance(now, profile, day, journal, log, outcome);
    if (progress_)
        progress_(outcome.done(), outcome.total);
    // Counted however the run ends, a failure's included.
    const auto count = qScopeGuard([&, sentBefore = outcome.sent] {
        if (QString error; !dryRun && profile.perDay > 0 && !input.programFolder.isEmpty() &&
            !sentToday.add(account, outcome.sent - sentBefore, start, &error))
            showStatus(error);
    });
    if (sendRounds(messages, now, journal, log, outcome, settings, dryRun))
        finishRun(input, messages, journal, log, outcome, earlier.copyDone(), dryRun);
    return outcome;
}

} // namespace og
