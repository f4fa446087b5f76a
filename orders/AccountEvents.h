#pragma once
// What a run of the first job did with each customer's account, in the
// order it did it: the batch file is written from these events as they
// come, and the run statistics are counted from their list afterwards.

#include "orders/Prefault.h"

#include <QByteArrayView>
#include <QtGlobal>
#include <cstdint>
#include <vector>

namespace og {

enum class AccountChange : uint8_t {
    // An order of the report: its account, and its address line.
    FromReport,
    // An order whose customer has a new address in Address.txt: the account
    // for the report's address, the address line for the new one.
    AddressChanged,
    // An order of a customer in bozos.txt: no account, no address line.
    Blocked,
    // A customer of goodguys.txt the report did not give: an account and an
    // address line with the entry's order number.
    Added,
};

static_assert(uint8_t(AccountChange::Added) < 4, "AccountEvents::Entry keeps a change in two bits");

struct AccountEvent {
    AccountChange change;
    // The report line (from 0) of an order, or the goodguys.txt entry (from
    // 0) of an added customer.
    qsizetype source;
    // The account's user name and password (UTF-8; empty when blocked). They
    // point into the report or the lists and hold only while the event is
    // handed on: the list keeps neither.
    QByteArrayView user = {};
    QByteArrayView password = {};

    bool makesAccount() const { return change != AccountChange::Blocked; }
};

// The statistics lines' numbers.
struct AccountCounts {
    qint64 written = 0; // report orders with an account (changed addresses too)
    qint64 blocked = 0;
    qint64 updated = 0; // of the written, those with a changed address
    qint64 extra = 0;   // added from goodguys.txt
};

class AccountEvents {
public:
    // One event as the list keeps it: eight bytes, for a million orders.
    class Entry {
    public:
        Entry(qsizetype source, AccountChange change)
            : packed_(uint64_t(source) << 2 | uint64_t(change))
        {
        }
        qsizetype source() const { return qsizetype(packed_ >> 2); }
        AccountChange change() const { return AccountChange(packed_ & 3); }

    private:
        uint64_t packed_;
    };

    void reserve(qsizetype events)
    {
        entries_.reserve(size_t(events));
        prefaultForWrite(entries_.data(), entries_.capacity() * sizeof(Entry));
    }
    void add(const AccountEvent& event) { entries_.emplace_back(event.source, event.change); }

    const std::vector<Entry>& entries() const { return entries_; }
    AccountCounts counts() const;

private:
    std::vector<Entry> entries_;
};

} // namespace og
