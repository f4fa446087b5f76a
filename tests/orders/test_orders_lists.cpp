// The three customer lists: file formats, lookups and loading failures.

#include "orders/CustomerLists.h"
#include "orders/InputFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace og;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// ASCII is folded a word at a time: every byte, at every place in the word
// and in the tail; a text with other characters is folded whole.
TEST(FoldedKey, FoldsEveryAsciiByteWhereverItStands)
{
    std::string all, expected, folded;
    for (int c = 1; c < 128; ++c) {
        all += char(c);
        expected += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    for (size_t from = 0; from < 9; ++from) {
        foldCaseUtf8(QByteArrayView(all).sliced(qsizetype(from)), folded);
        EXPECT_EQ(folded, expected.substr(from)) << from;
    }
    foldCaseUtf8("MIXED.Case@EXAMPLE.ORG \xc3\x89T\xc3\x89", folded); // É after two words
    EXPECT_EQ(folded, "mixed.case@example.org \xc3\xa9t\xc3\xa9");
}

TEST(CustomerLists, BlockedAddressesIgnoreCaseButNotBlanks)
{
    CustomerLists lists;
    lists.loadTexts(QStringLiteral("  Bad@Example.com \r\n\r\n\u00c9mile@example.com\r\n"), {}, {});
    EXPECT_EQ(lists.blocked().size(), 3); // the blank line is an entry too
    EXPECT_TRUE(lists.isBlocked(u"bad@example.COM"));
    EXPECT_TRUE(lists.isBlocked(u"\u00e9MILE@example.com")); // beyond ASCII
    // the report address is compared as taken: a blank before it matters
    EXPECT_FALSE(lists.isBlocked(u" bad@example.com"));
    EXPECT_FALSE(lists.isBlocked(u"")); // the empty entry matches nothing
    EXPECT_FALSE(lists.isBlocked(u"good@example.com"));
}

TEST(CustomerLists, ChangedAddressesTakeOneStepAndTheFirstMatch)
{
    CustomerLists lists;
    lists.loadTexts({}, QStringLiteral("a@x   b@x\r\nb@x c@x\r\nnoblank\r\nA@X d@x\r\nn@x new  with blanks \r\n"), {});
    EXPECT_EQ(lists.oldAddresses().toStringList(), (QStringList {"a@x", "b@x", "A@X", "n@x"}));
    bool updated = false;
    EXPECT_EQ(lists.updatedAddress(u"a@X", &updated), "b@x"); // not c@x, not d@x
    EXPECT_TRUE(updated);
    EXPECT_EQ(lists.updatedAddress(u"n@x", &updated), "new  with blanks");
    EXPECT_EQ(lists.updatedAddress(u"z@x", &updated), "z@x");
    EXPECT_FALSE(updated);
}

TEST(CustomerLists, AdmittedCustomersNeedAddressOrderAndProduct)
{
    CustomerLists lists;
    lists.loadTexts({}, {},
        QStringLiteral("g1@x 11 Tool\r\n"
                       "g2@x 12\r\n" // no product: skipped
                       "g3@x   13   Tool Pro  \r\n"
                       "g4@x 14 all\r\n"
                       "g5@x 15 TOOL\r\n"
                       "g6@x 16 Other\r\n"));
    EXPECT_EQ(lists.admitted().toStringList(), (QStringList {"g1@x", "g3@x", "g4@x", "g5@x", "g6@x"}));
    EXPECT_EQ(lists.admittedProducts()[1], "Tool Pro");
    EXPECT_EQ(lists.admittedOrders()[1], "13");

    auto none = [](const QString&) { return false; };
    QStringList tool;
    for (const auto& e : lists.extraCustomers(u"Tool", none))
        tool << e.address + u'/' + e.orderNumber;
    EXPECT_EQ(tool, (QStringList {"g1@x/11", "g4@x/14", "g5@x/15"}));

    QStringList all;
    for (const auto& e : lists.extraCustomers(u"All", [](const QString& a) { return a == u"g3@x"; }))
        all << e.address;
    EXPECT_EQ(all, (QStringList {"g1@x", "g4@x", "g5@x", "g6@x"}));
}

TEST(CustomerLists, ProductsOfAdmittedCustomersCompareOnlyAsciiLettersIgnoringCase)
{
    EXPECT_EQ(upperAsciiLetters(u"tool \u00e9 pro-2"), u"TOOL \u00e9 PRO-2");
    CustomerLists lists;
    lists.loadTexts({}, {}, QStringLiteral("g@x 1 \u00e9dition\r\n"));
    EXPECT_FALSE(lists.admitsProduct(0, u"\u00c9dition")); // only a-z are folded here
    EXPECT_TRUE(lists.admitsProduct(0, u"\u00e9DITION"));
}

TEST(CustomerLists, LfAndLoneCrEndLinesToo)
{
    CustomerLists lists;
    lists.loadTexts(QStringLiteral("a@x\nb@x\rc@x"), QStringLiteral("o@x n@x\np@x q@x\n"),
        QStringLiteral("g@x 1 All\nh@x 2 All\n"));
    EXPECT_TRUE(lists.isBlocked(u"b@x"));
    EXPECT_TRUE(lists.isBlocked(u"c@x"));
    EXPECT_EQ(lists.newAddresses().toStringList(), (QStringList {"n@x", "q@x"}));
    EXPECT_EQ(lists.admitted().toStringList(), (QStringList {"g@x", "h@x"}));
    // every line end at every place of the eight-byte words lines are read in
    QString blocked;
    QStringList expected;
    const QString ends[] = {"\r", "\n", "\r\n"};
    for (int length = 1; length < 20; ++length) {
        expected += QString(length, u'a') + "@x";
        blocked += expected.back() + ends[length % 3];
    }
    lists.loadTexts(blocked, {}, {});
    EXPECT_EQ(lists.blocked().toStringList(), expected);
}

TEST(CustomerLists, LoadReadsTheThreeFilesAndToleratesMissingOnes)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("bozos.txt"),
        "bad@x\r\n\x1a"
        "after@x\r\n");
    writeFile(dir.filePath("goodguys.txt"), "g@x 1 Tool\r\n");
    CustomerLists lists;
    lists.load(dir.path());
    EXPECT_TRUE(lists.isBlocked(u"BAD@x"));
    EXPECT_FALSE(lists.isBlocked(u"after@x")); // Ctrl-Z ended the file
    EXPECT_TRUE(lists.oldAddresses().isEmpty());
    EXPECT_EQ(lists.admitted().toStringList(), QStringList {"g@x"});
    EXPECT_EQ(lists.missingFiles(), QStringList {"Address.txt"});

    // Windows-1252 bytes from the old program read as meant
    writeFile(dir.filePath("bozos.txt"), "ren\xe9@x\r\n");
    lists.load(dir.path());
    EXPECT_TRUE(lists.isBlocked(u"REN\u00c9@x"));
}

