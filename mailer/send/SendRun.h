#pragma once

#include "common/AddressFile.h"
#include "mailer/CustomerResult.h"
#include "mailer/MailerInput.h"
#include "mailer/MailerSettings.h"
#include "mailer/MessageBody.h"
#include "mailer/SendFailure.h"
#include "smtp/SmtpReply.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace og {

class ConnectionFactory;
class MessageBuilder;
class RunLog;
class SendJournal;
struct AddressRecord;
struct ProviderProfile;
struct DayAllowance;
class TTlsContext;
class TWireMessage;
class TWireSMTP;

// How a run ended when it did not fail.
struct SendOutcome {
    int sent = 0;         // customers whose message was accepted, in this run
    int total = 0;        // customers in the address file
    bool stopped = false; // the vendor pressed Stop
    QString nextAddress;  // when stopped: the first customer not tried (empty: none was left)
    QStringList refused;  // refused for good by the server
    QStringList deferred; // refused for now after the last try: a resumed run tries them again
    QStringList notSent;  // nothing of their message went
    QStringList unknown;  // the connection broke after their data had gone
    // Left out as the suppression lists say: "address (bounced 2026-12-11
    // 550 5.1.1)"; neither sent nor refused, and not in total.
    QStringList suppressed;
    QString copyProblem;     // why the copy to the sender did not go, if it did not
    QDateTime deferredUntil; // the day's allowance deferred some customers until then
    bool resumed = false;    // went on from an earlier run that did not finish
    int alreadySent = 0;     // when resumed: customers accepted by earlier runs

    bool allSent() const
    {
        return refused.isEmpty() && deferred.isEmpty() && notSent.isEmpty() && unknown.isEmpty() &&
            copyProblem.isEmpty();
    }
    // Customers with an outcome of their own, as the progress counts them.
    int done() const { return sent + int(refused.size() + deferred.size() + notSent.size() + unknown.size()); }
    // The list of the customers with that outcome (none for Accepted).
    QStringList* listOf(CustomerResult result);
    // "Message sent to N customers", then for each other outcome that some
    // had, how many and their addresses ("K refused: a, b").
    QStringList summary() const;
};

// A refusal that ends the run, with what to check after the server's line.
QString withRefusalHint(const QString& reply, TReplyVerdict verdict, const QString& sender);

// What the journal of an earlier run of the same message to the same
// address file says (see SendJournal.h).
struct ResumeState {
    QString journal;         // the journal's path
    QString journalProblem;  // why no journal could be read there; empty when one could
    bool unfinished = false; // an earlier run did not finish and sent some: resume it?
    bool finished = false;   // an earlier run went to its end: nothing is left
    int alreadySent = 0;     // customers of the address file accepted before
    int remaining = 0;       // customers a resumed run would send to
    int deferred = 0;        // of those: deferred by the server in that run
    QStringList unknown;     // not known whether sent (and "your copy"): not sent again on resume

    // "Resume: N already sent, send to the remaining K?" and the unknown ones.
    QString question() const;
    // How the unknown ones name the sender's copy.
    static const QString YourCopy;
};

// The vendor's answer to that question.
enum class ResumeAnswer { Resume, StartOver, Cancel };

// How a run begins, after what an earlier run of its message left.
enum class RunStart {
    Afresh,      // every customer of the address file
    Resumed,     // only those an earlier run has not done
    Cancelled,   // the vendor would not decide: send nothing
    NothingLeft, // resume was asked for, but that run went to its end
    NoJournal,   // resume was asked for, but no journal of the run could be read
};

// One notification run over the transport. The window and the command line
// both drive it: first prepare() and decideStart() (on the caller's thread),
// then send() with the body as entered; the run appends the signature itself
// and makes every connection from the settings (mailer/Connections.h) and
// every customer's message from their record (mailer/MessageBuilder.h).
// send() may run on a worker thread; requestStop() may be called from any.
class SendRun {
public:
    using StatusHandler = std::function<void(const QString& text)>;
    using ProgressHandler = std::function<void(int done, int total)>;

    SendRun();
    ~SendRun();

    void setStatusHandler(StatusHandler handler) { status_ = std::move(handler); }
    void setProgressHandler(ProgressHandler handler) { progress_ = std::move(handler); }
    // Each customer not sent, as it happens: their address, the outcome,
    // the server's line (or the error); again: they will be tried again
    // later in this run.
    using CustomerHandler =
        std::function<void(const QString& address, CustomerResult result, const QString& text, bool again)>;
    void setCustomerHandler(CustomerHandler handler) { customer_ = std::move(handler); }

    // Records the address file as the last one used and reads the signature.
    // Returns the signature's lines (none without a signature), which send()
    // appends to the body.
    QStringList prepare(const MailerInput& input);

