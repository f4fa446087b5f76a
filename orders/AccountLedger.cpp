#include "orders/AccountLedger.h"

#include "orders/ByteWords.h"

#include "common/AddressFile.h"
#include "common/TextFiles.h"
#include "orders/InputFiles.h"
#include "orders/ProductFiles.h"
#include "orders/ReportFields.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <utility>

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
    // Most values have nothing to escape: one look at their bytes, a word at
    // a time, then one append. (The look may also stop at other control
    // characters; the loop below escapes just the four.)
    const bool escapes = words::anyByte(
        value.data(), size_t(value.size()),
        [](uint64_t w) { return words::equal(w, '\\') | words::equal(w, '\t') | words::control(w); },
        [](unsigned char c) { return c == '\\' || c < 0x20 || c == 0x7f; });
    if (!escapes) {
        out.appendToLine(value);
        return;
    }
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

// The first line end (CR or LF) from p on, or end.
const char* lineEnd(const char* p, const char* end)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    const char* stop = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(stop - p)));
    return cr ? cr : stop;
}

// Lines of a text whatever their line ends. Not final: the text is a part
// of a longer one, and its last line, which may go on in the next part (or
// end in a CR whose LF is still to come), is left; returns where it starts.
template <typename Take>
qsizetype forEachLine(QByteArrayView text, Take take, bool final = true)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    while (p < end) {
        const char* e = lineEnd(p, end);
        if (!final && (e == end || (*e == '\r' && e + 1 == end)))
            break;
        take(QByteArrayView(p, e - p));
        p = e == end ? end : e + (*e == '\r' && e + 1 < end && e[1] == '\n' ? 2 : 1);
    }
    return p - begin;
}

// What tells a whole ledger of the product from another file, gathered line
// by line as the ledger is read.
struct LedgerShape {
    bool anyText = false; // a byte besides blanks and line ends
    char lastByte = 0;
    bool firstSeen = false;
    QByteArray first;
    qsizetype accounts = 0;
    bool lastIsComment = false; // of the lines not empty
    QByteArray lastComment;

    void bytes(QByteArrayView part)
    {
        if (part.isEmpty())
            return;
        lastByte = part.back();
        anyText = anyText || !bytes::trimmed(part).isEmpty();
    }
    void line(QByteArrayView line)
    {
        if (!firstSeen) {
            first = line.toByteArray();
            firstSeen = true;
        }
        if (line.isEmpty())
            return;
        lastIsComment = line.startsWith('#');
        accounts += !lastIsComment;
        if (lastIsComment)
            lastComment = line.toByteArray();
    }
    QString distrust(const QString& product) const;
};

QString LedgerShape::distrust(const QString& product) const
{
    if (!anyText)
        return QStringLiteral("is empty, although the last run wrote it with its accounts");
    const QByteArrayView opening = kHeaderStart;
    const qsizetype named = first.indexOf(QByteArrayView(kHeaderColumns));
    if (!first.startsWith(opening) || named < opening.size())
        return QStringLiteral("is not a ledger of accounts: its first line does not name a product");
    const QString owner = QString::fromUtf8(first.sliced(opening.size(), named - opening.size()));
    const QString own = productFileName({}, product, {});
    if (QString::compare(owner, own, Qt::CaseInsensitive) != 0)
        return QStringLiteral("holds the accounts of the product \"%1\", not of \"%2\"").arg(owner, own);
    if (lastByte != '\n' && lastByte != '\r')
        return QStringLiteral("is cut short: its last line is incomplete");
    if (!first.endsWith(QByteArrayView(kCounted)))
        return {}; // written before ledgers counted their lines
    bool counted = false;
    qsizetype count = -1;
    if (lastIsComment && lastComment.startsWith("# ") && lastComment.endsWith(" accounts"))
        count = lastComment.sliced(2, lastComment.size() - 11).toLongLong(&counted);
    if (!counted)
        return QStringLiteral("is cut short: the line that counts its accounts is missing");
    if (count != accounts)
        return QStringLiteral("is damaged: it counts %1 accounts but holds %2").arg(count).arg(accounts);
    return {};
}

} // namespace

