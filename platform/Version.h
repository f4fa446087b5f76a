#pragma once

#include <QString>

class QWidget;

namespace og {

class Platform;

// The application's title: message box captions, the single-instance guard's
// name and the lock file all use it.
inline constexpr const char* ApplicationTitle = "Ordergate";

// A string of the program's version information by key: "ProductName",
// "FileDescription", "ProductVersion", "CompanyName", "Comments". The values
// are compiled in (the product version is the build's project version); an
// unknown key gives an empty text, as a missing entry always did.
QString VersionString(const QString& key);

// Opens a help topic such as "index.html#guide". When the page (the topic up
// to its first "#") exists in folder (which ends in "/") or, failing that, in
// the installed data folder, the local file is opened with the fragment kept;
// otherwise the vendor's home page base plus the whole topic. A page that
// cannot be opened is said in an error box over parent.
void OpenHelpPage(Platform& platform, const QString& topic, const QString& folder, QWidget* parent = nullptr);

// The same with the program's own folder.
void OpenHelpPage(Platform& platform, const QString& topic);

} // namespace og
