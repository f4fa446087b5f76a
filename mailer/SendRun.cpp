#include "mailer/SendRun.h"

#include "common/ProfileFile.h"
#include "common/ReplacingFile.h"
#include "common/TextFiles.h"
#include "common/Trim.h"
#include "mail/WireMessage.h"
#include "mailer/AttachmentType.h"
#include "mailer/RunLog.h"
#include "net/SMTPWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

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

QString customerAddress(const QString& line)
{
    QString address = trimmed(line);
    if (!address.contains(u'@'))
        return {};
    const qsizetype blank = address.indexOf(u' ');
    if (blank >= 0)
        address.truncate(blank);
    return address;
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

void SendRun::noteEncryption()
{
    // Once a run, from its first connection: how it is encrypted and whether
    // the certificate was checked ("NOT checked" must never go unsaid).
    const QString note = QString::fromStdString(smtp_.TlsNote());
    if (encryptionNoted_ || note.isEmpty())
        return;
    encryptionNoted_ = true;
    showStatus(note);
    if (log_)
        log_->writeLine(QStringLiteral("*** ") + note);
}

void SendRun::sendTo(const QString& address)
{
    message_.Too.clear();
    message_.Too.push_back(utf8(address));
    try {
        smtp_.Send(message_);
    } catch (const std::exception& error) {
        const SendFailure failure(QString::fromUtf8(error.what()));
        try {
            noteEncryption(); // the connection may have been encrypted before it failed
        } catch (const SendFailure&) {
            // The send's own failure is the one to report.
        }
        throw failure;
    }
    noteEncryption();
}

SendOutcome SendRun::send(const MailerInput& input)
{
    SendOutcome outcome;
    const MailerSettings& settings = input.settings;
    MessageBody body = input.body;
    body.append(signature_);

    const ServerAddress server = parseServerAddress(settings.server, settings.security);
    if (!server.problem.isEmpty())
        throw SendFailure(server.problem);
    smtp_.Host = utf8(server.host);
    smtp_.Port = server.port;
    configureConnection(smtp_, settings, input.password);
    encryptionNoted_ = false;

    message_.Attachments.Clear();
    message_.CCList.clear();
    message_.BCCList.clear();
    message_.SetFrom(utf8(settings.sender));
    message_.SetOrganization(utf8(settings.organisation));
    message_.SetSubject(utf8(input.subject));
    message_.Text = byteLines(body.lines());

    if (!input.attachments.isEmpty()) {
        for (const QString& path : input.attachments)
            message_.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
    } else {
        const QString path = input.programFolder + QLatin1String(MessageFileName);
        QString text = body.typedText();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        // Sent only once it is on disk whole: a full disk must not send an
        // empty or cut attachment.
        const QByteArray bytes = text.toUtf8();
        ReplacingFile file(path);
        if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit())
            throw SendFailure(writeFailureText(path, file.errorString()));
        message_.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
    }

    // Count the customers first so the progress can say "of how many".
    const QStringList lines = readTextFileLines(settings.addressFile);
    QStringList customers;
    for (const QString& line : lines) {
        const QString address = customerAddress(line);
        if (!address.isEmpty())
            customers << address;
    }
    outcome.total = int(customers.size());

    RunLog log;
    log_ = &log;
    const auto forgetLog = qScopeGuard([this] { log_ = nullptr; });
    if (settings.wantLog) {
        log.open(QLatin1String(LogFileName));
        log.writeHeader(settings.addressFile, input.subject, body.lines());
    }
    if (progress_)
        progress_(0, outcome.total);

    for (const QString& address : customers) {
        if (stopRequested_) {
            outcome.stopped = true;
            outcome.nextAddress = address;
            log.writeStopped(address, outcome.sent, outcome.total);
            log.close();
            showStatus(QStringLiteral("Stopped before %1: %2 of %3 customers sent")
                           .arg(address)
                           .arg(outcome.sent)
                           .arg(outcome.total));
            return outcome;
        }
        log.writeLine(address);
        try {
            sendTo(address);
        } catch (const SendFailure& failure) {
            log.writeNotSent(failure.message());
            log.close();
            throw;
        }
        showStatus(SendingText + address);
        ++outcome.sent;
        if (progress_)
            progress_(outcome.sent, outcome.total);
    }

    if (settings.copyToSelf) {
        try {
            sendTo(settings.sender);
        } catch (const SendFailure&) {
            log.close();
            throw;
        }
        showStatus(SendingText + settings.sender);
    }
    log.close();
    showStatus(QStringLiteral("Message sent to %1 customers").arg(outcome.sent));
    if (input.settingsChanged) {
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
