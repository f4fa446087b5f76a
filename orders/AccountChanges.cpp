#include "orders/AccountChanges.h"

#include "orders/BatchFile.h"
#include "orders/FoldedIndex.h"
#include "orders/LineBlock.h"
#include "orders/Prefault.h"
#include "orders/ProductFiles.h"
#include "orders/ReportFields.h"
#include "orders/SideWork.h"

#include <QIODevice>
#include <algorithm>

namespace og {

void RunAccounts::reserve(qsizetype accounts, qsizetype copiedBytes)
{
    values_.reserve(copiedBytes);
    users_.reserve(size_t(accounts));
    passwords_.reserve(size_t(accounts));
    prefaultForWrite(users_.data(), users_.capacity() * sizeof(uint64_t));
    prefaultForWrite(passwords_.data(), passwords_.capacity() * sizeof(uint64_t));
}

void RunAccounts::add(QByteArrayView user, QByteArrayView password)
{
    users_.push_back(values_.add(bytes::trimmed(user)));
    passwords_.push_back(values_.add(bytes::trimmed(password)));
}

namespace {

KeepRefusal refusalOf(const LedgerAccount& account, const CustomerLists& lists, bool bcrypt)
{
    FoldedKey key;
    key.set(account.user);
    if (lists.mayHold(key) && lists.isBlocked(key))
        return KeepRefusal::Blocked;
    if (lists.mayHold(key) && lists.updateIndex(key) >= 0)
        return KeepRefusal::AddressChanged;
    if (account.password.isEmpty())
        return KeepRefusal::NoPassword;
    if (accountValueFault(account.user, account.password) != AccountValueFault::None ||
        (bcrypt && account.user.size() > kMaxBcryptUserBytes))
        return KeepRefusal::Refused;
    return KeepRefusal::None;
}

QString refusalText(KeepRefusal refusal)
{
    switch (refusal) {
    case KeepRefusal::None:
        break;
    case KeepRefusal::Blocked:
        return QStringLiteral("blocked in ") + CustomerLists::blockedFileName();
    case KeepRefusal::AddressChanged:
        return QStringLiteral("a new address in ") + CustomerLists::changedFileName();
    case KeepRefusal::NoPassword:
        return QStringLiteral("no password known");
    case KeepRefusal::Refused:
        return QStringLiteral("a value htpasswd refuses");
    }
    return QStringLiteral("not in this report");
}

} // namespace

AccountChanges::AccountChanges(
    const AccountLedger& ledger, const RunAccounts& run, const CustomerLists& lists, bool bcrypt, bool twoCores)
    : ledger_(&ledger),
      run_(&run)
{
    // A sorted merge of this run's users with the ledger's: a few bytes an
    // account where hash tables would take tens.
    const size_t n = size_t(run.size());
    const auto& byUser = ledger.byUser();
    const bool split = twoCores && n >= kAccountsForTwoCores && !byUser.empty();
    const AccountLedger::UserKeys order = AccountLedger::sortedUsers(
        n, [&run](size_t i) { return run.user(qsizetype(i)); }, split);
    const AccountLedger::Accounts accounts = ledger.accounts();
    std::vector<char> matched(accounts.size());
    // per first account of a user: its last account and its ledger
    // account; then, packed, the same per distinct user
    last_.assign(n, kNone);
    inLedger_.assign(n, kNone);
    newUser_.resize(n);
    // Against a big ledger the merge waits on memory a user at a time: the
    // users below the middle hash on a second core, those above here. A
    // user's accounts share a hash, so no user is cut in two.
    const uint32_t middle = split ? order[n / 2].hash : 0;
    const auto below = [](const AccountLedger::UserKey& key, uint32_t hash) { return key.hash < hash; };
    const size_t runMiddle = size_t(std::lower_bound(order.begin(), order.end(), middle, below) - order.begin());
    const size_t ledgerMiddle = size_t(std::lower_bound(byUser.begin(), byUser.end(), middle, below) - byUser.begin());
    SideWork lower(split);
    lower.start([&] { mergeUsers(order, 0, runMiddle, 0, ledgerMiddle, matched); });
    mergeUsers(order, runMiddle, n, ledgerMiddle, byUser.size(), matched);
    lower.join();
    size_t distinct = 0;
    for (size_t i = 0; i < n; ++i) {
        if (last_[i] != kNone) {
            last_[distinct] = last_[i];
            inLedger_[distinct++] = inLedger_[i];
        }
    }
    last_.resize(distinct);
    inLedger_.resize(distinct);
    changed_.resize(distinct);
    const auto comparePasswords = [this](size_t from, size_t to) {
        for (size_t u = from; u < to; ++u) {
            const std::optional<LedgerAccount> known = inLedger(u);
            const QByteArrayView before = known ? known->password : QByteArrayView();
            changed_[u] = !before.isEmpty() && before != run_->password(last_[u]);
        }
    };
    SideWork firstHalf(split);
    firstHalf.start([&] { comparePasswords(0, distinct / 2); });
    comparePasswords(distinct / 2, distinct);
    firstHalf.join();
    for (size_t a = 0; a < accounts.size(); ++a) {
        if (matched[a])
            continue;
        const KeepRefusal refusal = refusalOf(accounts[a], lists, bcrypt);
        missing_.push_back({uint32_t(a), refusal});
        keepable_ += refusal == KeepRefusal::None;
    }
}

void AccountChanges::mergeUsers(const AccountLedger::UserKeys& order, size_t from, size_t to, size_t ledgerFrom,
    size_t ledgerTo, std::vector<char>& matched)
{
    const RunAccounts& run = *run_;
    const AccountLedger& ledger = *ledger_;
    const auto& byUser = ledger.byUser();
    // Both sides are read in hash order, which is no order in memory: each
    // user is asked for a few steps before it is compared, its place first
    // and its bytes once the place is in the cache. (In the loop itself, and
    // through helpers always inlined: GCC drops a prefetch inside a call it
    // has found to have no effect.)
    // A user's bytes are read only where a hash agrees: with no ledger (a
    // first run) almost never, and then they are not asked for either.
    constexpr size_t kAhead = 16;
    const bool readAhead = !byUser.empty();
    size_t k = ledgerFrom;
    for (size_t g = from, e = from; g < to; g = e) {
        if (readAhead && g + 2 * kAhead < to)
            run.prefetchPlace(order[g + 2 * kAhead].index);
        if (g + kAhead < to) {
            const uint32_t i = order[g + kAhead].index;
            if (readAhead)
                run.prefetchUser(i);
            __builtin_prefetch(&last_[i], 1);
            __builtin_prefetch(&inLedger_[i], 1);
        }
        if (k + 2 * kAhead < ledgerTo)
            ledger.prefetchPlace(byUser[k + 2 * kAhead].index);
        if (k + kAhead < ledgerTo)
            ledger.prefetchUser(byUser[k + kAhead].index);
        const uint32_t hash = order[g].hash;
        QByteArrayView user;
        bool userRead = false;
        const auto theUser = [&]() -> QByteArrayView {
            if (!userRead)
                user = run.user(order[g].index), userRead = true;
            return user;
        };
        for (e = g + 1; e < to && order[e].hash == hash && run.user(order[e].index) == theUser();)
            ++e;
        // a ledger user is read only where the hashes agree
        while (k < ledgerTo &&
            (byUser[k].hash < hash ||
                (byUser[k].hash == hash &&
                    AccountLedger::compareUsers(hash, ledger.user(byUser[k].index), hash, theUser()) < 0)))
            ++k;
        const bool known = k < ledgerTo && byUser[k].hash == hash && ledger.user(byUser[k].index) == theUser();
        if (known)
            matched[byUser[k].index] = 1;
        last_[order[g].index] = order[e - 1].index;
        inLedger_[order[g].index] = known ? byUser[k].index : kNone;
        for (size_t x = g; x < e; ++x)
            newUser_[order[x].index] = !known;
    }
}

std::vector<LedgerAccount> AccountChanges::carried() const
{
    std::vector<LedgerAccount> out;
    if (!keep_)
        return out;
    for (const Missing& m : missing_) {
        if (m.refusal == KeepRefusal::None)
            out.push_back(ledger_->accounts()[size_t(m.ledger)]);
    }
    return out;
}

AccountChangeCounts AccountChanges::counts() const
{
    AccountChangeCounts c;
    for (size_t u = 0; u < last_.size(); ++u) {
        if (inLedger_[u] == kNone)
            ++c.added;
        else if (!changed_[u])
            ++c.kept;
        else
            ++c.changed;
    }
    c.carried = keep_ ? keepable_ : 0;
    c.kept += c.carried;
    c.removed = qint64(missing_.size()) - c.carried;
    return c;
}

QString AccountChanges::summary() const
{
    const AccountChangeCounts c = counts();
    QString text = QStringLiteral("%1 new, %2 kept, %3 removed, %4 changed")
                       .arg(c.added)
                       .arg(c.kept)
                       .arg(c.removed)
                       .arg(c.changed);
    if (c.carried > 0)
        text += QStringLiteral(" (%1 of the kept from earlier runs only)").arg(c.carried);
    return text;
}

qsizetype AccountChanges::changeLines(qsizetype perKind, const ChangeLine& take) const
{
    qsizetype left = 0;
    qsizetype taken = 0;
    const auto put = [&](QByteArrayView what, QByteArrayView user, QByteArrayView why = {}) {
        if (perKind < 0 || taken < perKind)
            take(what, user, why);
        else
            ++left;
        ++taken;
    };
    const auto kind = [&](auto each) {
        taken = 0;
        each();
    };
    kind([&] {
        for (size_t u = 0; u < last_.size(); ++u) {
            if (inLedger_[u] == kNone)
                put("new: ", run_->user(last_[u]));
        }
    });
    kind([&] {
        for (size_t u = 0; u < last_.size(); ++u) {
            if (changed_[u])
                put("changed password: ", run_->user(last_[u]));
        }
    });
    kind([&] {
        for (const Missing& m : missing_) {
            if (!keep_ || m.refusal != KeepRefusal::None)
                put("removed: ", ledger_->accounts()[size_t(m.ledger)].user,
                    QByteArray(" (" + refusalText(m.refusal).toUtf8() + ")"));
        }
    });
    kind([&] {
        for (const LedgerAccount& account : carried())
            put("kept from an earlier run: ", account.user);
    });
    return left;
}

QStringList AccountChanges::notes(qsizetype perKind) const
{
    QStringList lines {summary()};
    const qsizetype left = changeLines(perKind, [&lines](QByteArrayView what, QByteArrayView user, QByteArrayView why) {
        lines.append(QString::fromUtf8(what) + QString::fromUtf8(user) + QString::fromUtf8(why));
    });
    if (left > 0)
        lines.append(QStringLiteral("... and %1 more changes").arg(left));
    return lines;
}

namespace {

// Lines out to a device a few megabytes at a time: a million of them are
// never all in memory.
class LinesOut {
public:
    explicit LinesOut(QIODevice& device)
        : device_(device)
    {
        lines_.reserve(0, BatchFile::kChunk + 65536);
    }
    LineBlock& lines() { return lines_; }
    void lineDone()
    {
        if (lines_.fileSize() >= BatchFile::kChunk)
            send();
    }
    bool finish()
    {
        send();
        return ok_;
    }

private:
    void send()
    {
        ok_ = ok_ && lines_.writeTo(device_);
        lines_.reuse();
    }

