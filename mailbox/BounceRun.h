#pragma once
// One whole check of the mailbox as the command line and the mailer window
// run it: read and judge (BounceCheck.h), add to the lists, remember what
// was read, and the summary both show.

#include "mailbox/BounceCheck.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace og {

struct BounceRunResult {
    BounceReport report;
    QStringList folders;
    int added[2] = {0, 0}; // lines added to bounced.txt, unsubscribed.txt
    // A line per finding ("gone@example.com: bounced (hard, 550 5.1.1),
    // added to bounced.txt"), then the counts.
    QStringList summary() const;
};

// What judging needs of the vendor's mailer settings: the mailto:
// addresses of the unsubscribe links (space-separated, as the settings
// keep them; one with fields is left out, since it differs per customer)
// and the vendor's own mailboxes ("Shop <sales@shop.example>").
MailContext mailContext(const QString& unsubscribeLinks, const QStringList& ownMailboxes);

// Reads as input says, then adds to bounced.txt and unsubscribed.txt in
// listsFolder and saves what was read (ReadState) in programFolder.
// Throws MailboxFailure when the mailbox or the state cannot be read
// (nothing changed then) and when a list or the state cannot be written
// (its message says what was changed).
BounceRunResult runBounceCheck(const BounceCheckInput& input, const QString& programFolder, const QString& listsFolder);

// Tokens from the caller's functions (its sign-in or token command).
class FunctionTokens : public MailboxTokens {
public:
    FunctionTokens(std::function<QString()> access, std::function<QString(const QString&)> refused)
        : access_(std::move(access)),
          refused_(std::move(refused))
    {
    }
    QString accessToken() override { return access_(); }
    QString refusedToken(const QString& refused) override { return refused_(refused); }

private:
    std::function<QString()> access_;
    std::function<QString(const QString&)> refused_;
};

} // namespace og
