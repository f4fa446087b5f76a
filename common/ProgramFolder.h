#pragma once
#include <QString>

namespace og {

// The folder of the executable, ending in "/". When that folder is not
// writable (an installed copy), the per-user application data folder, created
// when missing, also ending in "/".
QString programFolder();

// folder + "ordergate.ini"; folder must end in "/".
QString settingsPathIn(const QString& folder);

} // namespace og
