#include "orders/AccountChanges.h"

#include "orders/BatchFile.h"
#include "orders/FoldedIndex.h"
#include "orders/ProductFiles.h"
#include "orders/ReportFields.h"

namespace og {

void RunAccounts::reserve(qsizetype accounts, qsizetype bytes)
{
    users_.reserve(accounts, bytes);
    passwords_.reserve(accounts, 8 * accounts);
}

void RunAccounts::add(QByteArrayView user, QByteArrayView password)
{
    users_.append(bytes::trimmed(user));
    passwords_.append(bytes::trimmed(password));
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
    if (!htpasswdTakesUser(account.user) || !htpasswdTakesPassword(account.password) ||
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
    const AccountLedger& ledger, const RunAccounts& run, const CustomerLists& lists, bool bcrypt)
    : ledger_(&ledger),
      run_(&run)
{
    QHash<QByteArrayView, qsizetype> distinct; // user -> 1 + index into last_
    distinct.reserve(run.size());
    newUser_.resize(size_t(run.size()));
    for (qsizetype i = 0; i < run.size(); ++i) {
        qsizetype& u = distinct[run.user(i)];
        if (u == 0) {
            last_.push_back(i);
            inLedger_.push_back(ledger.find(run.user(i)));
            u = qsizetype(last_.size()); // from 1: 0 is a user not seen yet
        } else {
            last_[size_t(u - 1)] = i;
        }
        newUser_[size_t(i)] = inLedger_[size_t(u - 1)] < 0;
    }
    const auto& accounts = ledger.accounts();
    for (size_t k = 0; k < accounts.size(); ++k) {
        if (distinct.contains(QByteArrayView(accounts[k].user)))
            continue;
        const KeepRefusal refusal = refusalOf(accounts[k], lists, bcrypt);
        missing_.push_back({qsizetype(k), refusal});
        keepable_ += refusal == KeepRefusal::None;
    }
}

std::vector<const LedgerAccount*> AccountChanges::carried() const
{
    std::vector<const LedgerAccount*> out;
    if (!keep_)
        return out;
    for (const Missing& m : missing_) {
        if (m.refusal == KeepRefusal::None)
            out.push_back(&ledger_->accounts()[size_t(m.ledger)]);
    }
    return out;
}

AccountChangeCounts AccountChanges::counts() const
{
    AccountChangeCounts c;
    for (size_t u = 0; u < last_.size(); ++u) {
        if (inLedger_[u] < 0)
            ++c.added;
        else if (const QByteArrayView before = ledger_->accounts()[size_t(inLedger_[u])].password;
                 before.isEmpty() || before == run_->password(last_[u]))
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
            if (inLedger_[u] < 0)
                put("new: ", run_->user(last_[u]));
        }
    });
    kind([&] {
        for (size_t u = 0; u < last_.size(); ++u) {
            const QByteArrayView before =
                inLedger_[u] < 0 ? QByteArrayView() : ledger_->accounts()[size_t(inLedger_[u])].password;
            if (!before.isEmpty() && before != run_->password(last_[u]))
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
        for (const LedgerAccount* account : carried())
            put("kept from an earlier run: ", account->user);
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

LineBlock AccountChanges::reportLines(const QString& product, const QString& runStamp) const
{
    LineBlock out;
    out.append(QStringLiteral("# accounts of %1 in the run of %2, compared with %3")
                   .arg(productFileName({}, product, {}), runStamp,
                       ledger_->source().isEmpty() ? QStringLiteral("no earlier run") : ledger_->source()));
    out.append(QStringLiteral("# ") + summary());
    changeLines(-1, [&out](QByteArrayView what, QByteArrayView user, QByteArrayView why) {
        out.beginLine();
        out.appendToLine(what);
        out.appendToLine(user);
        out.appendToLine(why);
        out.endLine();
    });
    return out;
}

LineBlock AccountChanges::ledgerLines(const QString& product, const QString& runStamp) const
{
    LineBlock out;
    out.append(QByteArrayView(AccountLedger::headerLine(product)));
    const QByteArray stamp = runStamp.toUtf8();
    for (size_t u = 0; u < last_.size(); ++u) {
        const qsizetype i = last_[u];
        const qsizetype k = inLedger_[u];
        const QByteArrayView first = k < 0 ? QByteArrayView(stamp) : ledger_->accounts()[size_t(k)].firstRun;
        AccountLedger::appendLine(out, run_->user(i), run_->password(i), first.isEmpty() ? stamp : first, stamp);
    }
    for (const LedgerAccount* account : carried())
        AccountLedger::appendLine(out, *account);
    return out;
}

} // namespace og
