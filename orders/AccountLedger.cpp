#include "orders/AccountLedger.h"

#include "common/AddressFile.h"
#include "common/TextFiles.h"
#include "orders/InputFiles.h"
#include "orders/ProductFiles.h"
#include "orders/ReportFields.h"

#include <QSet>
#include <algorithm>
#include <cstring>

namespace og {

namespace {

// The first line: kHeaderStart, the product, kHeaderColumns, and in the
// ledgers that count their lines kCounted.
constexpr char kHeaderStart[] = "# accounts of ";
constexpr char kHeaderColumns[] = ": address, password, first run, last run (tab-separated)";
constexpr char kCounted[] = "; the last line counts them";

// The value of field, into out (nothing when it holds no escape: the field
// is the value).
bool unescapeInto(QByteArrayView field, QByteArray& out)
{
    if (!field.contains('\\'))
        return false;
    out.clear();
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 == field.size()) {
            out.append(c);
            continue;
        }
        const char e = field[++i];
        out.append(e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e);
    }
    return true;
}

void appendEscaped(LineBlock& out, QByteArrayView value)
{
    qsizetype plain = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : nullptr;
        if (!escape)
            continue;
        out.appendToLine(value.sliced(plain, i - plain));
        out.appendToLine(QByteArrayView(escape, 2));
        plain = i + 1;
    }
    out.appendToLine(value.sliced(plain));
}

// Lines of a text whatever their line ends.
template <typename Take>
void forEachLine(QByteArrayView text, Take take)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        take(text.sliced(start, end - start));
        start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
}

} // namespace

bool AccountLedger::load(const QString& folder, const QString& product, bool orderNumbers, QString* error)
{
    *this = AccountLedger();
    for (const bool ledger : {true, false}) {
        const QString name = ledger ? ledgerFileName(product) : addressFileName(product);
        QByteArray bytes;
        QString reason;
        bool valid = false;
        const FileRead read = readRegularFile(folder + name, &bytes, &reason, &valid);
        if (read == FileRead::Missing)
            continue;
        if (read == FileRead::Failed) {
            *error = QStringLiteral("Unable to read %1: %2").arg(folder + name, reason);
            return false;
        }
        const QByteArray text = toValidUtf8(std::move(bytes), valid);
        if (ledger) {
            distrust_ = distrust(text, product);
            if (!distrust_.isEmpty())
                return true; // the caller decides: stop, or start afresh
            parse(text);
        } else
            parseAddressFile(text, orderNumbers);
        source_ = name;
        return true;
    }
    return true;
}

void AccountLedger::parse(QByteArrayView text)
{
    // Only the values are kept, not the text: the run stamps, the same on
    // most lines, once each.
    QByteArray scratch;
    const auto value = [&](QByteArrayView field) { return held_.hold(unescapeInto(field, scratch) ? scratch : field); };
    std::vector<QByteArrayView> stamps;
    const auto stamp = [&](QByteArrayView field) {
        constexpr size_t kStamps = 16;
        const auto known = std::find(stamps.rbegin(), stamps.rend(), field);
        if (known != stamps.rend())
            return *known;
        const QByteArrayView copy = held_.hold(field);
        if (stamps.size() < kStamps)
            stamps.push_back(copy);
        return copy;
    };
    reserveFor(text);
    qsizetype number = 0;
    forEachLine(text, [&](QByteArrayView line) {
        ++number;
        if (line.isEmpty() || line.startsWith('#'))
            return;
        QByteArrayView fields[4];
        for (int f = 0; f < 4; ++f) {
            const qsizetype tab = f < 3 ? line.indexOf('\t') : -1;
            fields[f] = tab < 0 ? line : line.first(tab);
            line = tab < 0 ? QByteArrayView() : line.sliced(tab + 1);
        }
        if (fields[0].isEmpty())
            return;
        // judged as stored, before the batch file's trimming could make a
        // value another customer's
        admit({value(fields[0]), value(fields[1]), stamp(fields[2]), stamp(fields[3])}, number);
    });
    dropRefused();
    index();
}

void AccountLedger::admit(const LedgerAccount& account, qsizetype line)
{
    const AccountValueFault fault = accountValueFault(account.user, account.password);
    if (fault == AccountValueFault::None)
        accounts_.push_back(account);
    else
        refused_.push_back({line, fault, account.user.toByteArray()});
}

void AccountLedger::dropRefused()
{
    if (refused_.empty())
        return;
    QSet<QByteArrayView> users;
    for (const RefusedLine& r : refused_)
        users.insert(r.user);
    std::erase_if(accounts_, [&users](const LedgerAccount& a) { return users.contains(a.user); });
}

