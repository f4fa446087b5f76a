#include "orders/Options.h"

#include "common/ProfileFile.h"
#include "common/SettingsTable.h"

namespace og {

namespace {

using Key = SettingKey<Options, MissingAccounts>;

// Every key of the options, in the order they are saved.
const Key kKeys[] = {
    {{"options", "Pmask"}, &Options::Pmask},
    {{"options", "chmodProtect"}, &Options::chmodProtect},
    {{"options", "chmodAccess"}, &Options::chmodAccess},
    {{"options", "chmodPasswd"}, &Options::chmodPasswd},
    {{"options", "user"}, &Options::user},
    {{"options", "passwd"}, &Options::passwd},
    {{"options", "orderNr"}, &Options::orderNr},
    {{"options", "orderDate"}, &Options::orderDate},
    {{"options", "names"}, &Options::names},
    {{"options", "passhash"}, &Options::passhash},
    {{"options", "hidepasswords"}, &Options::hidepasswords},
    {{"options", "keepaccounts"}, &Options::keepaccounts},
};

const SettingName kListsFolder = {"options", "listsFolder"};

} // namespace

// keepaccounts: "1" keep, "0" drop, empty: ask.
bool parseSettingWord(const QString& text, MissingAccounts* value)
{
    *value = text.isEmpty()                   ? MissingAccounts::Ask
        : ProfileFile::parseBool(text, false) ? MissingAccounts::Keep
                                              : MissingAccounts::Drop;
    return true;
}

QString settingWord(MissingAccounts value)
{
    return value == MissingAccounts::Ask ? QString()
        : value == MissingAccounts::Keep ? QStringLiteral("1")
                                         : QStringLiteral("0");
}

Options loadOptions(const QString& settingsPath, const Options& current)
{
    const ProfileReader file(settingsPath);
    Options o = current;
    if (file.fileExists())
        readSettings(file, kKeys, o, current);
    return o;
}

void saveOptions(const QString& settingsPath, const Options& o)
{
    writeSettings(settingsPath, kKeys, o);
}

void writeAddressFilePath(const QString& settingsPath, const QString& efile)
{
    ProfileFile::writeString(
        settingsPath, QLatin1String(AddressFileSetting.section), QLatin1String(AddressFileSetting.name), efile);
}

QString readListsFolder(const QString& settingsPath)
{
    const QString folder = ProfileFile::readString(
        settingsPath, QLatin1String(kListsFolder.section), QLatin1String(kListsFolder.name), QString());
    return folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/';
}

void writeListsFolder(const QString& settingsPath, const QString& folder)
{
    ProfileFile::writeString(
        settingsPath, QLatin1String(kListsFolder.section), QLatin1String(kListsFolder.name), folder);
}

} // namespace og
