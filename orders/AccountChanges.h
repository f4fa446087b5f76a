#pragma once
// What a run changes in the accounts of its product: this run's accounts
// compared with the ledger of the runs before. A customer is new (not in
// the ledger), kept (the same password), changed (another password) or
// missing (in the ledger, not in this run). A missing customer loses access
// unless the vendor keeps the earlier accounts: then each is made again
// after this report's, unless the customer is now blocked or has a new
// address, or htpasswd would refuse the line.

#include "orders/AccountLedger.h"
#include "orders/CustomerLists.h"
#include "orders/Options.h"
#include "orders/PackedValues.h"
#include "orders/Prefault.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QIODevice;

namespace og {

// The account of each account line for a customer, in the batch file's
// order, as the batch file writes its values (trimmed). A customer with two
// orders has two, and htpasswd keeps the later password.
class RunAccounts {
public:
    // The text most values lie in (the report's), which outlives the run:
    // such a value is kept as its place in it, any other is copied.
    void setText(QByteArrayView text) { values_.setText(text); }
    // Room for this many accounts, and for copies of values of this many
    // bytes (capacity never written costs no memory).
    void reserve(qsizetype accounts, qsizetype copiedBytes = 0);
    void add(QByteArrayView user, QByteArrayView password);
    qsizetype size() const { return qsizetype(users_.size()); }
    QByteArrayView user(qsizetype i) const { return values_.at(users_[size_t(i)]); }
    QByteArrayView password(qsizetype i) const { return values_.at(passwords_[size_t(i)]); }
    // A merge in another order than the accounts' asks ahead for where
    // account i's user is, then for its bytes: each a miss of the cache.
    [[gnu::always_inline]] void prefetchPlace(qsizetype i) const { __builtin_prefetch(&users_[size_t(i)]); }
    [[gnu::always_inline]] void prefetchUser(qsizetype i) const { values_.prefetch(users_[size_t(i)]); }

private:
    PackedValues values_;
    std::vector<PackedValues::Value> users_, passwords_;
};

// Why a missing customer's account cannot be kept.
enum class KeepRefusal : uint8_t { None, Blocked, AddressChanged, NoPassword, Refused };

struct AccountChangeCounts {
    qint64 added = 0, kept = 0, removed = 0, changed = 0;
    qint64 carried = 0; // of the kept, those of earlier runs only
};

class AccountChanges {
public:
    AccountChanges() = default;
    // twoCores: a big run may compare on a second core too (nothing else
    // runs beside it).
    AccountChanges(const AccountLedger& ledger, const RunAccounts& run, const CustomerLists& lists, bool bcrypt,
        bool twoCores = false);

    // Missing customers whose accounts could be kept: what the vendor is
    // asked about.
    qsizetype keepable() const { return keepable_; }
    // Keeps (true) or lets go the keepable accounts; before any output.
    void keepMissing(bool keep) { keep_ = keep; }
    bool keepsMissing() const { return keep_; }
    // The ledger accounts the batch file makes again, in the ledger's order.
    std::vector<LedgerAccount> carried() const;

    // Whether the customer of run account i is new in this run.
    bool isNew(qsizetype i) const { return newUser_[size_t(i)]; }
    AccountChangeCounts counts() const;
    // "N new, K kept, R removed, C changed", and how many of the kept come
    // from earlier runs only.
    QString summary() const;
    // The summary, then up to perKind customers of each change.
    QStringList notes(qsizetype perKind) const;
    // The change report: a header, then every customer that is new, changed,
    // removed or kept from an earlier run, one a line. Written to device as
    // it is made; false on a write error.
    bool writeReport(QIODevice& device, const QString& product, const QString& runStamp) const;
    // The next ledger: this run's accounts, then the kept earlier ones.
    bool writeLedger(QIODevice& device, const QString& product, const QString& runStamp) const;

private:
    struct Missing {
        uint32_t ledger;
        KeepRefusal refusal;
    };
    // Each change named as its line of the report and the notes, handed to
    // put in three UTF-8 pieces (a first run of a big shop names a million
    // new customers: no line is built twice); the count of those past
    // perKind of their kind.
    // From this many run accounts on, a compare may use a second core.
    static constexpr size_t kAccountsForTwoCores = 100000;
    // The run's users order[from, to) (sorted by hash, then user) merged
    // with the ledger's byUser()[ledgerFrom, ledgerTo), which hold the same
    // hashes: last_, inLedger_ and newUser_ of those users and matched of
    // those ledger accounts.
    void mergeUsers(const AccountLedger::UserKeys& order, size_t from, size_t to, size_t ledgerFrom, size_t ledgerTo,
        std::vector<char>& matched);
    using ChangeLine = std::function<void(QByteArrayView what, QByteArrayView user, QByteArrayView why)>;
    qsizetype changeLines(qsizetype perKind, const ChangeLine& put) const;
    // The ledger account of distinct user u, or null.
    std::optional<LedgerAccount> inLedger(size_t u) const
    {
        if (inLedger_[u] == kNone)
            return std::nullopt;
        return ledger_->accounts()[inLedger_[u]];
    }

    static constexpr uint32_t kNone = UINT32_MAX;
    const AccountLedger* ledger_ = nullptr;
    const RunAccounts* run_ = nullptr;
    // Per distinct user, in the order of their first account: the last run
    // account, and the ledger's account or kNone.
    HugeVector<uint32_t> last_, inLedger_;
    std::vector<char> newUser_; // per run account
    // Per distinct user, whether the ledger had another password: compared
    // once, where the counts, the notes and the report each ask.
    std::vector<char> changed_;
    std::vector<Missing> missing_;
    qsizetype keepable_ = 0;
    bool keep_ = false;
};

} // namespace og
