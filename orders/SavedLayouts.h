#pragma once
// The vendor's own header-row layouts: [layout NAME] sections of the
// settings file, read and written through the one settings-file reader and
// writer. Keys: order, product, email, name (or firstName and lastName),
// date (header names, several as "A|B"), separator (",", ";" or "tab";
// none: found from the header row), dateFormat (a Qt date format such as
// dd.MM.yyyy; none: ISO 8601), exclude (a column) and excludeValues ("A|B"),
// rowsPerItem (1: later rows of an order take the first row's fields).

#include "orders/StoreLayouts.h"

#include <QString>
#include <vector>

namespace og {

// Every [layout NAME] section, in the order of the file.
std::vector<HeaderRowLayout> loadSavedLayouts(const QString& settingsPath);

// Writes layout as its section. Throws ProfileWriteError.
void saveLayout(const QString& settingsPath, const HeaderRowLayout& layout);

// The saved or built-in layout of that name (ignoring case), saved first;
// nothing when there is none.
std::optional<HeaderRowLayout> findLayout(const std::vector<HeaderRowLayout>& saved, const QString& name);

// One line per field: "order number: Purchase ID or Order Number", then the
// separator, date format, exclusions and the rows-per-item rule.
QStringList layoutDescription(const HeaderRowLayout& layout);

} // namespace og
