#include "orders/OrderPass.h"

#include "orders/ReportFields.h"

#include <algorithm>
#include <bit>

namespace og {

namespace {

// An account event goes into the run's list and to the batch file. Its
// values that lie in lasting are not copied.
void take(const AccountEvent& event, BatchFile& batch, OrderPassOutput& out, QByteArrayView lasting = {})
{
    out.events.add(event);
    if (event.makesAccount())
        out.accounts.add(event.user, event.password, lasting);
    batch.account(event);
}

// The report's text from the first of two of its lines to the end of the
// other.
QByteArrayView spanOf(QByteArrayView a, QByteArrayView b)
{
    const char* from = std::min(a.data(), b.data());
    return QByteArrayView(from, std::max(a.data() + a.size(), b.data() + b.size()) - from);
}

// The customers a pass has taken, by the account's user (byte for byte, as
// htpasswd compares them): an open-addressing table of indexes into the
// views, which lie in the report's text or in held copies.
class SeenUsers {
public:
    explicit SeenUsers(qsizetype expected)
    {
        slots_.assign(std::bit_ceil(size_t(std::max<qsizetype>(expected, 8)) * 2), 0);
        users_.reserve(size_t(expected));
    }
    // Adds user; false when it was there already. lasting: the text user
    // may lie in, which outlives the pass.
    bool add(QByteArrayView user, QByteArrayView lasting)
    {
        size_t mask = slots_.size() - 1;
        size_t at = AccountLedger::userHash(user) & mask;
        for (; slots_[at]; at = (at + 1) & mask) {
            if (users_[slots_[at] - 1] == user)
                return false;
        }
        const bool inside = !lasting.isEmpty() && user.data() >= lasting.data() &&
            user.data() + user.size() <= lasting.data() + lasting.size();
        users_.push_back(inside ? user : held_.hold(user));
        slots_[at] = uint32_t(users_.size());
        if (users_.size() * 2 > slots_.size())
            grow();
        return true;
    }

private:
    void grow()
    {
        std::vector<uint32_t> table(slots_.size() * 2, 0);
        const size_t mask = table.size() - 1;
        for (size_t k = 0; k < users_.size(); ++k) {
            size_t at = AccountLedger::userHash(users_[k]) & mask;
            while (table[at])
                at = (at + 1) & mask;
            table[at] = uint32_t(k + 1);
        }
        slots_ = std::move(table);
    }

    std::vector<uint32_t> slots_;
    std::vector<QByteArrayView> users_;
    HeldBytes held_;
};

} // namespace

void passOrders(const OrderPassInput& in, qsizetype from, qsizetype to, BatchFile& batch, OrderPassOutput& out)
{
    const Report& report = *in.report;
    const CustomerLists& lists = *in.lists;
    const AddressColumns columns = addressColumns(*in.options);
    const bool dates = columns.has(AddressField::Date);
    const bool names = columns.has(AddressField::Name);
    const bool checkBlocked = !lists.blocked().isEmpty();
    const bool checkUpdates = !lists.newAddresses().isEmpty();
    const bool trackAdmitted = !lists.admitted().isEmpty();
    const bool folded = checkBlocked || checkUpdates || trackAdmitted;
    out.admittedWritten.assign(size_t(lists.admitted().size()), 0);

    FoldedKey key;
    QByteArray spillAddress, spillOrder, spillDate, spillFirst, spillLast;
    CsvFields lineCut, ownCut;
    LineBlock& addresses = out.addresses;
    // One account and one address line a customer: the several rows of one
    // order, or several orders under "All", give the first order's.
    SeenUsers seen(in.allProducts ? report.orderLineCount() : report.orderLineCount(in.product));
    for (qsizetype i = from; i < to; ++i) {
        const int product = report.productIndexOf(i);
        if (product < 0 || (!in.allProducts && product != in.product))
            continue;
        const QByteArrayView line = bytes::trimmed(report.lineBytes(i));
        const ReportLayout& layout = report.layoutOf(i);
        // the order's own fields: this line, or its order's first row
        const qsizetype own = report.orderFieldsLine(i);
        layout.cut(lineCut, line);
        if (own != i)
            layout.cut(ownCut, bytes::trimmed(report.lineBytes(own)));
        const CsvFields& fields = own == i ? lineCut : ownCut;
        QByteArrayView date;
        if (dates)
            date = layout.orderDate(fields, spillDate);
        QByteArrayView address = layout.orderAddress(fields, spillAddress);
        if (!seen.add(bytes::trimmed(address), spanOf(line, fields.record())))
            continue;
        // most customers are on no list: one filter test settles that
        bool listed = false;
        if (folded) {
            key.set(address);
            listed = lists.mayHold(key);
        }
        if (listed && checkBlocked && lists.isBlocked(key)) {
            take({AccountChange::Blocked, i}, batch, out);
            continue;
        }
        const QByteArrayView order = layout.field(lineCut, layout.order, spillOrder);
        // the account is made for the address of the report ...
        AccountEvent event {AccountChange::FromReport, i, address, order};

        // ... the notification goes to the newer one
        if (listed && checkUpdates) {
            const qsizetype k = lists.updateIndex(key);
            if (k >= 0) {
                address = lists.newAddresses().bytesAt(k);
                event.change = AccountChange::AddressChanged;
                if (trackAdmitted) {
                    key.set(address);
                    listed = true; // the new address is looked up in full
                }
            }
        }
        take(event, batch, out, spanOf(line, fields.record()));
        if (listed && trackAdmitted) {
            const qsizetype k = lists.admittedIndex(key);
            if (k >= 0)
                out.admittedWritten[size_t(k)] = 1;
        }

        QByteArrayView first, last;
        if (names)
            layout.names(fields, spillFirst, spillLast, &first, &last);
        addresses.beginLine();
        appendAddressLine(addresses, columns, {address, order, date, first, last});
        addresses.endLine();
    }
}

void passAdmitted(const OrderPassInput& in, const QString& product, BatchFile& batch, OrderPassOutput& out)
{
    const CustomerLists& lists = *in.lists;
    if (lists.admitted().isEmpty())
        return;
    const AddressColumns listed = addressColumns(*in.options).listedCustomer();
    const auto admitted = lists.extraCustomers(product, [&](const QString& a) {
        const qsizetype k = lists.admittedIndexUtf8(QByteArrayView(a.toUtf8()));
        return k >= 0 && out.admittedWritten[size_t(k)];
    });
    SeenUsers seen(qsizetype(admitted.size()));
    for (const ExtraCustomer& extra : admitted) {
        const QByteArray address = extra.address.toUtf8();
        const QByteArray order = extra.orderNumber.toUtf8();
        if (order.isEmpty() || accountValueFault(address, order) != AccountValueFault::None) {
            out.admittedRefused.push_back(extra.entry);
            continue;
        }
        if (!seen.add(address, {}))
            continue; // listed twice: the first entry's account and line
        take({AccountChange::Added, extra.entry, address, order}, batch, out);
        out.addresses.beginLine();
        appendAddressLine(out.addresses, listed, {address, order, {}, {}, {}});
        out.addresses.endLine();
    }
}

} // namespace og
