// The send run's side of resuming: which journal belongs to a run, and what
// an earlier run left.
#include "common/AddressFile.h"
#include "common/SuppressionList.h"
#include "mailer/send/SendJournal.h"
#include "mailer/send/SendRun.h"

#include <QDir>

namespace og {

const QString ResumeState::YourCopy = QStringLiteral("your copy");

QString ResumeState::question() const
{
    QString text = QStringLiteral("Resume: %1 already sent, send to the remaining %2%3?")
                       .arg(alreadySent)
                       .arg(remaining)
                       .arg(deferred > 0 ? QStringLiteral(" (%1 of them deferred)").arg(deferred) : QString());
    if (!unknown.isEmpty())
        text += QStringLiteral("\rNot known whether sent (the connection broke after the message had gone; not "
                               "sent again): ") +
            unknown.join(QStringLiteral(", "));
    return text;
}

QString SendRun::journalPath(const MailerInput& input) const
{
    // The same message is the one typed: a body that already ends with the
    // signature (the window's, after a Send Now) names the same journal as
    // one without it, since the run appends the signature either way.
    QStringList body = input.body.lines();
    if (!signature_.isEmpty() && body.size() >= signature_.size() &&
        body.mid(body.size() - signature_.size()) == signature_)
        body.resize(body.size() - signature_.size());
    return SendJournal::pathFor(
        QDir::currentPath(), input.settings.addressFile, input.subject, body, input.attachments);
}

ResumeState SendRun::resumeState(const MailerInput& input) const
{
    ResumeState state;
    state.journal = journalPath(input);
    const SendJournal::State earlier = SendJournal::read(state.journal);
    state.journalProblem = earlier.problem;
    if (!earlier.readable)
        return state;
    // The customers the lists leave out are no run's to finish (a list that
    // cannot be read fails the run itself).
    SuppressedAddresses lists;
    if (QString unread; !input.includeSuppressed && !input.listsFolder.isEmpty())
        lists.read(input.listsFolder, &unread);
    bool everyOutcome = true;
    for (const AddressRecord& record : addressRecords(readTextFileLines(input.settings.addressFile))) {
        const QString& address = record.address;
        if (!earlier.results.contains(address) && !lists.why(address).isEmpty())
            continue;
        const CustomerResult result = earlier.results.value(address, CustomerResult::NotSent);
        everyOutcome = everyOutcome && earlier.results.contains(address);
        if (!earlier.done(address))
            ++state.remaining;
        if (result == CustomerResult::Deferred)
            ++state.deferred;
        else if (result == CustomerResult::Accepted)
            ++state.alreadySent;
        else if (result == CustomerResult::Unknown)
            state.unknown << address;
    }
    if (earlier.copy == CustomerResult::Unknown)
        state.unknown << ResumeState::YourCopy;
    // A "finished" line that leaves customers without an outcome is not the
    // end of this address file as it stands (customers added since, or a
    // damaged journal).
    // Customers deferred at its end are still to be sent.
    state.finished = earlier.finished && everyOutcome && state.deferred == 0;
    state.unfinished = !state.finished && (state.alreadySent > 0 || !state.unknown.isEmpty() || state.deferred > 0);
    return state;
}

RunStart SendRun::decideStart(
    const MailerInput& input, std::optional<ResumeAnswer> standing, const ResumeQuestion& ask, ResumeState* earlier)
{
    const ResumeState state = resumeState(input);
    if (earlier)
        *earlier = state;
    resume_ = false;
    if (standing == ResumeAnswer::Resume && !state.journalProblem.isEmpty())
        return RunStart::NoJournal;
    if (state.finished)
        return standing == ResumeAnswer::Resume ? RunStart::NothingLeft : RunStart::Afresh;
    // Where nothing went out, going on is starting over; asked to resume,
    // the run still says so.
    if (!state.unfinished && standing != ResumeAnswer::Resume)
        return RunStart::Afresh;
    switch (standing ? *standing : ask(state)) {
    case ResumeAnswer::Resume:
        resume_ = true;
        return RunStart::Resumed;
    case ResumeAnswer::StartOver:
        return RunStart::Afresh;
    case ResumeAnswer::Cancel:
        break;
    }
    return RunStart::Cancelled;
}

} // namespace og
