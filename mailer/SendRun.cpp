#include "mailer/SendRun.h"

#include "common/ProfileFile.h"
#include "common/ReplacingFile.h"
#include "common/TextFiles.h"
#include "common/Trim.h"
#include "mail/WireMessage.h"
#include "mailer/AttachmentType.h"
#include "mailer/ParallelSender.h"
#include "mailer/RunLog.h"
#include "mailer/SendJournal.h"
#include "net/SMTPWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sstream>

namespace og {

namespace {

const QString PreparingText = QStringLiteral("Preparing to send messages...");
const QString SendingText = QStringLiteral("Sending to ");

std::string utf8(const QString& text)
{
    return text.toStdString();
}

std::vector<std::string> byteLines(const QStringList& lines)
{
    std::vector<std::string> result;
    result.reserve(std::size_t(lines.size()));
    for (const QString& line : lines)
        result.push_back(utf8(line));
    return result;
}

} // namespace

QString writeFailureText(const QString& path, const QString& reason)
{
    QString text = QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

SendFailure::SendFailure(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

QStringList splitTextLines(const QString& text)
{
    if (text.isEmpty())
        return {};
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalised.replace(u'\r', u'\n');
    QStringList lines = normalised.split(u'\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString appendTextLines(const QString& text, const QStringList& lines)
{
    if (lines.isEmpty())
        return text;
    QString result = text;
    if (!result.isEmpty() && !result.endsWith(u'\n'))
        result += u'\n';
    result += lines.join(u'\n');
    return result;
}

QStringList readTextFileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SendFailure(QStringLiteral("Unable to read ") + QDir::toNativeSeparators(path));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SendFailure(QStringLiteral("Unable to read ") + QDir::toNativeSeparators(path));
    return splitTextLines(decodeText(content));
}

void configureTransport(TWireMessage& message, TWireSMTP& smtp)
{
    message.ExtractAttachments = false;
    message.MsgNo = 0;
    message.ContentType = "text/plain";
    message.NoDecode = true;
    smtp.Port = 25;
    smtp.BufferChunk = 8192;
    smtp.SocksPort = 0;
}

void configureConnection(TWireSMTP& smtp, const MailerSettings& settings, const QString& password)
{
    smtp.Security = settings.security;
    smtp.Trust = TTlsTrust {utf8(settings.caFile), utf8(trimmed(settings.fingerprint)), settings.noVerify};
    smtp.AllowPlainPassword = settings.allowPlainPassword;
    smtp.HeloName = utf8(trimmed(settings.clientName));
    smtp.Timeout = settings.timeoutSeconds;
    const bool login = !settings.userName.isEmpty();
    smtp.AuthenticationType = login ? TWireSMTP::TAuthenticationType::atAny : TWireSMTP::TAuthenticationType::atNone;
    smtp.UserID = login ? utf8(settings.userName) : std::string();
    smtp.Password = login ? utf8(password) : std::string();
}

SendRun::SendRun(TWireMessage& message, TWireSMTP& smtp)
    : message_(message),
      smtp_(smtp)
{
}

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
    const MailerSettings& s = input.settings;
    if (s.useSignature && QFileInfo(s.signatureFile).isFile())
        signature_ = readTextFileLines(s.signatureFile);
    return signature_;
}

void SendRun::noteEncryption(RunLog& log, const QString& note)
{
    // Once a run, from its first connection: how it is encrypted and whether
    // the certificate was checked ("NOT checked" must never go unsaid).
    if (encryptionNoted_ || note.isEmpty())
        return;
    encryptionNoted_ = true;
    log.writeLine(QStringLiteral("*** ") + note);
    showStatus(note);
}

QStringList SendOutcome::summary() const
{
    QStringList lines {QStringLiteral("Message sent to %1 customers").arg(sent)};
    if (!notSent.isEmpty())
        lines << QStringLiteral("%1 not sent: %2").arg(notSent.size()).arg(notSent.join(QStringLiteral(", ")));
    if (!unknown.isEmpty())
        lines << QStringLiteral("%1 not known whether sent (the connection broke after the message had gone): %2")
                     .arg(unknown.size())
                     .arg(unknown.join(QStringLiteral(", ")));
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
    smtp_.Abort();
    std::lock_guard lock(connectionsMutex_);
    for (TWireSMTP* connection : connections_)
        connection->Abort();
}

bool SendRun::waitForTurn()
{
    std::unique_lock lock(turnMutex_);
    if (turnInterval_.count() > 0) {
        const auto now = std::chrono::steady_clock::now();
        const auto turn = std::max(now, nextTurn_);
        nextTurn_ = turn + turnInterval_;
        stopSignal_.wait_until(lock, turn, [this] { return stopRequested_.load(); });
    }
    return !stopRequested_;
}

std::unique_ptr<TWireSMTP> SendRun::connectionLike(const MailerInput& input) const
{
    auto smtp = std::make_unique<TWireSMTP>();
    TWireMessage unused;
    configureTransport(unused, *smtp);
    configureConnection(*smtp, input.settings, input.password);
    smtp->Host = smtp_.Host;
    smtp->Port = smtp_.Port;
    smtp->TlsContext = smtp_.TlsContext;
    smtp->XProgram = smtp_.XProgram;
    smtp->UsePipelining = smtp_.UsePipelining;
    smtp->ConnectTimeout = smtp_.ConnectTimeout;
    return smtp;
}

SendRun::Attempt SendRun::attempt(TWireSMTP& smtp, TWireMessage& message, const QString& address)
{
    message.Too.clear();
    message.Too.push_back(utf8(address));
    Attempt a;
    const auto noteTls = qScopeGuard([&] { a.tlsNote = QString::fromStdString(smtp.TlsNote()); });
    try {
        if (dryRunFolder_.isEmpty())
            smtp.Send(message);
        else
            writeDryRunFile(smtp, message, address);
        return a;
    } catch (const EWireRecipientRefused& refused) {
        a.result = CustomerResult::Refused;
        a.text = QString::fromUtf8(refused.what());
        return a;
    } catch (const std::exception& error) {
        a.text = QString::fromUtf8(error.what());
        if (!dryRunFolder_.isEmpty()) {
            a.result = CustomerResult::NotSent;
            a.fatal = true;
            return a;
        }
        a.result = smtp.DataSent() ? CustomerResult::Unknown : CustomerResult::NotSent;
        if (stopRequested_)
            return a;
        // A server that cannot be reached, will not talk TLS or refuses the
        // login fails every customer; so does a refusal of anything but the
        // address (421, the sender, the data) and a file that cannot be read.
        const bool connectionBroke = dynamic_cast<const EWireSocketError*>(&error) ||
            dynamic_cast<const EWireClosedSocket*>(&error) || dynamic_cast<const EWireConnClosedGraceful*>(&error);
        a.lost = connectionBroke && smtp.SendStage() != TWireSMTP::TSendStage::Connect;
        a.fatal = !a.lost;
        return a;
    }
}

void SendRun::stopRun(SendOutcome& outcome, const QString& nextAddress, RunLog& log)
{
    outcome.stopped = true;
    outcome.nextAddress = nextAddress;
    log.writeStopped(nextAddress, outcome.sent, outcome.total);
    log.close();
    showStatus(QStringLiteral("Stopped before %1: %2 of %3 customers sent")
                   .arg(nextAddress)
                   .arg(outcome.sent)
                   .arg(outcome.total));
}

MessageBody SendRun::compose(TWireMessage& message, const MailerInput& input, bool writeMessageFile) const
{
    const MailerSettings& settings = input.settings;
    MessageBody body = input.body;
    body.append(signature_);

    message.Attachments.Clear();
    message.CCList.clear();
    message.BCCList.clear();
    message.SetFrom(utf8(settings.sender));
    message.SetOrganization(utf8(settings.organisation));
    message.SetSubject(utf8(input.subject));
    message.Text = byteLines(body.lines());

    if (!input.attachments.isEmpty()) {
        for (const QString& path : input.attachments)
            message.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
    } else {
        const QString path = input.programFolder + QLatin1String(MessageFileName);
        if (writeMessageFile) {
            // Sent only once it is on disk whole: a full disk must not send
            // an empty or cut attachment.
            const QByteArray bytes = messageFileBytes(body);
            ReplacingFile file(path);
            if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit())
                throw SendFailure(writeFailureText(path, file.errorString()));
        }
        message.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
    }
    return body;
}

SendOutcome SendRun::send(const MailerInput& input)
{
    SendOutcome outcome;
    const MailerSettings& settings = input.settings;

    const ServerAddress server = parseServerAddress(settings.server, settings.security);
    if (!server.problem.isEmpty())
        throw SendFailure(server.problem);
    smtp_.Host = utf8(server.host);
    smtp_.Port = server.port;
    configureConnection(smtp_, settings, input.password);
    encryptionNoted_ = false;
    dryRunCount_ = 0;
    const MessageBody body = compose(message_, input, true);

    // Count the customers first so the progress can say "of how many"; a
    // resumed run leaves out every one an earlier run has done.
    const SendJournal::State earlier = resume_ ? SendJournal::read(journalPath(input)) : SendJournal::State();
    QStringList customers, unknownBefore;
    for (const QString& address : addressFileCustomers(settings.addressFile)) {
        if (!earlier.done(address))
            customers << address;
        else if (earlier.results.value(address) == CustomerResult::Accepted)
            ++outcome.alreadySent;
        else if (earlier.results.value(address) == CustomerResult::Unknown)
            unknownBefore << address;
    }
    outcome.resumed = resume_;
    outcome.total = int(customers.size());

    // A dry run sends nothing, so it has nothing to journal or log.
    const bool dryRun = !dryRunFolder_.isEmpty();
    SendJournal journal;
    if (!dryRun)
        journal.open(journalPath(input), resume_, settings.addressFile, input.subject);
    RunLog log;
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
        log.writeHeader(settings.addressFile, input.subject, body.lines(), notes);
    }
    if (progress_)
        progress_(0, outcome.total);

    smtp_.ResetAbort();
    {
        std::lock_guard lock(turnMutex_);
        turnInterval_ =
            std::chrono::milliseconds(settings.ratePerMinute > 0 ? 60000 / std::min(settings.ratePerMinute, 60000) : 0);
        nextTurn_ = std::chrono::steady_clock::now();
    }
    // With one connection each customer is logged as their message starts;
    // with more, as each outcome comes in turn.
    const int connections = dryRun
        ? 1
        : std::clamp(settings.connections, 1, std::clamp(int(customers.size()), 1, MailerSettings::MaxConnections));
    if (connections > 1 && !smtp_.TlsContext && settings.security != MailerSettings::Security::None) {
        try {
            smtp_.TlsContext = std::make_shared<TTlsContext>(smtp_.Trust);
        } catch (const std::exception&) {
            // The first connection reports it.
        }
    }
    std::unique_ptr<ParallelSender> parallel;
    if (connections > 1)
        parallel = std::make_unique<ParallelSender>(*this, input, customers, journal, connections);
    // What a failure or stop leaves: the customers done are in the log; the
    // connections still under way finish first.
    auto endParallel = [&] {
        if (parallel)
            parallel->finish();
    };
    int lostInARow = 0;
    QString firstUnserved; // parallel: where a Stop left the first customer without a message
    for (qsizetype i = 0; i < customers.size(); ++i) {
        const QString& address = customers[i];
        Attempt a;
        if (parallel) {
            const std::optional<Attempt> done = parallel->outcome(i);
            if (!done) {
                endParallel();
                stopRun(outcome, firstUnserved.isEmpty() ? address : firstUnserved, log);
                return outcome;
            }
            a = *done;
            if (stopRequested_ && a.result == CustomerResult::NotSent && firstUnserved.isEmpty())
                firstUnserved = address;
            log.writeLine(address);
        } else {
            if (stopRequested_) {
                stopRun(outcome, address, log);
                return outcome;
            }
            log.writeLine(address);
            showStatus(SendingText + address);
            if (!waitForTurn()) {
                a.result = CustomerResult::NotSent;
                a.text = QStringLiteral("stopped by the user");
            } else {
                journal.begin(address);
                a = attempt(smtp_, message_, address);
                journal.record(address, a.result);
            }
        }
        noteEncryption(log, a.tlsNote);
        switch (a.result) {
        case CustomerResult::Accepted:
            ++outcome.sent;
            break;
        case CustomerResult::Refused:
        case CustomerResult::NotSent:
            if (!a.fatal)
                outcome.notSent << address;
            log.writeNotSent(a.text);
            break;
        case CustomerResult::Unknown:
            outcome.unknown << address;
            log.writeUnknown(a.text);
            break;
        }
        lostInARow = a.lost ? lostInARow + 1 : 0;
        if (a.fatal || lostInARow == 2) {
            endParallel();
            log.writeEnded(address, outcome.sent, outcome.total, lostInARow == 2);
            log.close();
            throw SendFailure(a.text);
        }
        if (progress_)
            progress_(int(i) + 1, outcome.total);
        if (stopRequested_ && !parallel) {
            const bool served = a.result != CustomerResult::NotSent;
            if (served && i + 1 == customers.size())
                break; // nothing was left to stop
            stopRun(outcome, served ? customers[i + 1] : address, log);
            return outcome;
        }
    }
    endParallel();
    if (!firstUnserved.isEmpty()) {
        stopRun(outcome, firstUnserved, log);
        return outcome;
    }

    if (settings.copyToSelf && stopRequested_) {
        outcome.copyProblem = QStringLiteral("stopped by the user");
    } else if (settings.copyToSelf && !earlier.copySent) {
        showStatus(SendingText + settings.sender);
        const Attempt a = waitForTurn()
            ? attempt(smtp_, message_, settings.sender)
            : Attempt {CustomerResult::NotSent, QStringLiteral("stopped by the user"), false, false, {}};
        noteEncryption(log, a.tlsNote);
        if (a.fatal) {
            log.close();
            throw SendFailure(a.text);
        }
        if (a.result != CustomerResult::Accepted)
            outcome.copyProblem = a.text;
        else
            journal.recordCopy();
    }
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
    return outcome;
}

} // namespace og
