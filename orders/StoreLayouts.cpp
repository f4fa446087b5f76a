#include "orders/StoreLayouts.h"

#include <QSet>
#include <algorithm>

namespace og {

namespace {

using F = HeaderField;

// The words that say yes in a store's true/false columns.
const QStringList kYes = {"true", "yes", "1"};

// Sales export of the vendor's dashboard. A refund is "Fully Refunded?" where
// the export has it (a partial refund keeps the purchase); a dispute counts
// unless the vendor won it.
HeaderRowLayout gumroad()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Gumroad");
    l[F::Order] = {"Purchase ID", "Order Number"};
    l[F::Product] = {"Item Name"};
    l[F::Email] = {"Purchase Email", "Buyer Email"};
    l[F::Name] = {"Buyer Name"};
    l[F::Date] = {"Purchase Date"};
    l.exclusions = {{{"Fully Refunded?", "Refunded?"}, kYes, "refunded"},
        {{"Disputed?"}, kYes, "disputed, not won", {"Dispute Won?"}, kYes}};
    l.doNotContact = {{"Do not contact?"}, kYes};
    return l;
}

// Orders export: a row per item, the order's fields on its first row only.
HeaderRowLayout shopify()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Shopify");
    l[F::Order] = {"Name"};
    l[F::Product] = {"Lineitem name"};
    l[F::Email] = {"Email"};
    l[F::Name] = {"Billing Name"};
    l[F::Date] = {"Created at"};
    l.exclusions = {{{"Financial Status"}, {"refunded", "voided"}, "refunded or voided"},
        {{"Refunded Amount"}, {}, "fully refunded", {}, {}, {"Total"}}};
    l.rowsPerItem = true;
    return l;
}

// Transactions report (or its transaction line items report), column names
// as the Paddle API's fields. Only completed and paid transactions are
// sales; refunds and chargebacks are in the adjustments report
// (PaddleAdjustments.h).
HeaderRowLayout paddle()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Paddle");
    l[F::Order] = {"transaction_id", "id"};
    l[F::Product] = {"product_name", "price_ids"};
    l[F::Email] = {"customer_email"};
    l[F::Date] = {"billed_at", "created_at"};
    l.exclusions = {{{"status"}, {"draft", "ready", "billed", "canceled", "past_due"}, "not paid"}};
    return l;
}

// Its orders export's columns are not documented: the names of the API's
// order object, which an export written from it would carry.
HeaderRowLayout lemonSqueezy()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Lemon Squeezy");
    l[F::Order] = {"order_number", "identifier"};
    l[F::Product] = {"product_name", "first_order_item"};
    l[F::Email] = {"user_email"};
    l[F::Name] = {"user_name"};
    l[F::Date] = {"created_at"};
    l.setOptional(F::Name);
    l.exclusions = {{{"status"}, {"pending", "failed", "refunded"}, "not paid or refunded"},
        {{"refunded_amount"}, {}, "fully refunded", {}, {}, {"total"}}};
    return l;
}

// Payments export (Downloads > Reports > Export). "Payment Number" only
// when sequential numbers are on; "Products (Raw)" is "name|price{tax}", a
// cart's items joined by " / ": the first item's name is the product.
HeaderRowLayout easyDigitalDownloads()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Easy Digital Downloads");
    l[F::Order] = {"Payment Number", "Payment ID", "Order Number", "Order ID", "ID"};
    l[F::Product] = {"Products (Raw)", "Products (Verbose)", "Products"};
    l[F::Email] = {"Email"};
    l[F::FirstName] = {"First Name"};
    l[F::LastName] = {"Last Name"};
    l[F::Date] = {"Date"};
    l.productEnds = {"|", " - ", " / "};
    l.exclusions = {{{"Status"},
                        {"pending", "refunded", "failed", "abandoned", "revoked", "cancelled", "processing",
                            "preapproval", "on hold", "on_hold"},
                        "not complete"},
        {{"Mode (Live|Test)", "Mode"}, {"test"}, "test payment"}};
    return l;
}

