#include "orders/StoreLayouts.h"

#include <QSet>
#include <algorithm>

namespace og {

namespace {

using F = HeaderField;

HeaderRowLayout gumroad()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Gumroad");
    l[F::Order] = {"Purchase ID", "Order Number"};
    l[F::Product] = {"Item Name"};
    l[F::Email] = {"Purchase Email", "Buyer Email"};
    l[F::Name] = {"Buyer Name"};
    l[F::Date] = {"Purchase Date"};
    l.exclusions = {{{"Refunded?"}, {"true"}}};
    return l;
}

HeaderRowLayout shopify()
{
    HeaderRowLayout l;
    l.name = QStringLiteral("Shopify");
    l[F::Order] = {"Name"};
    l[F::Product] = {"Lineitem name"};
    l[F::Email] = {"Email"};
    l[F::Name] = {"Billing Name"};
    l[F::Date] = {"Created at"};
    l.exclusions = {{{"Financial Status"}, {"refunded", "voided"}}};
    l.rowsPerItem = true;
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

// Header names compare ignoring letter case and blanks.
QString comparable(const QString& name)
{
    QString out;
    for (const QChar c : name) {
        if (!c.isSpace())
            out.append(c.toCaseFolded());
    }
    return out;
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
    QByteArray name, dateFormat, values[ReportLayout::kExclusions];
};

} // namespace

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
    static const HeaderRowLayout layouts[] = {gumroad(), shopify(), generic()};
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
        if (column.position < 0 && !layout[field].isEmpty())
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
    int k = 0;
    for (const HeaderRowLayout::Exclusion& rule : layout.exclusions) {
        const int column = columnOf(comparableHeader, rule.columns);
        if (column < 0 || k == ReportLayout::kExclusions)
            continue;
        for (const QString& value : rule.values)
            storage->values[k] += value.toLower().toUtf8() + '\n';
        r.exclusions[k] = {{column}, storage->values[k]};
        m.excludeAs.append(m.columns[column]);
        ++k;
    }
    m.storage = std::move(storage);
    return m;
}

} // namespace og