QString AccountLedger::distrust(QByteArrayView text, const QString& product)
{
    if (bytes::trimmed(text).isEmpty())
        return QStringLiteral("is empty, although the last run wrote it with its accounts");
    const qsizetype firstEnd = [&] {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' || text[i] == '\r')
                return i;
        }
        return text.size();
    }();
    const QByteArrayView first = text.first(firstEnd);
    const QByteArrayView opening = kHeaderStart;
    const qsizetype named = first.indexOf(QByteArrayView(kHeaderColumns));
    if (!first.startsWith(opening) || named < opening.size())
        return QStringLiteral("is not a ledger of accounts: its first line does not name a product");
    const QString owner = QString::fromUtf8(first.sliced(opening.size(), named - opening.size()));
    const QString own = productFileName({}, product, {});
    if (QString::compare(owner, own, Qt::CaseInsensitive) != 0)
        return QStringLiteral("holds the accounts of the product \"%1\", not of \"%2\"").arg(owner, own);
    const char last = text.back();
    if (last != '\n' && last != '\r')
        return QStringLiteral("is cut short: its last line is incomplete");
    if (!first.endsWith(QByteArrayView(kCounted)))
        return {}; // written before ledgers counted their lines
    qsizetype accounts = 0;
    QByteArrayView lastLine;
    forEachLine(text, [&](QByteArrayView line) {
        accounts += !line.isEmpty() && !line.startsWith('#');
        if (!line.isEmpty())
            lastLine = line;
    });
    bool counted = false;
    qsizetype count = -1;
    if (lastLine.startsWith("# ") && lastLine.endsWith(" accounts"))
        count = lastLine.sliced(2, lastLine.size() - 11).toLongLong(&counted);
    if (!counted)
        return QStringLiteral("is cut short: the line that counts its accounts is missing");
    if (count != accounts)
        return QStringLiteral("is damaged: it counts %1 accounts but holds %2").arg(count).arg(accounts);
    return {};
}

void AccountLedger::parseAddressFile(QByteArrayView text, bool orderNumbers)
{
    reserveFor(text);
    int number = 0;
    forEachLine(text, [&](QByteArrayView line) {
        const AddressRecord record = addressRecord(QString::fromUtf8(line), ++number);
        if (record.address.isEmpty())
            return;
        QByteArrayView password;
        if (orderNumbers && !record.fields.isEmpty())
            password = held_.hold(record.fields.first().toUtf8());
        admit({held_.hold(record.address.toUtf8()), password, {}, {}}, number);
    });
    dropRefused();
    index();
}

void AccountLedger::reserveFor(QByteArrayView text)
{
    // one account a line at most: the list does not grow
    qsizetype lines = 1;
    const char* const end = text.data() + text.size();
    for (const char lineEnd : {'\n', '\r'}) {
        for (const char* at = text.data();
             at != end && (at = static_cast<const char*>(std::memchr(at, lineEnd, size_t(end - at)))); ++at)
            ++lines;
    }
    accounts_.reserve(accounts_.size() + size_t(lines));
}

void AccountLedger::index()
{
    // Sorted rather than hashed: a million accounts cost four bytes each,
    // and the run's accounts are compared with them in one sorted merge.
    const size_t n = accounts_.size();
    std::vector<UserKey> keys = sortedUsers(n, [this](size_t k) { return accounts_[k].user; });
    // A later line of the same user is the account htpasswd keeps, in the
    // place of the first.
    std::vector<char> dropped;
    for (size_t g = 0, e = 0; g < n; g = e) {
        LedgerAccount& first = accounts_[keys[g].index];
        for (e = g + 1; e < n && keys[e].hash == keys[g].hash && accounts_[keys[e].index].user == first.user; ++e) {
            dropped.resize(n);
            dropped[keys[e].index] = 1;
        }
        first.password = accounts_[keys[e - 1].index].password;
        first.lastRun = accounts_[keys[e - 1].index].lastRun;
    }
    if (dropped.empty()) {
        byUser_ = std::move(keys);
        return;
    }
    byUser_.clear();
    byUser_.reserve(n);
    for (const UserKey& key : keys) {
        if (!dropped[key.index])
            byUser_.push_back(key);
    }
    std::vector<uint32_t> moved(n);
    size_t kept = 0;
    for (size_t k = 0; k < n; ++k) {
        moved[k] = uint32_t(kept);
        if (!dropped[k])
            accounts_[kept++] = accounts_[k];
    }
    accounts_.resize(kept);
    for (UserKey& k : byUser_)
        k.index = moved[k.index];
}

qsizetype AccountLedger::find(QByteArrayView user) const
{
    const uint32_t hash = userHash(user);
    const auto at = std::lower_bound(byUser_.begin(), byUser_.end(), user,
        [&](const UserKey& k, QByteArrayView u) { return compareUsers(k.hash, accounts_[k.index].user, hash, u) < 0; });
    return at != byUser_.end() && at->hash == hash && accounts_[at->index].user == user ? qsizetype(at->index) : -1;
}

void AccountLedger::appendLine(
    LineBlock& out, QByteArrayView user, QByteArrayView password, QByteArrayView firstRun, QByteArrayView lastRun)
{
    out.beginLine();
    if (user.startsWith('#'))
        out.appendToLine("\\"); // not a comment
    appendEscaped(out, user);
    out.appendToLine("\t");
    appendEscaped(out, password);
    out.appendToLine("\t");
    out.appendToLine(firstRun);
    out.appendToLine("\t");
    out.appendToLine(lastRun);
    out.endLine();
}

QByteArray AccountLedger::headerLine(const QString& product)
{
    // the product as in the file names: no control character breaks the line
    return kHeaderStart + productFileName({}, product, {}).toUtf8() + kHeaderColumns + kCounted;
}

QByteArray AccountLedger::countLine(qsizetype accounts)
{
    return "# " + QByteArray::number(accounts) + " accounts";
}

} // namespace og