// Payments export of the dashboard (Payment Links and Checkout included).
HeaderRowLayout stripe()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Stripe");
    l[F::Order] = {"id", "PaymentIntent ID"};
    l[F::Product] = {"Description"};
    l[F::Email] = {"Customer Email"};
    l[F::Name] = {"Card Name", "Customer Name"};
    l[F::Date] = {"Created (UTC)", "Created date (UTC)"};
    l.setOptional(F::Name);
    l.exclusions = {
        {{"Status"}, {"refunded", "failed", "canceled", "incomplete", "uncaptured", "blocked"}, "refunded or failed"},
        {{"Dispute Status"}, {"lost"}, "dispute lost"},
        {{"Amount Refunded"}, {}, "fully refunded", {}, {}, {"Amount"}}};
    return l;
}

// Orders export of the dashboard (and of its API's orders/export).
HeaderRowLayout polar()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Polar");
    l[F::Order] = {"Invoice number"};
    l[F::Product] = {"Product"};
    l[F::Email] = {"Email"};
    l[F::Name] = {"Customer Name", "Billing Name"};
    l[F::Date] = {"Created At"};
    l.setOptional(F::Name);
    l.exclusions = {{{"Status"}, {"pending", "refunded", "void"}, "not paid or refunded"},
        {{"Refunded Amount"}, {}, "fully refunded", {}, {}, {"Total"}}};
    return l;
}

HeaderRowLayout generic()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Generic");
    l[F::Order] = {"order", "order id", "order number", "transaction id", "invoice number"};
    l[F::Product] = {"product", "product name", "item", "item name"};
    l[F::Email] = {"email", "e-mail", "customer email", "buyer email"};
    l[F::Name] = {"name", "customer name", "buyer name", "billing name"};
    l[F::Date] = {"date", "order date", "created at", "purchase date"};
    l.exclusions = {{{"status", "financial status", "payment status", "order status"},
                        {"refunded", "voided", "chargeback", "test"}},
        {{"refunded", "refunded?", "test", "test order"}, {"true", "yes"}}};
    l.everyFieldNeeded = false;
    return l;
}

QString comparable(const QString& name)
{
    return comparableHeaderName(name);
}

// The column of the first name found; skip: found names passed over first.
int columnOf(const QStringList& comparableHeader, const QStringList& names, int skip = 0)
{
    for (const QString& name : names) {
        const qsizetype at = comparableHeader.indexOf(comparable(name));
        if (at >= 0 && skip-- == 0)
            return int(at);
    }
    return -1;
}

struct Storage {
    QByteArray name, dateFormat, productEnd, values[ReportLayout::kExclusions], unlessValues[ReportLayout::kExclusions],
        doNotContact;
};

// values lower-case, each ended by '\n' (ReportExclusion).
QByteArray valueList(const QStringList& values)
{
    QByteArray out;
    for (const QString& value : values)
        out += value.toLower().toUtf8() + '\n';
    return out;
}

} // namespace

QString comparableHeaderName(const QString& name)
{
    QString out;
    for (const QChar c : name) {
        if (!c.isSpace() && c != u'_')
            out.append(c.toCaseFolded());
    }
    return out;
}

QString headerFieldName(HeaderField field)
{
    switch (field) {
    case F::Order:
        return QStringLiteral("order number");
    case F::Product:
        return QStringLiteral("product");
    case F::Email:
        return QStringLiteral("customer e-mail");
    case F::Name:
        return QStringLiteral("customer name");
    case F::FirstName:
        return QStringLiteral("first name");
    case F::LastName:
        return QStringLiteral("last name");
    case F::Date:
        return QStringLiteral("order date");
    case F::Count:
        break;
    }
    return {};
}

std::span<const HeaderRowLayout> storeLayouts()
{
    static const HeaderRowLayout layouts[] = {
        gumroad(), shopify(), paddle(), lemonSqueezy(), easyDigitalDownloads(), stripe(), polar(), generic()};
    return layouts;
}