bool AccountLedger::load(const QString& folder, const QString& product, bool orderNumbers, QString* error)
{
    *this = AccountLedger();
    QString reason;
    switch (loadLedger(folder + ledgerFileName(product), product, &reason)) {
    case FileRead::Read:
        if (distrust_.isEmpty())
            source_ = ledgerFileName(product);
        return true;
    case FileRead::Failed:
        *error = QStringLiteral("Unable to read %1: %2").arg(folder + ledgerFileName(product), reason);
        return false;
    case FileRead::Missing:
        break;
    }
    // Without a ledger the address file of the last run serves.
    const QString name = addressFileName(product);
    QByteArray bytes;
    bool valid = false;
    const FileRead read = readRegularFile(folder + name, &bytes, &reason, &valid);
    if (read == FileRead::Missing)
        return true;
    if (read == FileRead::Failed) {
        *error = QStringLiteral("Unable to read %1: %2").arg(folder + name, reason);
        return false;
    }
    parseAddressFile(toValidUtf8(std::move(bytes), valid), orderNumbers);
    source_ = name;
    return true;
}

FileRead AccountLedger::loadLedger(const QString& path, const QString& product, QString* reason)
{
    // Read a part at a time, each line taken as it comes: a ledger of a
    // million accounts is never in memory as text beside its values.
    LedgerShape shape;
    Parsing parsing;
    // the lines this ledger writes are longer than this, and its values
    // shorter than the file: neither grows (capacity never written costs
    // no memory)
    const qint64 size = QFileInfo(path).size();
    accounts_.reserve(size_t(size / 40 + 16));
    values_.reserve(qsizetype(size));
    QByteArray pending; // the start of a line the next part goes on with
    bool atStart = true, valid = true;
    const auto take = [&](QByteArrayView text, bool final) {
        const qsizetype done = forEachLine(
            text,
            [&](QByteArrayView line) {
                shape.line(line);
                parseLine(line, parsing);
            },
            final);
        Utf8Check check;
        check.check(text.first(done), true);
        valid = valid && check.valid();
        return done;
    };
    const FileRead read = readRegularFileInParts(path, reason, [&](QByteArrayView part) {
        if (atStart) {
            part = withoutByteOrderMarks(part);
            atStart = part.isEmpty(); // (a mark cut by the part's end is taken as text)
        }
        shape.bytes(part);
        pending.append(part);
        pending.remove(0, take(pending, false));
    });
    if (read != FileRead::Read)
        return read;
    take(pending, true);
    if (!valid) {
        // Not UTF-8 throughout: read whole, with its bytes as Windows-1252.
        *this = AccountLedger();
        QByteArray bytes;
        bool utf8 = false;
        const FileRead again = readRegularFile(path, &bytes, reason, &utf8);
        if (again != FileRead::Read)
            return again;
        const QByteArray text = toValidUtf8(std::move(bytes), utf8);
        distrust_ = distrust(text, product);
        if (distrust_.isEmpty())
            parse(text);
        return FileRead::Read;
    }
    distrust_ = shape.distrust(product);
    if (!distrust_.isEmpty()) {
        const QString why = distrust_;
        *this = AccountLedger();
        distrust_ = why; // the caller decides: stop, or start afresh
        return FileRead::Read;
    }
    dropRefused();
    index();
    return FileRead::Read;
}

void AccountLedger::parse(QByteArrayView text)
{
    reserveFor(text);
    Parsing parsing;
    forEachLine(text, [&](QByteArrayView line) { parseLine(line, parsing); });
    dropRefused();
    index();
}

void AccountLedger::parseLine(QByteArrayView line, Parsing& parsing)
{
    const qsizetype number = ++parsing.line;
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
    const QByteArrayView user = unescapeInto(fields[0], parsing.user) ? parsing.user : fields[0];
    const QByteArrayView password = unescapeInto(fields[1], parsing.password) ? parsing.password : fields[1];
    // judged as stored, before the batch file's trimming could make a
    // value another customer's
    admit({user, password, fields[2], fields[3]}, number, &parsing);
}

uint32_t AccountLedger::stamp(QByteArrayView value, Parsing* parsing)
{
    constexpr size_t kStamps = 16;
    if (parsing) {
        for (auto known = parsing->stamps.rbegin(); known != parsing->stamps.rend(); ++known) {
            if (values_.at(stamps_[*known]) == value)
                return *known;
        }
    }
    stamps_.push_back(values_.add(value));
    const auto kept = uint32_t(stamps_.size() - 1);
    if (parsing && parsing->stamps.size() < kStamps)
        parsing->stamps.push_back(kept);
    return kept;
}

void AccountLedger::admit(const LedgerAccount& account, qsizetype line, Parsing* parsing)
{
    const AccountValueFault fault = accountValueFault(account.user, account.password);
    if (fault != AccountValueFault::None) {
        refused_.push_back({line, fault, account.user.toByteArray()});
        return;
    }
    const PackedValues::Value user = values_.add(account.user);
    const PackedValues::Value password = values_.add(account.password);
    accounts_.push_back({user, password, stamp(account.firstRun, parsing), stamp(account.lastRun, parsing)});
}

