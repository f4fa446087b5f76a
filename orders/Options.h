#pragma once
// The options that shape the batch file and the address file, with the
// [options] keys of the settings file that hold them.

#include "common/AddressFile.h"

#include <QString>

namespace og {

// What a run does with the accounts of earlier runs that its report no
// longer holds: asks the vendor, keeps them or lets them go.
enum class MissingAccounts : uint8_t { Ask, Keep, Drop };

struct Options {
    QString Pmask = QStringLiteral("*.*");
    QString chmodProtect = QStringLiteral("777");
    QString chmodAccess = QStringLiteral("644");
    QString chmodPasswd = QStringLiteral("644");
    QString user = QStringLiteral("ChangeMe");
    QString passwd = QStringLiteral("ReplaceMeToo");
    bool orderNr = true;
    bool orderDate = false;
    bool names = false;
    // The account lines: the hash ("" the server's default, "bcrypt") and
    // whether passwords go to htpasswd on its standard input.
    QString passhash;
    bool hidepasswords = false;
    MissingAccounts keepaccounts = MissingAccounts::Ask;

    bool bcrypt() const { return passhash.compare(u"bcrypt", Qt::CaseInsensitive) == 0; }
    bool operator==(const Options&) const = default;
};

// The fields the address file's lines hold after the address.
inline AddressColumns addressColumns(const Options& options)
{
    return AddressColumns(options.orderNr, options.orderDate, options.names);
}

// The keys are one table in Options.cpp (common/SettingsTable.h). Every key
// missing from the file (or a missing file) keeps the value of current, as
// the main window's controls keep their state.
Options loadOptions(const QString& settingsPath, const Options& current);

// Writes all twelve keys in the order Pmask, chmodProtect, chmodAccess,
// chmodPasswd, user, passwd, orderNr, orderDate, names, then passhash,
// hidepasswords and keepaccounts ("1" keep, "0" drop, empty: ask). Throws
// ProfileWriteError; keys after the failing one are then not written.
void saveOptions(const QString& settingsPath, const Options& options);

// [options] efile (common/SettingsTable.h): the full path of the address
// file last made.
void writeAddressFilePath(const QString& settingsPath, const QString& efile);

// [options] listsFolder: the folder the vendor chose for the customer lists,
// ending in "/"; empty when none was chosen (the working folder then).
QString readListsFolder(const QString& settingsPath);
void writeListsFolder(const QString& settingsPath, const QString& folder);

} // namespace og
