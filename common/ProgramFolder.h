#pragma once
#include <QString>

namespace og {

// The folder of the executable, ending in "/". When that folder is not
// writable (an installed copy), the per-user application data folder, created
// when missing, also ending in "/".
QString programFolder();

// The read-only data an installed copy carries (the help page): the data
// folder of the install prefix seen from the executable's folder
// (<prefix>/bin/../share/ordergate/), ending in "/". In the build tree it does
// not exist; there the help page sits beside the executable.
QString installedDataFolder();

// folder + "ordergate.ini"; folder must end in "/".
QString settingsPathIn(const QString& folder);

} // namespace og
