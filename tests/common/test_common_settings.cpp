// The settings file: profile rules, the options and efile.

#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "orders/Options.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace og;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("ordergate.ini");

    void write(const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(SettingsFile, ReadsSectionsAndKeysIgnoringCaseAndBlanks)
{
    write("; vendor settings\r\n"
          "[Other]\r\nPmask=wrong\r\n"
          "  [ OPTIONS ]  \r\n"
          "  pMASK  =   *.zip  \r\n"
          "Pmask=second\r\n"
          "user=\"quoted name\"\r\n"
          "efile=C:\\Program Files\\Ordergate\\email_Tool.txt\r\n");
    EXPECT_EQ(ProfileFile::readString(path, "options", "Pmask", "d"), "*.zip"); // first one wins
    EXPECT_EQ(ProfileFile::readString(path, "options", "user", "d"), "quoted name");
    EXPECT_EQ(ProfileFile::readString(path, "Options", "EFILE", "d"),
        "C:\\Program Files\\Ordergate\\email_Tool.txt"); // backslashes read unchanged
    EXPECT_EQ(ProfileFile::readString(path, "options", "missing", "dflt"), "dflt");
    EXPECT_EQ(ProfileFile::readString(path, "nosection", "Pmask", "dflt"), "dflt");
    EXPECT_EQ(ProfileFile::readString(dir.filePath("none.ini"), "options", "Pmask", "dflt"), "dflt");
}

TEST_F(SettingsFile, TextValuesAreCutTo1023Characters)
{
    write("[options]\nuser=" + QByteArray(2000, 'u') + "\n");
    EXPECT_EQ(ProfileFile::readString(path, "options", "user", "").size(), 1023);
}

TEST_F(SettingsFile, OldWindows1252FilesReadAsMeant)
{
    write("[user]\r\nname=Ren\xe9 M\xfcller\r\n");
    EXPECT_EQ(ProfileFile::readString(path, "user", "name", ""), u"Ren\u00e9 M\u00fcller");
}

TEST(ProfileBooleans, WholeNumbersOtherThanZeroAreOn)
{
    const struct {
        const char* text;
        bool fromTrue;
        bool fromFalse;
    } cases[] = {
        {"1", true, true},
        {"0", false, false},
        {"7", true, true},
        {"-1", true, true},
        {"0x1", true, true},
        {"0x0", false, false},
        {"0XfF", true, true},
        {"00", false, false},
        {"yes", true, false},
        {"", true, false},
        {"1a", true, false},
        {"0x", true, false},
        {"0xg", true, false},
        {"99999999999", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProfileFile::parseBool(c.text, true), c.fromTrue) << c.text;
        EXPECT_EQ(ProfileFile::parseBool(c.text, false), c.fromFalse) << c.text;
    }
}

TEST_F(SettingsFile, WritingKeepsEverythingElseAndItsLineEnds)
{
    const QByteArray before = "; comment\r\n[mail]\r\nserver=smtp.example.com\r\n\r\n"
                              "[options]\r\nPmask=*.*\r\nuser=ChangeMe\r\n\r\n[user]\r\nname=Ann\r\n";
    write(before);
    ProfileFile::writeString(path, "OPTIONS", "USER", "tester");
    QByteArray expected = before;
    expected.replace("user=ChangeMe", "USER=tester");
    EXPECT_EQ(read(), expected);

    // a new key goes to the end of its section, before the blank line
    ProfileFile::writeBool(path, "options", "names", true);
    expected.replace("USER=tester\r\n", "USER=tester\r\nnames=1\r\n");
    EXPECT_EQ(read(), expected);

    // a new section is appended
    ProfileFile::writeBool(path, "extra", "flag", false);
    EXPECT_EQ(read(), expected + "[extra]\r\nflag=0\r\n");
}

TEST_F(SettingsFile, WritingAFileWithLfEndsKeepsLf)
{
    write("[options]\nPmask=*.*"); // no line end after the last line
    ProfileFile::writeString(path, "options", "user", "x");
    EXPECT_EQ(read(), QByteArray("[options]\nPmask=*.*\nuser=x\n"));
}

TEST_F(SettingsFile, WritingCreatesAMissingFile)
{
    ASSERT_FALSE(ProfileFile::exists(path));
    ProfileFile::writeString(path, "options", "efile", u"/home/v/email_Caf\u00e9.txt"_s);
    EXPECT_TRUE(ProfileFile::exists(path));
    EXPECT_EQ(read(), QByteArray("[options]\r\nefile=/home/v/email_Caf\xc3\xa9.txt\r\n"));
    EXPECT_EQ(ProfileFile::readString(path, "options", "efile", ""), u"/home/v/email_Caf\u00e9.txt");
}

TEST_F(SettingsFile, ALineBreakInAValueCannotAddKeys)
{
    ProfileFile::writeString(path, "options", "efile", "/tmp/a\nuser=intruder\r\n[x]");
    EXPECT_EQ(ProfileFile::readString(path, "options", "user", "none"), "none");
    EXPECT_EQ(ProfileFile::readString(path, "options", "efile", ""), "/tmp/a user=intruder  [x]");
}

TEST_F(SettingsFile, ACtrlZInAValueHidesNothing)
{
    // Found by fuzz/fuzz_settings: the reader stopped at a Ctrl-Z that the
    // writer had stored inside a value, and every later key was lost.
    write("[options]\r\nefile=old\r\n[user]\r\nemail=vendor@example.com\r\n");
    ProfileFile::writeString(path, "options", "efile", "email_Tool\x1aPro.txt");
    ProfileFile::writeString(path, "options", "log", "1");
    EXPECT_EQ(ProfileFile::readString(path, "options", "efile", ""), "email_Tool\x1aPro.txt");
    EXPECT_EQ(ProfileFile::readString(path, "options", "log", ""), "1");
    EXPECT_EQ(ProfileFile::readString(path, "user", "email", ""), "vendor@example.com");
}

TEST_F(SettingsFile, AByteOrderMarkInsideTheFileIsNoSectionStartForTheWriter)
{
    // Found by fuzz/fuzz_settings: the writer took "\xEF\xBB\xBF[options]" on a
    // later line for the section, the reader did not, and the key was lost.
    write("[user]\r\nemail=a@b.c\r\n\xEF\xBB\xBF[options]\r\n");
    ProfileFile::writeString(path, "options", "efile", "email_Tool.txt");
    EXPECT_EQ(ProfileFile::readString(path, "options", "efile", ""), "email_Tool.txt");
    EXPECT_EQ(ProfileFile::readString(path, "user", "email", ""), "a@b.c");
}

TEST_F(SettingsFile, AFailedWriteNamesTheFile)
{
    const QString bad = dir.filePath("no/such/folder/ordergate.ini");
    try {
        ProfileFile::writeString(bad, "options", "user", "x");
        FAIL() << "expected ProfileWriteError";
    } catch (const ProfileWriteError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith("Unable to write to " + bad + ": ")) << e.what();
        EXPECT_EQ(e.path(), bad);
    }
}

