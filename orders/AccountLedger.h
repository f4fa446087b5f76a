#pragma once
// The accounts the batch files of one product made, kept in the program
// folder beside them (accounts_<product>.txt): the next run compares its
// accounts with it, and can make those of earlier customers again. One line
// an account, UTF-8, CR LF:
//   address TAB password TAB first run TAB last run
// with a backslash, tab, CR or LF inside a value written as \\ \t \r \n.
// Lines starting with "#" are comments (htpasswd takes no such user name).
// The first line names the product ("# accounts of Tool: ..."); since the
// ledger counts its lines, that line ends "; the last line counts them" and
// the last line is "# N accounts". A ledger is trusted only when it looks
// like this product's, whole (see distrust()); one without the count (written
// before it was kept) is trusted when it names this product and its last line
// is complete, and the next run writes the count.

#include "orders/BatchFile.h"
#include "orders/BytesHash.h"
#include "orders/InputFiles.h"
#include "orders/LineBlock.h"
#include "orders/PackedValues.h"
#include "orders/Prefault.h"
#include "orders/SideWork.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace og {

// Views into the values the ledger holds (or into literals a caller keeps).
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
    // Reads text (the ledger keeps copies of the values). A line whose values
    // break the one rule of account values (accountValueFault) is skipped
    // and kept in refusedLines(), and its user counts as not in the ledger.
    void parse(QByteArrayView text);
    // Why the text of product's ledger is not to be trusted ("is cut short:
    // ..."), or empty: it is empty, names another product or no product, or
    // does not hold the lines it counts.
    static QString distrust(QByteArrayView text, const QString& product);
    // What load() found wrong with the ledger it then left unread; empty
    // when it was read (or there was none).
    const QString& distrust() const { return distrust_; }

    struct RefusedLine {
        qsizetype line; // from 1
        AccountValueFault fault;
        QByteArray user;
    };
    const std::vector<RefusedLine>& refusedLines() const { return refused_; }
    void parseAddressFile(QByteArrayView text, bool orderNumbers);

    // The order in which accounts are matched with others: by a hash of the
    // user (cheap to sort, and no pointer to follow), equal hashes by the
    // bytes. Any order both sides share does for a sorted merge.
    // Eight bytes an account: a hash of 32 bits is enough to settle most
    // comparisons.
    struct UserKey {
        uint32_t hash;
        uint32_t index;
    };
    // a key per account: in a block of its own (see HugeAllocator)
    using UserKeys = HugeVector<UserKey>;
    // The accounts, each a LedgerAccount of views into what the ledger
    // holds (valid while it holds them): they are kept packed, a view of
    // them is made when asked for.
    class Accounts {
    public:
        explicit Accounts(const AccountLedger& ledger)
            : ledger_(ledger)
        {
        }
        size_t size() const { return ledger_.accounts_.size(); }
        bool empty() const { return ledger_.accounts_.empty(); }
        LedgerAccount operator[](size_t i) const { return ledger_.unpack(ledger_.accounts_[i]); }
        class const_iterator {
        public:
            const_iterator(const Accounts& accounts, size_t i)
                : accounts_(accounts),
                  i_(i)
            {
            }
            LedgerAccount operator*() const { return accounts_[i_]; }
            const_iterator& operator++()
            {
                ++i_;
                return *this;
            }
            bool operator!=(const const_iterator& other) const { return i_ != other.i_; }

        private:
            const Accounts& accounts_;
            size_t i_;
        };
        const_iterator begin() const { return {*this, 0}; }
        const_iterator end() const { return {*this, size()}; }

    private:
        const AccountLedger& ledger_;
    };
    Accounts accounts() const { return Accounts(*this); }
    // The user of accounts()[i] alone, and, for a merge in user order,
    // asking ahead for where it is and then for its bytes.
    QByteArrayView user(size_t i) const { return values_.at(accounts_[i].user); }
    [[gnu::always_inline]] void prefetchPlace(size_t i) const { __builtin_prefetch(&accounts_[i]); }
    [[gnu::always_inline]] void prefetchUser(size_t i) const { values_.prefetch(accounts_[i].user); }
    // Keys of accounts() in user order (see UserKey): one user an account.
    // A merge reads the hashes here rather than hash every user again.
    const UserKeys& byUser() const { return byUser_; }
    // Index of user (compared byte for byte, as htpasswd does), or -1.
    qsizetype find(QByteArrayView user) const;

    static uint32_t userHash(QByteArrayView user)
    {
        const uint64_t h = hashBytes(user);
        return uint32_t(h ^ (h >> 32));
    }
    static int compareUsers(uint32_t hashA, QByteArrayView a, uint32_t hashB, QByteArrayView b)
    {
        if (hashA != hashB)
            return hashA < hashB ? -1 : 1;
        return std::string_view(a.data(), size_t(a.size())).compare(std::string_view(b.data(), size_t(b.size())));
    }
    // Keys of users 0 .. n-1 (user(i) gives each) in user order, equal users
    // in the order of their index. twoCores: a big n is hashed and sorted
    // on a second core too.
    template <typename User>
    static UserKeys sortedUsers(size_t n, User user, bool twoCores = false)
    {
        UserKeys keys(n);
        const auto hash = [&keys, &user](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i)
                keys[i] = {userHash(user(i)), uint32_t(i)};
        };
        SideWork firstHalf(twoCores);
        firstHalf.start([&] { hash(0, n / 2); });
        hash(n / 2, n);
        firstHalf.join();
        // By hash without a comparison, in index order within a hash; only
        // the few keys that share a hash are compared, by their users.
        sortByHash(keys, twoCores);
        for (size_t g = 0, e = 0; g < n; g = e) {
            for (e = g + 1; e < n && keys[e].hash == keys[g].hash;)
                ++e;
            if (e - g > 1)
                std::stable_sort(keys.begin() + std::ptrdiff_t(g), keys.begin() + std::ptrdiff_t(e),
                    [&user](const UserKey& a, const UserKey& b) {
                        return compareUsers(a.hash, user(a.index), b.hash, user(b.index)) < 0;
                    });
        }
        return keys;
    }

    // Orders keys by hash, keeping the order of keys with the same hash: a
    // radix sort, two passes of 16 bits; twoCores: the keys of each top bit
    // of the hash on a core of their own.
    static void sortByHash(UserKeys& keys, bool twoCores = false);

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
    // The last line: how many account lines stand between it and the first.
    static QByteArray countLine(qsizetype accounts);

