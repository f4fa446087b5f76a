// The suppression lists: read as the vendor edits them, added to by runs.

#include "common/SuppressionList.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace og;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SuppressionList, ReadsHandEditedLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(unsubscribedFileName);
    QString error = "stale";
    EXPECT_TRUE(SuppressionList::read(path, &error).isEmpty());
    EXPECT_TRUE(error.isEmpty()) << "a missing list is empty, not an error";

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# vendor's notes\r\n\r\n  Jane@Example.com 2026-12-11 do not contact (Gumroad)\n"
               "plain@x.org\rnot a customer line\r\n"
               "odd@x.org 2026-13-40 no such day\r\njane@example.com 2027-01-01 later line\r\n"
               "\x1a"
               "after@eof.org\r\n");
    file.close();
    const SuppressionList list = SuppressionList::read(path, &error);
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(list.size(), 4);
    const SuppressionList::Entry* jane = list.find("JANE@example.COM");
    ASSERT_NE(jane, nullptr);
    EXPECT_EQ(jane->date, QDate(2026, 12, 11)) << "the first line of an address counts";
    EXPECT_EQ(jane->reason, "do not contact (Gumroad)");
    ASSERT_NE(list.find("plain@x.org"), nullptr);
    EXPECT_FALSE(list.find("plain@x.org")->date.isValid());
    EXPECT_TRUE(list.find("plain@x.org")->reason.isEmpty());
    EXPECT_EQ(list.find("odd@x.org")->reason, "2026-13-40 no such day");
    EXPECT_FALSE(list.contains("after@eof.org"));
    EXPECT_FALSE(list.contains("not"));

#ifdef Q_OS_UNIX
    QFile::setPermissions(path, QFileDevice::Permissions());
    if (!QFile(path).open(QIODevice::ReadOnly)) { // not when the tests run as root
        EXPECT_TRUE(SuppressionList::read(path, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
    }
#endif
}

TEST(SuppressionList, AppendsOnlyNewAddressesAsWholeLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(bouncedFileName);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("hand@x.org"); // no line end after the vendor's last line
    }
    const QList<SuppressionList::Entry> entries {
        {"HAND@x.org", QDate(2026, 12, 11), "already listed"},
        {"new@x.org", QDate(2026, 12, 11), "550 5.1.1\r\nevil@x.org injected"},
        {"NEW@x.org", {}, "twice in one call"},
        {"two words@x.org", {}, "cannot be one word"},
        {" bare@x.org ", {}, {}},
    };
    QString error;
    QStringList skipped;
    qsizetype added = -1;
    ASSERT_TRUE(SuppressionList::append(path, entries, &error, &skipped, &added)) << error.toStdString();
    EXPECT_EQ(added, 2);
    EXPECT_EQ(skipped, QStringList {"two words@x.org"});
    const QByteArray expected = "hand@x.org\r\nnew@x.org 2026-12-11 550 5.1.1 evil@x.org injected\r\nbare@x.org\r\n";
    EXPECT_EQ(readAll(path), expected);
    EXPECT_FALSE(SuppressionList::read(path, &error).contains("evil@x.org"));

    ASSERT_TRUE(SuppressionList::append(path, entries, &error, nullptr, &added));
    EXPECT_EQ(added, 0);
    EXPECT_EQ(readAll(path), expected) << "a second run adds nothing";

    const QString blocked = dir.filePath("no-such-folder/unsubscribed.txt");
    EXPECT_FALSE(SuppressionList::append(blocked, entries, &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