    QIODevice& device_;
    LineBlock lines_;
    bool ok_ = true;
};

} // namespace

bool AccountChanges::writeReport(QIODevice& device, const QString& product, const QString& runStamp) const
{
    LinesOut out(device);
    out.lines().append(QStringLiteral("# accounts of %1 in the run of %2, compared with %3")
                           .arg(productFileName({}, product, {}), runStamp,
                               ledger_->source().isEmpty() ? QStringLiteral("no earlier run") : ledger_->source()));
    out.lines().append(QStringLiteral("# ") + summary());
    changeLines(-1, [&out](QByteArrayView what, QByteArrayView user, QByteArrayView why) {
        LineBlock& lines = out.lines();
        lines.beginLine();
        lines.appendToLine(what);
        lines.appendToLine(user);
        lines.appendToLine(why);
        lines.endLine();
        out.lineDone();
    });
    return out.finish();
}

bool AccountChanges::writeLedger(QIODevice& device, const QString& product, const QString& runStamp) const
{
    LinesOut out(device);
    out.lines().append(QByteArrayView(AccountLedger::headerLine(product)));
    const QByteArray stamp = runStamp.toUtf8();
    for (size_t u = 0; u < last_.size(); ++u) {
        const qsizetype i = last_[u];
        const std::optional<LedgerAccount> known = inLedger(u);
        const QByteArrayView first = known ? known->firstRun : QByteArrayView(stamp);
        AccountLedger::appendLine(
            out.lines(), run_->user(i), run_->password(i), first.isEmpty() ? stamp : first, stamp);
        out.lineDone();
    }
    qsizetype lines = qsizetype(last_.size());
    for (const LedgerAccount& account : carried()) {
        AccountLedger::appendLine(out.lines(), account);
        out.lineDone();
        ++lines;
    }
    // a ledger cut short, or emptied, is told from a whole one by this line
    out.lines().append(QByteArrayView(AccountLedger::countLine(lines)));
    return out.finish();
}

} // namespace og
