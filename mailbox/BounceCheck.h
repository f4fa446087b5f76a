#pragma once
// One read of the vendor's mailbox for what came back from the
// notifications: each folder's messages since a day that were not read
// before, judged (ReturnedMail.h), and the rules that put an address on a
// suppression list: a hard bounce and an unsubscribe at once, soft bounces
// once there were three on different days. Nothing in the mailbox changes;
// nothing outside it changes either until every folder was read, so a
// mailbox that cannot be read leaves the lists and the state as they were.

#include "mailbox/ImapConnection.h"
#include "mailbox/MailboxSettings.h"
#include "mailbox/ReadState.h"
#include "mailbox/ReturnedMail.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace og {

// Where a login by token gets its access token (a browser sign-in's refresh
// token, a token command): given by the caller. Both throw MailboxFailure
// (or a failure of the caller's own) when no token can be had.
class MailboxTokens {
public:
    virtual ~MailboxTokens() = default;
    virtual QString accessToken() = 0;
    // The server refused this one: a fresh one.
    virtual QString refusedToken(const QString& refused) = 0;
};

struct BounceCheckInput {
    MailboxServer server;
    QString user;
    QString password;                      // a login with a password
    std::shared_ptr<MailboxTokens> tokens; // a login by token
    QStringList folders;
    QDate since;
    MailContext context;
    // The messages of earlier runs (the send journals): Message-ID, without
    // <>, to the customer it went to; a bounce that names no readable
    // recipient is then still placed.
    QHash<QString, QString> sent;
    QDate today; // the day of a bounce that carries no date
};

// One message found, for the summary.
struct MailFinding {
    enum class What { HardBounce, SoftBounce, Unsubscribe, Ignored };
    What what;
    QString address;
    QString detail; // "550 5.1.1", "delayed 4.4.7", "Auto-Submitted: auto-replied", ...
    QString folder;
    quint32 uid = 0;
    QDate day;
    bool suppress = false; // this finding puts the address on its list now
    bool ours = false;     // its Message-ID is one of the caller's runs'
};

// An address to add to a list, with the day and the reason its line gets.
struct Suppression {
    enum class List { Bounced, Unsubscribed };
    List list;
    QString address;
    QDate day;
    QString reason; // "550 5.1.1", "3 soft bounces (4.2.2)", "unsubscribe request"
};

struct BounceReport {
    QList<MailFinding> found; // in the order read
    int otherMail = 0;        // ordinary mail, left alone
    QList<Suppression> suppress;
};

// Reads and judges (see above). state: the read UIDs and soft bounces,
// updated in memory; the caller saves it once the lists are written.
// Throws MailboxFailure (MailboxLoginRefused for a refused login).
BounceReport checkMailbox(const BounceCheckInput& input, ReadState& state);

// Adds the suppressions to bounced.txt and unsubscribed.txt in the lists
// folder (common/SuppressionList.h), each address once: one listed already
// keeps its line. False with the reason when a list could not be read or
// written. *added, when given: how many lines each list got, bounced first.
bool addToLists(const QString& listsFolder, const QList<Suppression>& suppress, QString* why, int* added = nullptr);

// How a finding reads in a summary: "bounced (hard, 550 5.1.1)" and the like.
QString findingWords(const MailFinding& finding);

// The most of a message read: enough for any report and the headers of the
// message that came back; a large attachment returned with it is cut.
inline constexpr qsizetype MaxMessageBytes = 512 * 1024;

} // namespace og
