#include "orders/SavedLayouts.h"

#include "common/ProfileFile.h"

namespace og {

namespace {

using F = HeaderField;

const QString kPrefix = QStringLiteral("layout ");

struct FieldKey {
    HeaderField field;
    const char* key;
};
constexpr FieldKey kKeys[] = {
    {F::Order, "order"},
    {F::Product, "product"},
    {F::Email, "email"},
    {F::Name, "name"},
    {F::FirstName, "firstName"},
    {F::LastName, "lastName"},
    {F::Date, "date"},
};

QStringList split(const QString& value)
{
    QStringList names;
    for (const QString& name : value.split(u'|', Qt::SkipEmptyParts)) {
        if (const QString t = name.trimmed(); !t.isEmpty())
            names.append(t);
    }
    return names;
}

// The keys of the exclusion rules: "exclude"/"excludeValues" for the first,
// "exclude2"/"excludeValues2" for the second, so a layout saved with one rule
// reads as before.
QString exclusionKey(const char* key, int rule)
{
    return QString::fromLatin1(key) + (rule ? QString::number(rule + 1) : QString());
}

QString separatorText(char separator)
{
    return separator == '\t' ? QStringLiteral("tab") : separator ? QString(QChar::fromLatin1(separator)) : QString();
}

} // namespace

std::vector<HeaderRowLayout> loadSavedLayouts(const QString& settingsPath)
{
    const ProfileReader reader(settingsPath);
    std::vector<HeaderRowLayout> layouts;
    for (const QString& section : reader.sections()) {
        if (!section.startsWith(kPrefix, Qt::CaseInsensitive) || section.size() == kPrefix.size())
            continue;
        HeaderRowLayout l;
        l.name = section.mid(kPrefix.size()).trimmed();
        for (const FieldKey& k : kKeys)
            l[k.field] = split(reader.readString(section, QString::fromLatin1(k.key), {}));
        const QString separator = reader.readString(section, QStringLiteral("separator"), {}).trimmed();
        l.separator = separator.compare(u"tab", Qt::CaseInsensitive) == 0 ? '\t'
            : separator == u";"                                           ? ';'
            : separator == u","                                           ? ','
                                                                          : 0;
        l.dateFormat = reader.readString(section, QStringLiteral("dateFormat"), {});
        for (int rule = 0; rule < ReportLayout::kExclusions; ++rule) {
            const QStringList exclude = split(reader.readString(section, exclusionKey("exclude", rule), {}));
            if (!exclude.isEmpty())
                l.exclusions.push_back(
                    {exclude, split(reader.readString(section, exclusionKey("excludeValues", rule), {}))});
        }
        l.rowsPerItem = reader.readBool(section, QStringLiteral("rowsPerItem"), false);
        // the vendor named the columns: the ones named must be there
        layouts.push_back(std::move(l));
    }
    return layouts;
}

void saveLayout(const QString& settingsPath, const HeaderRowLayout& layout)
{
    const QString section = kPrefix + layout.name;
    for (const FieldKey& k : kKeys)
        ProfileFile::writeString(settingsPath, section, QString::fromLatin1(k.key), layout[k.field].join(u'|'));
    ProfileFile::writeString(settingsPath, section, QStringLiteral("separator"), separatorText(layout.separator));
    ProfileFile::writeString(settingsPath, section, QStringLiteral("dateFormat"), layout.dateFormat);
    for (int rule = 0; rule < ReportLayout::kExclusions; ++rule) {
        // a rule the layout no longer has is emptied, not left behind
        const HeaderRowLayout::Exclusion none;
        const auto& r = size_t(rule) < layout.exclusions.size() ? layout.exclusions[size_t(rule)] : none;
        if (rule && r.columns.isEmpty() && !ProfileReader(settingsPath).hasKey(section, exclusionKey("exclude", rule)))
            continue;
        ProfileFile::writeString(settingsPath, section, exclusionKey("exclude", rule), r.columns.join(u'|'));
        ProfileFile::writeString(settingsPath, section, exclusionKey("excludeValues", rule), r.values.join(u'|'));
    }
    ProfileFile::writeBool(settingsPath, section, QStringLiteral("rowsPerItem"), layout.rowsPerItem);
}

std::optional<HeaderRowLayout> findLayout(const std::vector<HeaderRowLayout>& saved, const QString& name)
{
    for (const HeaderRowLayout& l : saved) {
        if (l.name.compare(name, Qt::CaseInsensitive) == 0)
            return l;
    }
    for (const HeaderRowLayout& l : storeLayouts()) {
        if (l.name.compare(name, Qt::CaseInsensitive) == 0)
            return l;
    }
    return std::nullopt;
}

QStringList layoutDescription(const HeaderRowLayout& layout)
{
    QStringList lines;
    for (const FieldKey& k : kKeys) {
        if (!layout[k.field].isEmpty())
            lines.append(
                headerFieldName(k.field) + QStringLiteral(": ") + layout[k.field].join(QStringLiteral(" or ")));
    }
    lines.append(QStringLiteral("separator: ") +
        (layout.separator ? separatorText(layout.separator) : QStringLiteral("found from the header row")));
    lines.append(QStringLiteral("date format: ") +
        (layout.dateFormat.isEmpty() ? QStringLiteral("ISO 8601") : layout.dateFormat));
    const QString orWord = QStringLiteral(" or ");
    for (const HeaderRowLayout::Exclusion& rule : layout.exclusions) {
        QString line = QStringLiteral("excluded: ") + rule.columns.join(orWord) + QStringLiteral(" = ") +
            (rule.totalColumns.isEmpty() ? rule.values.join(orWord)
                                         : rule.totalColumns.join(orWord) + QStringLiteral(" (the whole amount)"));
        if (!rule.unlessColumns.isEmpty())
            line += QStringLiteral(", unless ") + rule.unlessColumns.join(orWord) + QStringLiteral(" = ") +
                rule.unlessValues.join(orWord);
        if (!rule.why.isEmpty())
            line += QStringLiteral(": ") + rule.why;
        lines.append(line);
    }
    if (!layout.doNotContact.columns.isEmpty())
        lines.append(QStringLiteral("do not contact (account made, address added to unsubscribed.txt): ") +
            layout.doNotContact.columns.join(orWord) + QStringLiteral(" = ") + layout.doNotContact.values.join(orWord));
    if (!layout.productEnds.isEmpty())
        lines.append(QStringLiteral("product: the text before ") + layout.productEnds.join(orWord));
    if (layout.optionalFields) {
        QStringList optional;
        for (const FieldKey& k : kKeys) {
            if (layout.isOptional(k.field) && !layout[k.field].isEmpty())
                optional.append(headerFieldName(k.field));
        }
        lines.append(QStringLiteral("may be missing: ") + optional.join(QStringLiteral(", ")));
    }
    if (layout.rowsPerItem)
        lines.append(QStringLiteral("one row per item: later rows take the order's first row"));
    return lines;
}

} // namespace og
