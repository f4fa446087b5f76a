#include "orders/OrderPass.h"

#include "orders/ReportFields.h"
#include "orders/ScriptRun.h"

namespace og {

void ScriptWriter::passwordLine(QByteArrayView user, QByteArrayView password)
{
    // The first password line creates .htpasswd anew, whatever its source.
    script_.beginLine();
    script_.appendToLine(first_ ? "htpasswd -bc .htpasswd " : "htpasswd -b .htpasswd ");
    first_ = false;
    wrote_ = true;
    appendShellWord(script_, user);
    script_.appendToLine(" ");
    appendShellWord(script_, password);
    script_.endLine();
    if (sink_ && script_.fileSize() >= kChunk)
        flush();
}

void ScriptWriter::flush()
{
    if (!sink_ || script_.isEmpty())
        return;
    if (!script_.writeTo(*sink_))
        failed_ = true;
    script_.reuse();
}

void passOrders(const OrderPassInput& in, qsizetype from, qsizetype to, ScriptWriter& writer, OrderPassOutput& out)
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
    LineBlock& addresses = out.addresses;
    for (qsizetype i = from; i < to; ++i) {
        const int product = report.productIndexOf(i);
        if (product < 0 || (!in.allProducts && product != in.product))
            continue;
        const QByteArrayView line = bytes::trimmed(report.lineBytes(i));
        const ReportLayout& layout = report.layoutOf(i);
        QByteArrayView date;
        if (dates)
            date = layout.orderDate(line, spillDate);
        QByteArrayView address = layout.orderAddress(line, spillAddress);
        // most customers are on no list: one filter test settles that
        bool listed = false;
        if (folded) {
            key.set(address);
            listed = lists.mayHold(key);
        }
        if (listed && checkBlocked && lists.isBlocked(key)) {
            ++out.blocked;
            continue;
        }
        const QByteArrayView order = layout.field(line, layout.order, spillOrder);
        // the account is made for the address of the report ...
        writer.passwordLine(address, order);

        // ... the notification goes to the newer one
        if (listed && checkUpdates) {
            const qsizetype k = lists.updateIndex(key);
            if (k >= 0) {
                address = lists.newAddresses().bytesAt(k);
                ++out.updated;
                if (trackAdmitted) {
                    key.set(address);
                    listed = true; // the new address is looked up in full
                }
            }
        }
        if (listed && trackAdmitted) {
            const qsizetype k = lists.admittedIndex(key);
            if (k >= 0)
                out.admittedWritten[size_t(k)] = 1;
        }

        QByteArrayView first, last;
        if (names) {
            first = layout.field(line, layout.firstName, spillFirst);
            last = layout.field(line, layout.lastName, spillLast);
        }
        addresses.beginLine();
        appendAddressLine(addresses, columns, {address, order, date, first, last});
        addresses.endLine();
        ++out.written;
    }
}

} // namespace og