    // After prepare(): what an earlier run of this message to this address
    // file left. Throws SendFailure when the address file cannot be read.
    ResumeState resumeState(const MailerInput& input) const;
    // Whether send() goes on from that run (skipping every customer already
    // done and the copy when it went) or starts over. Starting over is the
    // default.
    void setResume(bool resume) { resume_ = resume; }
    // After prepare(): decides how the run begins and sets it to resume
    // when that is the answer. `ask` is asked only when an earlier run of
    // this message to this address file did not finish, and not when
    // `standing` has answered beforehand (the command line's --resume or
    // --start-over). *earlier, when given, is what the decision rests on.
    using ResumeQuestion = std::function<ResumeAnswer(const ResumeState& earlier)>;
    RunStart decideStart(const MailerInput& input, std::optional<ResumeAnswer> standing, const ResumeQuestion& ask,
        ResumeState* earlier = nullptr);

    // The TLS sessions to resume, from an earlier run (the window keeps them
    // from one run to the next); after send(), this run's.
    void setTlsSessions(std::shared_ptr<TTlsContext> sessions) { tlsSessions_ = std::move(sessions); }
    std::shared_ptr<TTlsContext> tlsSessions() const { return tlsSessions_; }

    // The length of the minute that rates count in (tests shorten it).
    void setMinute(std::chrono::milliseconds minute) { minute_ = minute; }
    // How often the server may ask to slow down before the run ends,
    // resumable; the longest pause it gets.
    static constexpr int MaxThrottleRounds = 5;
    static constexpr std::chrono::minutes MaxThrottlePause {10};

    // Instead of sending, writes each message (and the copy) into folder as
    // a .eml file, exactly as it would go out; no log, journal or settings.
    void setDryRun(const QString& folder) { dryRunFolder_ = folder; }

    // The first customer's message as it would be sent: its headers, its
    // text, and its attachments by name and size. Reads the signature; saves
    // and sends nothing. Throws SendFailure. index picks the customer
    // (clamped to the file's), filled with their values; *addresses, when
    // given, gets every customer's address in the file's order, to step
    // through or look one up; *html the message's HTML part (empty for plain
    // text).
    QString preview(const MailerInput& input, int index = 0, QStringList* addresses = nullptr, QString* html = nullptr);

    // Before send(), when the texts have fields: what stops a run. Problems
    // (an unknown name, a value some lines lack) forbid it; the customers
    // whose own attachment file is missing may be left out (skipCustomers).
    struct FieldCheck {
        QStringList problems;
        QStringList missing;          // "line N, address: path", one a customer
        QStringList missingAddresses; // their addresses
        // Customers whose field would pick a file outside the attachment's
        // folder: never sent, the others go on. "line N, address: why".
        QStringList refused;
        QStringList refusedAddresses;
        // What goes out other than typed: "line N, address: the subject ... is cut".
        QStringList notes;
        // Why send() will not start when the customers in skipped are left
        // out; empty when it will.
        QString refusal(const QStringList& skipped) const;
    };
    // Throws SendFailure when the address file or the signature cannot be read.
    FieldCheck checkFields(const MailerInput& input);
    // send() leaves these customers out, as not sent; without it a missing
    // attachment file ends send() before anything goes.
    void skipCustomers(const QStringList& addresses) { skipped_ = addresses; }

    // Writes message.txt, the journal and the log, and sends each customer
    // the message built from their record (over settings.connections
    // connections, at most settings.ratePerMinute a minute), then the copy to
    // the sender. A customer refused for now (or whose connection broke
    // before the data) is tried again at the end, up to settings.retries
    // times after growing pauses; one refused for good is counted and
    // skipped; a failure that would fail every later customer (the sender,
    // this client, the login, the sending limit) ends the run with
    // SendFailure, resumable.
    SendOutcome send(const MailerInput& input);

    // Ends the run at once: the connection under way is closed (its customer
    // is "not sent", or "unknown" when the data had gone). Any thread.
    void requestStop();

