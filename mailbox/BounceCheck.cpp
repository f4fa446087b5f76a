#include "mailbox/BounceCheck.h"

#include "mailbox/MailboxFailure.h"

#include "common/SuppressionList.h"

#include <QDir>

#include <optional>

namespace og {

namespace {

std::unique_ptr<ImapConnection> connect(const BounceCheckInput& input)
{
    ImapLogin login {input.user, input.password, {}};
    if (!input.tokens)
        return std::make_unique<ImapConnection>(input.server, login);
    login.bearer = input.tokens->accessToken();
    try {
        return std::make_unique<ImapConnection>(input.server, login);
    } catch (const MailboxLoginRefused&) {
        // An expired token is refused like a wrong one: a fresh one once.
        login.bearer = input.tokens->refusedToken(login.bearer);
        return std::make_unique<ImapConnection>(input.server, login);
    }
}

QString codes(const BouncedRecipient& b)
{
    return QStringList {b.replyCode, b.status}.join(u' ').trimmed();
}

// Turns one message's verdict into findings, and suppressions by the rules.
void take(
    const MailVerdict& verdict, const BounceCheckInput& input, ReadState& state, MailFinding base, BounceReport& report)
{
    base.day = verdict.date.isValid() ? verdict.date : input.today;
    const QString ours = verdict.originalMessageId.isEmpty() ? QString() : input.sent.value(verdict.originalMessageId);
    base.ours = !ours.isEmpty();
    if (verdict.kind == MailKind::Bounce) {
        // A recipient the bounce does not name is the one the journals
        // sent that message to, when they know it.
        QList<BouncedRecipient> bounced;
        for (BouncedRecipient b : verdict.bounced) {
            if (b.address.isEmpty())
                b.address = ours;
            if (!b.address.isEmpty())
                bounced.append(b);
        }
        if (bounced.isEmpty() && !ours.isEmpty())
            bounced.append({ours, false, false, {}, {}});
        if (bounced.isEmpty()) {
            MailFinding f = base;
            f.what = MailFinding::What::Ignored;
            f.address = verdict.address;
            f.detail = QStringLiteral("a %1 that names no recipient that can be read").arg(verdict.why);
            report.found.append(f);
        }
        for (const BouncedRecipient& b : std::as_const(bounced)) {
            MailFinding f = base;
            f.address = b.address;
            f.what = b.hard ? MailFinding::What::HardBounce : MailFinding::What::SoftBounce;
            f.detail = (b.delayed ? QStringLiteral("delayed ") : QString()) + codes(b);
            if (b.hard) {
                state.forget(b.address);
                f.suppress = true;
                report.suppress.append({Suppression::List::Bounced, b.address, f.day, codes(b)});
            } else if (state.softBounce(b.address, f.day, verdict.originalMessageId)) {
                f.suppress = true;
                report.suppress.append({Suppression::List::Bounced, b.address, f.day,
                    QStringLiteral("%1 soft bounces %2")
                        .arg(ReadState::SoftBouncesToSuppress)
                        .arg(codes(b))
                        .trimmed()});
            }
            f.detail = f.detail.trimmed();
            report.found.append(f);
        }
        return;
    }
    if (verdict.kind == MailKind::Other) {
        ++report.otherMail;
        return;
    }
    MailFinding f = base;
    f.address = verdict.address;
    f.detail = verdict.why;
    if (verdict.kind == MailKind::AutoReply) {
        f.what = MailFinding::What::Ignored;
    } else {
        f.what = MailFinding::What::Unsubscribe;
        f.suppress = true;
        state.forget(verdict.address);
        report.suppress.append(
            {Suppression::List::Unsubscribed, verdict.address, f.day, QStringLiteral("unsubscribe request")});
    }
    report.found.append(f);
}

} // namespace

BounceReport checkMailbox(const BounceCheckInput& input, ReadState& state)
{
    const int port = input.server.port > 0 ? input.server.port : defaultImapPort(input.server.security);
    const QString account = input.user + u'@' + input.server.host + u':' + QString::number(port);
    const std::unique_ptr<ImapConnection> imap = connect(input);
    BounceReport report;
    for (const QString& name : input.folders) {
        const ImapConnection::Folder folder = imap->examine(name);
        const QSet<quint32> seen = state.readUids(account, name, folder.uidValidity);
        for (const quint32 uid : imap->searchSince(input.since)) {
            if (seen.contains(uid))
                continue;
            const QByteArray raw = imap->fetch(uid, MaxMessageBytes);
            if (!raw.isEmpty()) {
                MailFinding base {MailFinding::What::Ignored, {}, {}, name, uid, {}, false, false};
                take(judgeMail(raw, input.context), input, state, base, report);
            }
            state.markRead(account, name, folder.uidValidity, uid);
        }
    }
    imap->logout();
    return report;
}

bool addToLists(const QString& listsFolder, const QList<Suppression>& suppress, QString* why, int* added)
{
    const struct {
        Suppression::List list;
        const char* file;
    } lists[] = {
        {Suppression::List::Bounced, bouncedFileName}, {Suppression::List::Unsubscribed, unsubscribedFileName}};
    for (const auto& l : lists) {
        QList<SuppressionList::Entry> entries;
        for (const Suppression& s : suppress) {
            if (s.list == l.list)
                entries.append({s.address, s.day, s.reason});
        }
        qsizetype count = 0;
        if (!entries.isEmpty() &&
            !SuppressionList::append(QDir(listsFolder).filePath(QLatin1String(l.file)), entries, why, nullptr, &count))
            return false;
        if (added)
            added[l.list == Suppression::List::Bounced ? 0 : 1] = int(count);
    }
    return true;
}

QString findingWords(const MailFinding& f)
{
    switch (f.what) {
    case MailFinding::What::HardBounce:
        return QStringLiteral("bounced (hard%1)").arg(f.detail.isEmpty() ? QString() : QStringLiteral(", ") + f.detail);
    case MailFinding::What::SoftBounce:
        return QStringLiteral("bounced (soft%1)").arg(f.detail.isEmpty() ? QString() : QStringLiteral(", ") + f.detail);
    case MailFinding::What::Unsubscribe:
        return QStringLiteral("unsubscribe request");
    case MailFinding::What::Ignored:
        return QStringLiteral("ignored: ") + f.detail;
    }
    return {};
}

} // namespace og