char headerSeparator(QByteArrayView header)
{
    char best = ',';
    qsizetype most = 0;
    for (const char c : {',', ';', '\t'}) {
        if (const qsizetype n = header.count(c); n > most) {
            most = n;
            best = c;
        }
    }
    return best;
}

QStringList headerColumns(QByteArrayView header, char separator)
{
    const CsvReader csv {separator, CsvQuoting::Rfc4180};
    QStringList columns;
    QByteArray spill;
    const int count = std::min(csv.fieldCount(header), 1000);
    for (int n = 0; n < count; ++n)
        columns.append(QString::fromUtf8(csv.field(header, n, spill)));
    return columns;
}

std::optional<MatchedLayout> matchHeader(const HeaderRowLayout& layout, QByteArrayView header, QStringList* missing)
{
    const char separator = layout.separator ? layout.separator : headerSeparator(header);
    MatchedLayout m;
    m.name = layout.name;
    m.columns = headerColumns(header, separator);
    QStringList comparableHeader;
    for (const QString& c : std::as_const(m.columns))
        comparableHeader.append(comparable(c));

    ReportLayout& r = m.layout;
    r.headerRow = true;
    r.csv = CsvReader(separator, CsvQuoting::Rfc4180);
    r.addressRule = ReportAddressRule::InColumn;
    r.dateRule = ReportDateRule::Calendar;
    r.rowsPerItem = layout.rowsPerItem;
    QStringList notFound;
    auto find = [&](HeaderField field, ReportColumn& column) {
        column.position = columnOf(comparableHeader, layout[field]);
        if (column.position < 0 && !layout[field].isEmpty() && !layout.isOptional(field))
            notFound.append(
                headerFieldName(field) + QStringLiteral(" (") + layout[field].join(QStringLiteral(" or ")) + u')');
        return column.position >= 0;
    };
    const bool order = find(F::Order, r.order), email = find(F::Email, r.address);
    r.addressElse.position = columnOf(comparableHeader, layout[F::Email], 1);
    find(F::Product, r.product);
    find(F::Date, r.date);
    if (!layout[F::Name].isEmpty()) {
        r.wholeName = find(F::Name, r.firstName);
    } else {
        find(F::FirstName, r.firstName);
        find(F::LastName, r.lastName);
    }
    if (missing)
        *missing = notFound;
    if (!order || !email || (layout.everyFieldNeeded && !notFound.isEmpty()))
        return std::nullopt;

    auto storage = std::make_shared<Storage>();
    storage->name = layout.name.toLatin1();
    storage->dateFormat = layout.dateFormat.toUtf8();
    r.name = QLatin1StringView(storage->name);
    r.dateFormat = storage->dateFormat;
    storage->productEnd = layout.productEnds.join(u'\n').toUtf8();
    r.productEnd = storage->productEnd;
    int k = 0;
    for (const HeaderRowLayout::Exclusion& rule : layout.exclusions) {
        const int column = columnOf(comparableHeader, rule.columns);
        const int total = rule.totalColumns.isEmpty() ? -1 : columnOf(comparableHeader, rule.totalColumns);
        if (column < 0 || (!rule.totalColumns.isEmpty() && total < 0) || k == ReportLayout::kExclusions)
            continue;
        storage->values[k] = valueList(rule.values);
        storage->unlessValues[k] = valueList(rule.unlessValues);
        ReportExclusion& e = r.exclusions[k];
        e = {{column}, storage->values[k], {columnOf(comparableHeader, rule.unlessColumns)}, storage->unlessValues[k],
            {total}};
        m.excludeAs.append(m.columns[column]);
        m.excludeWhy.append(rule.why);
        m.excludeTotal.append(total < 0 ? QString() : m.columns[total]);
        ++k;
    }
    storage->doNotContact = valueList(layout.doNotContact.values);
    r.doNotContact = {{columnOf(comparableHeader, layout.doNotContact.columns)}, storage->doNotContact};
    m.storage = std::move(storage);
    return m;
}

} // namespace og