    // The log the run writes, opened by this bare name in the working folder.
    static constexpr const char* LogFileName = "log.txt";

private:
    friend class SendLoop;
    void showStatus(const QString& text);
    struct Attempt {
        CustomerResult result = CustomerResult::Accepted;
        QString text;              // the server's reply or the error
        bool fatal = false;        // would fail every later customer too: end the run
        bool lost = false;         // the connection broke
        QString securityNote;      // how the connection was encrypted, or that it was not
        bool signInAgain = false;  // fatal: only a new sign-in helps (SignInAgain)
        bool stopped = false;      // Stop ended it
        bool tlsFromStart = false; // fatal: the port expects TLS from the first byte
        bool throttled = false;    // the server asks to slow down: deferred, to go again
        bool unreachable = false;  // fatal: no connection to the server could be had
    };
    // dataEnd runs as the final "." is about to go (to journal it).
    Attempt attempt(
        TWireSMTP& smtp, TWireMessage& message, const QString& address, const std::function<void()>& dataEnd);
    void failed(const TWireSMTP& smtp, const std::exception& error, Attempt& a);
    // Ends the run with the failure of `a` (SignInAgain when it says so).
    [[noreturn]] static void endRun(const Attempt& a);
    void noteEncryption(RunLog& log, const QString& note);
    // Waits for this message's turn under the rate limit (and a pause the
    // server asked for); false when Stop came first. *waited: how long.
    bool waitForTurn(std::chrono::milliseconds* waited = nullptr);
    void noteAccepted();
    // The server asked to slow down: halves the rate and the connections
    // and pauses every connection, a little longer each time; returns what
    // to log (empty: a pause already under way covers it), or nothing once
    // MaxThrottleRounds are spent.
    std::optional<QString> slowDown(const QString& reply);
    // The failure that ends a run the server kept slowing down.
    QString throttledEnd(const QString& reply) const;
    int connectionsAllowed() const { return connectionsAllowed_; }
    // A client of the run's factory that Stop reaches, until dropConnection.
    std::unique_ptr<TWireSMTP> newConnection();
    void dropConnection(const TWireSMTP& smtp);
    // Says goodbye on the connection a round left open, if any.
    void closeOpen();
    void stopRun(SendOutcome& outcome, const QString& nextAddress, RunLog& log);
    // Waits before the next round of retries; false when Stop came first.
    bool pause(std::chrono::milliseconds length);
    // The customers of one round, over as many connections as they need.
    QList<AddressRecord> sendRound(const MessageBuilder& messages, const QList<AddressRecord>& customers,
        SendJournal& journal, RunLog& log, SendOutcome& outcome, bool lastRound);
    // The copy to the sender, after every customer.
    void sendCopy(
        const QString& sender, const MessageBuilder& messages, SendJournal& journal, RunLog& log, SendOutcome& outcome);
    QString journalPath(const MailerInput& input) const;
    // send()'s steps: the log's head (or the dry run's note) and what the
    // checks left out; the rate, the connections and the sender; the rounds
    // of sending and retrying, false when the run stopped; the copy, the
    // summary and the settings.
    void openLog(RunLog& log, const MailerInput& input, const MessageBuilder& messages, const SendOutcome& outcome,
        const QStringList& unknownBefore, const FieldCheck& check, bool dryRun);
    void setPace(
        const MailerInput& input, const ProviderProfile& profile, const DayAllowance& day, int customers, RunLog& log);
    // The customers past the day's allowance of the profile: deferred until
    // a day from now, in the journal, the log and the outcome.
    void deferPastAllowance(QList<AddressRecord>& customers, const ProviderProfile& profile, const DayAllowance& day,
        SendJournal& journal, RunLog& log, SendOutcome& outcome);
    bool sendRounds(const MessageBuilder& messages, QList<AddressRecord> pending, SendJournal& journal, RunLog& log,
        SendOutcome& outcome, const MailerSettings& settings, bool dryRun);
    void finishRun(const MailerInput& input, const MessageBuilder& messages, SendJournal& journal, RunLog& log,
        SendOutcome& outcome, bool copyDone, bool dryRun);
    void writeDryRunFile(TWireSMTP& smtp, TWireMessage& message, const QString& address);
    // The file's customers, the builder's fields bound to its columns; fills
    // check when given.
    static QList<AddressRecord> boundCustomers(
        const MailerInput& input, MessageBuilder& messages, FieldCheck* check = nullptr);

    StatusHandler status_;
    std::mutex statusMutex_; // parallel connections report too
    ProgressHandler progress_;
    CustomerHandler customer_;
    int connectionsWanted_ = 1;
    int perConnection_ = 1;
    QString sender_;
    std::atomic<bool> stopRequested_ {false};
    std::unique_ptr<ConnectionFactory> factory_; // made by send()
    std::shared_ptr<TTlsContext> tlsSessions_;
    // The clients of the connections under way, so Stop reaches them.
    std::mutex connectionsMutex_;
    std::vector<TWireSMTP*> connections_;
    std::unique_ptr<TWireSMTP> open_; // left open by the last round, for the copy
    // The rate limit: when the next message may start.
    std::mutex turnMutex_;
    std::condition_variable stopSignal_;
    std::chrono::steady_clock::time_point nextTurn_;
    std::chrono::milliseconds turnInterval_ {0};
    std::chrono::milliseconds minute_ {60000};
    std::deque<std::chrono::steady_clock::time_point> accepted_; // the messages of the last minute
    int throttleRounds_ = 0;
    std::chrono::steady_clock::time_point pauseUntil_; // the last pause the server asked for
    int retryDelaySeconds_ = 0;
    std::atomic<int> connectionsAllowed_ {1}; // halved each time the server asks to slow down
    QStringList signature_;
    bool encryptionNoted_ = false;
    bool resume_ = false;
    QString dryRunFolder_;
    int dryRunCount_ = 0;
    QStringList skipped_;
};

} // namespace og
