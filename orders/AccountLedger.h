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
#include <vector>

namespace og {

struct LedgerAccount {
    QByteArray user;     // the htpasswd user name: the customer's address
    QByteArray password; // empty when not known (an address file without order numbers)
    QByteArray firstRun, lastRun;
};

class AccountLedger {
public:
    // The ledger of product in folder (ending in "/"). Without one, the
    // product's address file of the last run serves, its first field as the
    // password when orderNumbers (the lines then hold the order number
    // first). False with the reason in error when a file exists but cannot
    // be read.
    bool load(const QString& folder, const QString& product, bool orderNumbers, QString* error);
    void parse(QByteArrayView text);
    void parseAddressFile(QByteArrayView text, bool orderNumbers);

    const std::vector<LedgerAccount>& accounts() const { return accounts_; }
    // Index of user (compared byte for byte, as htpasswd does), or -1.
    qsizetype find(QByteArrayView user) const { return index_.value(user, -1); }
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
    void reserveFor(QByteArrayView text);
    void add(LedgerAccount account);

    std::vector<LedgerAccount> accounts_;
    QHash<QByteArrayView, qsizetype> index_; // views into accounts_' values
    QString source_;
};

} // namespace og
