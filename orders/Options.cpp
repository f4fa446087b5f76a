#include "orders/Options.h"

#include "common/ProfileFile.h"

namespace og {

namespace {

void loadAccountOptions(const ProfileReader& file, Options& o, const Options& current)
{
    const QString s = optionsSection();
    o.passhash = file.readString(s, "passhash", current.passhash);
    o.hidepasswords = file.readBool(s, "hidepasswords", current.hidepasswords);
    const QString keep = file.readString(s, "keepaccounts", QStringLiteral("?"));
    o.keepaccounts = keep == u"?"             ? current.keepaccounts
        : keep.isEmpty()                      ? MissingAccounts::Ask
        : ProfileFile::parseBool(keep, false) ? MissingAccounts::Keep
                                              : MissingAccounts::Drop;
}

void saveAccountOptions(const QString& settingsPath, const Options& o)
{
    const QString s = optionsSection();
    ProfileFile::writeString(settingsPath, s, "passhash", o.passhash);
    ProfileFile::writeBool(settingsPath, s, "hidepasswords", o.hidepasswords);
    ProfileFile::writeString(settingsPath, s, "keepaccounts",
        o.keepaccounts == MissingAccounts::Ask        ? QString()
            : o.keepaccounts == MissingAccounts::Keep ? QStringLiteral("1")
                                                      : QStringLiteral("0"));
}

} // namespace

Options loadOptions(const QString& settingsPath, const Options& current)
{
    const ProfileReader file(settingsPath);
    if (!file.fileExists())
        return current;
    const QString s = optionsSection();
    Options o;
    o.Pmask = file.readString(s, "Pmask", current.Pmask);
    o.chmodProtect = file.readString(s, "chmodProtect", current.chmodProtect);
    o.chmodAccess = file.readString(s, "chmodAccess", current.chmodAccess);
    o.chmodPasswd = file.readString(s, "chmodPasswd", current.chmodPasswd);
    o.user = file.readString(s, "user", current.user);
    o.passwd = file.readString(s, "passwd", current.passwd);
    o.orderNr = file.readBool(s, "orderNr", current.orderNr);
    o.orderDate = file.readBool(s, "orderDate", current.orderDate);
    o.names = file.readBool(s, "names", current.names);
    loadAccountOptions(file, o, current);
    return o;
}

void saveOptions(const QString& settingsPath, const Options& o)
{
    const QString s = optionsSection();
    ProfileFile::writeString(settingsPath, s, "Pmask", o.Pmask);
    ProfileFile::writeString(settingsPath, s, "chmodProtect", o.chmodProtect);
    ProfileFile::writeString(settingsPath, s, "chmodAccess", o.chmodAccess);
    ProfileFile::writeString(settingsPath, s, "chmodPasswd", o.chmodPasswd);
    ProfileFile::writeString(settingsPath, s, "user", o.user);
    ProfileFile::writeString(settingsPath, s, "passwd", o.passwd);
    ProfileFile::writeBool(settingsPath, s, "orderNr", o.orderNr);
    ProfileFile::writeBool(settingsPath, s, "orderDate", o.orderDate);
    ProfileFile::writeBool(settingsPath, s, "names", o.names);
    saveAccountOptions(settingsPath, o);
}

void writeAddressFilePath(const QString& settingsPath, const QString& efile)
{
    ProfileFile::writeString(settingsPath, optionsSection(), "efile", efile);
}

QString readListsFolder(const QString& settingsPath)
{
    const QString folder = ProfileFile::readString(settingsPath, optionsSection(), "listsFolder", QString());
    return folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/';
}

void writeListsFolder(const QString& settingsPath, const QString& folder)
{
    ProfileFile::writeString(settingsPath, optionsSection(), "listsFolder", folder);
}

} // namespace og