TEST_F(SettingsFile, AFullDiskKeepsTheOldFileAndSaysWhy)
{
    const QByteArray old = "[options]\r\nuser=" + QByteArray(2000, 'u') + "\r\n";
    write(old);
    try {
        og::test::FileSizeLimit full(1024);
        ProfileFile::writeString(path, "options", "efile", "/srv/email_All.txt");
        FAIL() << "expected ProfileWriteError";
    } catch (const ProfileWriteError& e) {
        EXPECT_EQ(
            e.what(), ("Unable to write to " + path + ": " + QString::fromLocal8Bit(strerror(EFBIG))).toStdString());
    }
    EXPECT_EQ(read(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {"ordergate.ini"}) << "no temporary left";
}

TEST_F(SettingsFile, OptionsLoadOverTheCurrentValuesAndSaveAllTheirKeys)
{
    EXPECT_EQ(loadOptions(path, Options()), Options()); // no file: as they are

    write("[options]\r\nPmask=*.zip\r\norderNr=yes\r\norderDate=0x1\r\nnames=2\r\n");
    Options current;
    current.orderNr = false;
    current.user = "kept";
    const Options o = loadOptions(path, current);
    EXPECT_EQ(o.Pmask, "*.zip");
    EXPECT_FALSE(o.orderNr); // not a number: the current state stays
    EXPECT_TRUE(o.orderDate);
    EXPECT_TRUE(o.names);
    EXPECT_EQ(o.user, "kept");
    EXPECT_EQ(o.chmodProtect, "777");

    QFile::remove(path);
    Options saved;
    saved.passwd = "secret";
    saved.names = true;
    saveOptions(path, saved);
    EXPECT_EQ(read(),
        QByteArray("[options]\r\nPmask=*.*\r\nchmodProtect=777\r\nchmodAccess=644\r\n"
                   "chmodPasswd=644\r\nuser=ChangeMe\r\npasswd=secret\r\norderNr=1\r\n"
                   "orderDate=0\r\nnames=1\r\npasshash=\r\nhidepasswords=0\r\nkeepaccounts=\r\n"));
    EXPECT_EQ(loadOptions(path, Options()), saved);
    // the account keys, each of the ways missing customers go
    for (const MissingAccounts missing : {MissingAccounts::Keep, MissingAccounts::Drop, MissingAccounts::Ask}) {
        saved.passhash = "bcrypt";
        saved.hidepasswords = true;
        saved.keepaccounts = missing;
        saveOptions(path, saved);
        EXPECT_EQ(loadOptions(path, Options()), saved);
    }

    writeAddressFilePath(path, "/srv/email_All.txt");
    EXPECT_EQ(ProfileFile::readString(path, "options", "efile", ""), "/srv/email_All.txt");
    EXPECT_EQ(loadOptions(path, Options()), saved);
}

TEST(ProgramFolder, SettingsPathIsInTheFolder)
{
    EXPECT_EQ(settingsPathIn("/opt/og/"), "/opt/og/ordergate.ini");
}

} // namespace
