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
    struct Exclusion {
        QStringList columns;
        QStringList values; // compared ignoring case
    };
    std::vector<Exclusion> exclusions; // at most ReportLayout::kExclusions
    bool rowsPerItem = false;
    // false: order number and e-mail suffice (the generic layout); true:
    // every field with names must be found (a store's documented export).
    bool everyFieldNeeded = true;

    QStringList& operator[](HeaderField f) { return columns[int(f)]; }
    const QStringList& operator[](HeaderField f) const { return columns[int(f)]; }
};

// A field's name as the vendor reads it ("order number", "customer e-mail").
QString headerFieldName(HeaderField field);

// Gumroad, Shopify, then the generic layout of common header names.
std::span<const HeaderRowLayout> storeLayouts();

// The separator a header row uses most among ',', ';' and tab (',' if none).
char headerSeparator(QByteArrayView header);
// The column names of a header row, trimmed.
QStringList headerColumns(QByteArrayView header, char separator);

// A header-row layout read against one header: the ReportLayout the intake
// uses, and the strings its views point into.
struct MatchedLayout {
    ReportLayout layout;
    QString name;
    QStringList columns;   // the header's columns
    QStringList excludeAs; // per exclusion: its column's name as the header spells it
    std::shared_ptr<const void> storage;
};

// The layout read against header when its order number and e-mail columns
// are there; otherwise nothing, and missing (when given) names the fields
// not found.
std::optional<MatchedLayout> matchHeader(
    const HeaderRowLayout& layout, QByteArrayView header, QStringList* missing = nullptr);

} // namespace og