TEST(CustomerLists, AnUnreadableFileStopsLoadingAndNamesTheFile)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("bozos.txt"), "bad@x\r\n");
    writeFile(dir.filePath("goodguys.txt"), "g@x 1 Tool\r\n");
    QDir(dir.path()).mkdir("Address.txt"); // exists, cannot be read as a file
    CustomerLists lists;
    try {
        lists.load(dir.path());
        FAIL() << "expected ListReadError";
    } catch (const ListReadError& e) {
        EXPECT_NE(std::string(e.what()).find("Address.txt"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(lists.isBlocked(u"bad@x")); // the file before it stays
    FoldedKey bad;
    bad.set("BAD@x");
    EXPECT_TRUE(lists.mayHold(bad));         // and is in the lists' filter
    EXPECT_TRUE(lists.admitted().isEmpty()); // the files after it do not load
}

// A FIFO would block the start for ever, a link to nothing would admit
// blocked customers: both are refused, saying why.
TEST(CustomerLists, WhatIsNotARegularFileIsRefused)
{
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"fifo", [](const QString& p) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0); },
            "not a regular file"},
        {"dangling link", [](const QString& p) { ASSERT_TRUE(QFile::link(p + ".gone", p)); }, "does not exist"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        c.make(dir.filePath("bozos.txt"));
        CustomerLists lists;
        try {
            lists.load(dir.path());
            ADD_FAILURE() << c.name << ": expected ListReadError";
        } catch (const ListReadError& e) {
            EXPECT_NE(std::string(e.what()).find("bozos.txt"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        QByteArray bytes;
        QString error;
        EXPECT_FALSE(readReportFile(dir.filePath("bozos.txt"), &bytes, &error)) << c.name;
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
    }
}

// A file read in parts: all its bytes, and whether they are UTF-8, with a
// sequence across the parts' border and a stray Windows-1252 byte after it.
TEST(InputFiles, ReadsLargeFilesWholeAndTellsWhetherTheyAreUtf8)
{
    QByteArray text(65535, 'a');
    text += "\xe2\x82\xac";
    text += QByteArray(70000, 'b');
    for (const QByteArray& content : {text, text + "\xe9"}) {
        QTemporaryDir dir;
        QFile file(dir.filePath("report.csv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QByteArray bytes;
        QString error;
        bool valid = false;
        ASSERT_TRUE(readReportFile(file.fileName(), &bytes, &error, &valid)) << error.toStdString();
        EXPECT_EQ(bytes, content);
        EXPECT_EQ(valid, content == text);
    }
}

TEST(CustomerLists, LookupsInLargeListsFindTheFirstEntry)
{
    QString blocked, changed;
    for (int i = 0; i < 20000; ++i) {
        blocked += QStringLiteral("user%1@example.com\r\n").arg(i);
        changed += QStringLiteral("old%1@example.com new%1@example.com\r\n").arg(i % 10000);
    }
    CustomerLists lists;
    lists.loadTexts(
        blocked, changed, QStringLiteral("a@x 1 T\r\nb@x 2 T\r\nA@X 3 T\r\n\u00c9@x 4 T\r\n\u00e9@X 5 T\r\n"));
    EXPECT_TRUE(lists.isBlocked(u"USER19999@example.com"));
    EXPECT_FALSE(lists.isBlocked(u"user20000@example.com"));
    EXPECT_EQ(lists.updateIndexUtf8("OLD42@example.com"), 42); // not 10042
    for (qsizetype i = 0; i < lists.admitted().size(); ++i)
        EXPECT_EQ(lists.firstAdmittedLike(i), lists.admittedIndexUtf8(lists.admitted().bytesAt(i))) << i;
    EXPECT_EQ(lists.firstAdmittedLike(2), 0);
    EXPECT_EQ(lists.firstAdmittedLike(4), 3);
}

} // namespace
