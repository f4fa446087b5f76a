#include "orders/AccountLedger.h"

#include "common/AddressFile.h"
#include "common/TextFiles.h"
#include "orders/InputFiles.h"
#include "orders/ProductFiles.h"

namespace og {

namespace {

QByteArray unescaped(QByteArrayView field)
{
    QByteArray out;
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
    return out;
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
        const FileRead read = readRegularFile(folder + name, &bytes, &reason);
        if (read == FileRead::Missing)
            continue;
        if (read == FileRead::Failed) {
            *error = QStringLiteral("Unable to read %1: %2").arg(folder + name, reason);
            return false;
        }
        const QByteArray text = toValidUtf8(std::move(bytes));
        if (ledger)
            parse(text);
        else
            parseAddressFile(text, orderNumbers);
        source_ = name;
        return true;
    }
    return true;
}

void AccountLedger::parse(QByteArrayView text)
{
    // Most accounts share their runs: one shared copy of each stamp seen last.
    QByteArray first, last;
    const auto shared = [](QByteArray& kept, QByteArrayView stamp) {
        if (kept != stamp)
            kept = stamp.toByteArray();
        return kept;
    };
    reserveFor(text);
    forEachLine(text, [&](QByteArrayView line) {
        if (line.isEmpty() || line.startsWith('#'))
            return;
        QByteArrayView fields[4];
        for (int f = 0; f < 4; ++f) {
            const qsizetype tab = f < 3 ? line.indexOf('\t') : -1;
            fields[f] = tab < 0 ? line : line.first(tab);
            line = tab < 0 ? QByteArrayView() : line.sliced(tab + 1);
        }
        if (!fields[0].isEmpty())
            add({unescaped(fields[0]), unescaped(fields[1]), shared(first, fields[2]), shared(last, fields[3])});
    });
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
        add({record.address.toUtf8(), password, {}, {}});
    });
}

void AccountLedger::reserveFor(QByteArrayView text)
{
    // one account a line at most: neither the list nor its index grows
    const qsizetype lines = text.count('\n') + text.count('\r') + 1;
    accounts_.reserve(accounts_.size() + size_t(lines));
    index_.reserve(index_.size() + lines);
}

void AccountLedger::add(LedgerAccount account)
{
    // A later line of the same user is the account htpasswd keeps.
    if (const qsizetype k = find(account.user); k >= 0) {
        accounts_[size_t(k)].password = std::move(account.password);
        accounts_[size_t(k)].lastRun = std::move(account.lastRun);
        return;
    }
    if (accounts_.size() == accounts_.capacity()) {
        // the index points into the values: rebuilt after the vector moves
        accounts_.reserve(accounts_.size() * 2 + 64);
        index_.clear();
        index_.reserve(qsizetype(accounts_.capacity()));
        for (size_t i = 0; i < accounts_.size(); ++i)
            index_.insert(QByteArrayView(accounts_[i].user), qsizetype(i));
    }
    accounts_.push_back(std::move(account));
    index_.insert(QByteArrayView(accounts_.back().user), qsizetype(accounts_.size() - 1));
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
    return "# accounts of " + productFileName({}, product, {}).toUtf8() +
        ": address, password, first run, last run (tab-separated)";
}

} // namespace og
