#pragma once
// Reports with a header row: which header names may hold each field of an
// order, for the built-in stores and the vendor's own saved layouts, and
// how a header row is matched and turned into a ReportLayout.

#include "orders/ReportLayout.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace og {

// The fields a header-row layout finds by name.
enum class HeaderField : uint8_t { Order, Product, Email, Name, FirstName, LastName, Date, Count };

// One layout as its header names describe it. Names are compared ignoring
// letter case and blanks; the first name of a field's list found in the
// header is its column.
struct HeaderRowLayout {
    QString name;
    QStringList columns[int(HeaderField::Count)];
    char separator = 0; // ',', ';' or '\t'; 0: the one the header row uses most
    QString dateFormat; // empty: ISO 8601, RFC 3339
    // A rule as ReportExclusion applies it; each list of names is read like
    // a field's (the first found is the column).
    struct Exclusion {
        QStringList columns {};
        QStringList values {}; // compared ignoring case
        // How the statistics name the reason ("refunded"); empty: by the
        // column and its value alone.
        QString why {};
        // Not excluded when this column holds one of these values.
        QStringList unlessColumns {};
        QStringList unlessValues {};
        // An amount rule: excluded when columns' amount is the whole of this
        // column's (values then unused).
        QStringList totalColumns {};
    };
    std::vector<Exclusion> exclusions; // at most ReportLayout::kExclusions
    // The customer asked not to be mailed (columns and values only).
    Exclusion doNotContact;
    bool rowsPerItem = false;
    // false: order number and e-mail suffice (the generic layout); true:
    // every field with names must be found (a store's documented export),
    // but those in optionalFields.
    bool everyFieldNeeded = true;
    uint8_t optionalFields = 0; // a bit per HeaderField
    // Where the product's name ends in its column (ReportLayout::productEnd).
    QStringList productEnds;

    void setOptional(HeaderField f) { optionalFields |= uint8_t(1u << unsigned(f)); }
    bool isOptional(HeaderField f) const { return optionalFields & (1u << unsigned(f)); }

    QStringList& operator[](HeaderField f) { return columns[int(f)]; }
    const QStringList& operator[](HeaderField f) const { return columns[int(f)]; }
};

// A field's name as the vendor reads it ("order number", "customer e-mail").
QString headerFieldName(HeaderField field);

// The stores' own exports (Gumroad, Shopify, Paddle, Lemon Squeezy, Easy
// Digital Downloads, Stripe, Polar), then the generic layout of common header
// names.
std::span<const HeaderRowLayout> storeLayouts();

// The separator a header row uses most among ',', ';' and tab (',' if none).
char headerSeparator(QByteArrayView header);
// Header names compare ignoring letter case, blanks and underscores:
// "customer_email" is "Customer Email".
QString comparableHeaderName(const QString& name);
// The column names of a header row, trimmed.
QStringList headerColumns(QByteArrayView header, char separator);

// A header-row layout read against one header: the ReportLayout the intake
// uses, and the strings its views point into.
struct MatchedLayout {
    ReportLayout layout;
    QString name;
    QStringList columns;   // the header's columns
    QStringList excludeAs; // per exclusion: its column's name as the header spells it
    // per exclusion: its reason ("refunded"; may be empty), and for an amount
    // rule the total's column as the header spells it (else empty)
    QStringList excludeWhy, excludeTotal;
    std::shared_ptr<const void> storage;
};

// The layout read against header when its order number and e-mail columns
// are there (and every other field it needs); otherwise nothing, and missing
// (when given) names the fields not found.
std::optional<MatchedLayout> matchHeader(
    const HeaderRowLayout& layout, QByteArrayView header, QStringList* missing = nullptr);

} // namespace og