private:
    // What parsing carries from one line to the next: the unescaped
    // values, and the run stamps met first (most lines share a few), kept
    // once each.
    struct Parsing {
        qsizetype line = 0; // from 1
        QByteArray user, password;
        std::vector<uint32_t> stamps; // places in stamps_
    };
    // An account in 24 bytes, for a million of them: its run stamps are
    // places in a table of the few distinct ones.
    struct Packed {
        PackedValues::Value user, password;
        uint32_t firstRun, lastRun;
    };
    LedgerAccount unpack(const Packed& p) const
    {
        return {values_.at(p.user), values_.at(p.password), values_.at(stamps_[p.firstRun]),
            values_.at(stamps_[p.lastRun])};
    }
    uint32_t stamp(QByteArrayView value, Parsing* parsing);
    void parseLine(QByteArrayView line, Parsing& parsing);
    // Reads and judges the ledger file at path as it comes, a part at a
    // time.
    FileRead loadLedger(const QString& path, const QString& product, QString* reason);
    void reserveFor(QByteArrayView text);
    // Drops the accounts of the users of refused lines.
    // Keeps a copy of the account, or names its line among the refused.
    void admit(const LedgerAccount& account, qsizetype line, Parsing* parsing = nullptr);
    void dropRefused();
    // Orders the accounts by user; of a user's lines the first place and the
    // last values stay.
    void index();

    // A million accounts are a buffer of their values, not millions of
    // values.
    PackedValues values_;
    std::vector<Packed> accounts_;
    std::vector<PackedValues::Value> stamps_;
    UserKeys byUser_;
    QString source_;
    QString distrust_;
    std::vector<RefusedLine> refused_;
};

} // namespace og