void AccountLedger::dropRefused()
{
    if (refused_.empty())
        return;
    QSet<QByteArrayView> users;
    for (const RefusedLine& r : refused_)
        users.insert(r.user);
    std::erase_if(accounts_, [&](const Packed& a) { return users.contains(values_.at(a.user)); });
}

QString AccountLedger::distrust(QByteArrayView text, const QString& product)
{
    LedgerShape shape;
    shape.bytes(text);
    forEachLine(text, [&shape](QByteArrayView line) { shape.line(line); });
    return shape.distrust(product);
}

void AccountLedger::parseAddressFile(QByteArrayView text, bool orderNumbers)
{
    reserveFor(text);
    int number = 0;
    forEachLine(text, [&](QByteArrayView line) {
        const AddressRecord record = addressRecord(QString::fromUtf8(line), ++number);
        if (record.address.isEmpty())
            return;
        QByteArray password;
        if (orderNumbers && !record.fields.isEmpty())
            password = record.fields.first().toUtf8();
        admit({record.address.toUtf8(), password, {}, {}}, number);
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
    values_.reserve(text.size());
}

void AccountLedger::index()
{
    // Sorted rather than hashed: a million accounts cost four bytes each,
    // and the run's accounts are compared with them in one sorted merge.
    const size_t n = accounts_.size();
    UserKeys keys = sortedUsers(n, [this](size_t k) { return values_.at(accounts_[k].user); });
    // A later line of the same user is the account htpasswd keeps, in the
    // place of the first.
    std::vector<char> dropped;
    for (size_t g = 0, e = 0; g < n; g = e) {
        e = g + 1;
        if (e == n || keys[e].hash != keys[g].hash)
            continue; // a user of its own: its account is not read at all
        Packed& first = accounts_[keys[g].index];
        const QByteArrayView user = values_.at(first.user);
        for (e = g + 1; e < n && keys[e].hash == keys[g].hash && values_.at(accounts_[keys[e].index].user) == user;
             ++e) {
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

namespace {

// a radix pass sorts by 16 bits of the hash
constexpr size_t kBuckets = size_t(1) << 16;

// n keys by hash, stably, in place: a pass of the low 16 bits into scratch
// (as many keys), one of the high 16 back
void radixByHash(AccountLedger::UserKey* keys, AccountLedger::UserKey* scratch, size_t n)
{
    std::vector<size_t> start(kBuckets);
    AccountLedger::UserKey *from = keys, *to = scratch;
    for (const int shift : {0, 16}) {
        std::fill(start.begin(), start.end(), 0);
        for (size_t i = 0; i < n; ++i)
            ++start[(from[i].hash >> shift) & (kBuckets - 1)];
        size_t at = 0;
        for (size_t& bucket : start)
            at += std::exchange(bucket, at);
        for (size_t i = 0; i < n; ++i)
            to[start[(from[i].hash >> shift) & (kBuckets - 1)]++] = from[i];
        std::swap(from, to);
    }
}

} // namespace

void AccountLedger::sortByHash(UserKeys& keys, bool twoCores)
{
    // a few keys: cheaper compared than counted into 65,536 buckets
    if (keys.size() < kBuckets) {
        std::stable_sort(keys.begin(), keys.end(), [](const UserKey& a, const UserKey& b) { return a.hash < b.hash; });
        return;
    }
    UserKeys other(keys.size());
    if (!twoCores) {
        radixByHash(keys.data(), other.data(), keys.size());
        return;
    }
    // the keys of top bit 0 before those of 1, each in index order, then
    // each part sorted on a core of its own
    const size_t low =
        size_t(std::count_if(keys.begin(), keys.end(), [](const UserKey& k) { return k.hash >> 31 == 0; }));
    size_t lowAt = 0, highAt = low;
    for (const UserKey& key : keys)
        other[key.hash >> 31 ? highAt++ : lowAt++] = key;
    SideWork lowPart(true);
    lowPart.start([&] { radixByHash(other.data(), keys.data(), low); });
    radixByHash(other.data() + low, keys.data() + low, keys.size() - low);
    lowPart.join();
    keys.swap(other);
}

qsizetype AccountLedger::find(QByteArrayView user) const
{
    const uint32_t hash = userHash(user);
    const auto at = std::lower_bound(byUser_.begin(), byUser_.end(), user, [&](const UserKey& k, QByteArrayView u) {
        return compareUsers(k.hash, values_.at(accounts_[k.index].user), hash, u) < 0;
    });
    return at != byUser_.end() && at->hash == hash && values_.at(accounts_[at->index].user) == user
        ? qsizetype(at->index)
        : -1;
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
