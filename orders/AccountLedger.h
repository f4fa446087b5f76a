#pragma once
// The accounts the batch files of one product made, kept in the program
// folder beside them (accounts_<product>.txt): the next run compares its
// accounts with it, and can make those of earlier customers again. One line
// an account, UTF-8, CR LF:
//   address TAB password TAB first run TAB last run
// with a backslash, tab, CR or LF inside a value written as \\ \t \r \n.
// Lines starting with "#" are comments (htpasswd takes no such user name).

#include "orders/LineBlock.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <deque>
#include <vector>

namespace og {

// Views into the text the ledger holds (or into literals a caller keeps).
struct LedgerAccount {
    QByteArrayView user;     // the htpasswd user name: the customer's address
    QByteArrayView password; // empty when not known (an address file without order numbers)
    QByteArrayView firstRun, lastRun;
};

class AccountLedger {
public:
    // The ledger of product in folder (ending in "/"). Without one, the
    // product's address file of the last run serves, its first field as the
    // password when orderNumbers (the lines then hold the order number
    // first). False with the reason in error when a file exists but cannot
    // be read.
    bool load(const QString& folder, const QString& product, bool orderNumbers, QString* error);
    // Reads a copy of text (an account's values are views into it).
    void parse(QByteArrayView text);
    void parseAddressFile(QByteArrayView text, bool orderNumbers);

    const std::vector<LedgerAccount>& accounts() const { return accounts_; }
    // Index of user (compared byte for byte, as htpasswd does), or -1.
    qsizetype find(QByteArrayView user) const { return index_.value(user, 0) - 1; }
    // Where the accounts came from, for the change report.
    const QString& source() const { return source_; }

    // One line of the file, built into out.
    static void appendLine(LineBlock& out, const LedgerAccount& account)
    {
        appendLine(out, account.user, account.password, account.firstRun, account.lastRun);
    }
    static void appendLine(
        LineBlock& out, QByteArrayView user, QByteArrayView password, QByteArrayView firstRun, QByteArrayView lastRun);
    static QByteArray headerLine(const QString& product);

private:
    void parseHeld(QByteArrayView text);
    void reserveFor(QByteArrayView text);
    void add(const LedgerAccount& account);
    // A copy of value that lives as long as the ledger.
    QByteArrayView held(QByteArrayView value);

    // A million accounts are a few buffers, not millions of values: the
    // texts read, and blocks for values that had to be rewritten (escaped
    // ones, an address file's). A block is never grown past its capacity,
    // so the views into it stay valid.
    std::deque<QByteArray> texts_, blocks_;
    std::vector<LedgerAccount> accounts_;
    QHash<QByteArrayView, qsizetype> index_; // 1 + index into accounts_
    QString source_;
};

} // namespace og
