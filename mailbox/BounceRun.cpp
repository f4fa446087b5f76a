#include "mailbox/BounceRun.h"

#include "common/SuppressionList.h"
#include "mailbox/DeliveryStatus.h"
#include "mailbox/MailboxFailure.h"
#include "mailbox/ReadState.h"

#include <QUrl>

namespace og {

namespace {

const QString NothingChanged = QStringLiteral("\nNothing was changed.");

QString addressIn(const QString& mailbox)
{
    const qsizetype open = mailbox.lastIndexOf(u'<');
    return plainAddress(open < 0 ? mailbox : mailbox.mid(open).section(u'>', 0, 0) + u'>');
}

const char* listFile(const MailFinding& f)
{
    return f.what == MailFinding::What::Unsubscribe ? unsubscribedFileName : bouncedFileName;
}

} // namespace

QStringList BounceRunResult::summary() const
{
    QStringList lines;
    int bounces = 0, unsubscribes = 0, ignored = 0;
    for (const MailFinding& f : report.found) {
        QString line = f.address.isEmpty() ? QStringLiteral("(no address)") : f.address;
        line += QStringLiteral(": ") + findingWords(f);
        if (f.suppress)
            line += QStringLiteral(", added to ") + QLatin1String(listFile(f));
        lines << line;
        bounces += f.what == MailFinding::What::HardBounce || f.what == MailFinding::What::SoftBounce;
        unsubscribes += f.what == MailFinding::What::Unsubscribe;
        ignored += f.what == MailFinding::What::Ignored;
    }
    const auto counted = [](qsizetype n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    lines << QStringLiteral(
        "Read %1: %2, %3, %4 ignored, %5 left alone; added %6 to bounced.txt, %7 to unsubscribed.txt")
                 .arg(folders.join(QStringLiteral(", ")), counted(bounces, "new bounce", "new bounces"),
                     counted(unsubscribes, "unsubscribe request", "unsubscribe requests"))
                 .arg(ignored)
                 .arg(counted(report.otherMail, "other message", "other messages"))
                 .arg(added[0])
                 .arg(added[1]);
    return lines;
}

MailContext mailContext(const QString& unsubscribeLinks, const QStringList& ownMailboxes)
{
    MailContext context;
    for (const QString& entry : unsubscribeLinks.split(u' ', Qt::SkipEmptyParts)) {
        if (!entry.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
            continue;
        const QString address = plainAddress(QUrl::fromPercentEncoding(entry.mid(7).section(u'?', 0, 0).toUtf8()));
        if (!address.isEmpty() && !address.contains(QLatin1String("{{")))
            context.unsubscribeAddresses << address;
    }
    for (const QString& own : ownMailboxes) {
        if (const QString address = addressIn(own); !address.isEmpty())
            context.ownAddresses << address;
    }
    return context;
}

BounceRunResult runBounceCheck(const BounceCheckInput& input, const QString& programFolder, const QString& listsFolder)
{
    const QString statePath = ReadState::pathIn(programFolder);
    ReadState state;
    QString why;
    if (!state.load(statePath, &why))
        throw MailboxFailure(why + NothingChanged);
    BounceRunResult result;
    result.folders = input.folders;
    try {
        result.report = checkMailbox(input, state);
    } catch (const MailboxLoginRefused& refused) {
        throw MailboxLoginRefused(refused.message() + NothingChanged);
    } catch (const MailboxFailure& failure) {
        throw MailboxFailure(failure.message() + NothingChanged);
    }
    if (!addToLists(listsFolder, result.report.suppress, &why, result.added))
        throw MailboxFailure(why);
    if (!state.save(statePath, &why))
        throw MailboxFailure(why +
            QStringLiteral(" (the lists were updated; a second read finds the same messages again and adds "
                           "nothing twice)"));
    return result;
}

} // namespace og
