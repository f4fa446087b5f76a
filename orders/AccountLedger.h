#pragma once
// The accounts the batch files of one product made, kept in the program
// folder beside them (accounts_<product>.txt): the next run compares its
// accounts with it, and can make those of earlier customers again. One line
// an account, UTF-8, CR LF:
//   address TAB password TAB first run TAB last run
// with a backslash, tab, CR or LF inside a value written as \\ \t \r \n.
// Lines starting with "#" are comments (htpasswd takes no such user name).

#include "orders/HeldBytes.h"
#include "orders/LineBlock.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <deque>
#include <string_view>
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
    // Indexes into accounts() in the order of their users, compared byte for
    // byte as htpasswd does (compareUsers): one user an account.
    const std::vector<uint32_t>& byUser() const { return byUser_; }
    // Index of user, or -1.
    qsizetype find(QByteArrayView user) const;
    // <0, 0, >0
    static int compareUsers(QByteArrayView a, QByteArrayView b)
    {
        return std::string_view(a.data(), size_t(a.size())).compare(std::string_view(b.data(), size_t(b.size())));
    }
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
    // Orders the accounts by user; of a user's lines the first place and the
    // last values stay.
    void index();

    // A million accounts are a few buffers, not millions of values: the
    // texts read, and copies of values that had to be rewritten (escaped
    // ones, an address file's).
    std::deque<QByteArray> texts_;
    HeldBytes held_;
    std::vector<LedgerAccount> accounts_;
    std::vector<uint32_t> byUser_;
    QString source_;
};

} // namespace og
