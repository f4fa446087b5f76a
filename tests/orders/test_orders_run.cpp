// A run of the first job: batch file, address file and statistics.

#include "common/ProgramFolder.h"
#include "orders/MappedFile.h"
#include "orders/Prefault.h"
#include "orders/ScriptRun.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace og;

namespace {

QString swreg(const QString& order, const QString& product, const QString& address, const QString& first = "Ann",
    const QString& last = "Lee")
{
    return QStringLiteral("1,Tue Jan 01 10:00:00 2002,%1,%2,%3,9.95,USD,US,card,%4,%5,x\r\n")
        .arg(order, product, address, first, last);
}

QString regnet(const QString& order, const QString& product, const QString& address)
{
    return QStringLiteral("\"1\",\"p\",\"%1\",\"2002-02-11 10:12:00\",\"1\",\"9\",\"%2\",\"%3\",\"\",\"\",\"\","
                          "\"\",\"\",\"Ivy\",\"Irving\",\"\"\r\n")
        .arg(order, product, address);
}

struct Fixture {
    Report report;
    CustomerLists lists;
    RunRequest request;

    Fixture(const QString& text, const QString& product, bool all = false)
    {
        report.read(text);
        request.report = &report;
        request.lists = &lists;
        request.selectedProduct = product;
        request.allProducts = all;
        request.folder = QStringLiteral("/nonexistent/");
    }
    RunResult build() const { return buildRun(request); }
};

const QStringList kDefaultTail = {"chmod 644 .htpasswd", "chmod 777 *.*", "chmod 644 .htaccess", "rm MakePass.ksh"};
const QStringList kGuard = {kBinaryUploadGuard[0], kBinaryUploadGuard[1]};
const QByteArray kGuardBytes = QByteArray(kBinaryUploadGuard[0]) + "\r\n" + kBinaryUploadGuard[1] + "\r\n";

TEST(ScriptRun, TwoOrdersWithDefaultOptionsAndNoLists)
{
    Fixture f(swreg("102", "Tool", "zed@example.com") + swreg("101", "Tool", "amy@example.com"), "Tool", true);
    const RunResult r = f.build();
    EXPECT_EQ(r.script.toStringList(),
        QStringList {"echo batch file for product: Tool"} + kGuard +
            QStringList({"htpasswd -bc .htpasswd zed@example.com 102", "htpasswd -b .htpasswd amy@example.com 101",
                "htpasswd -b .htpasswd ChangeMe ReplaceMeToo"}) +
            kDefaultTail);
    EXPECT_EQ(r.addresses.toStringList(), (QStringList {"amy@example.com , 101", "zed@example.com , 102"}));
    EXPECT_EQ(r.written, 2);
    // every line ends with CR LF, the last one included
    EXPECT_TRUE(r.script.fileBytes().endsWith("rm MakePass.ksh\r\n"));
    EXPECT_EQ(r.script.fileBytes().count('\n'), r.script.fileBytes().count("\r\n"));
    EXPECT_EQ(r.addresses.fileBytes(), QByteArray("amy@example.com , 101\r\nzed@example.com , 102\r\n"));
}

TEST(ScriptRun, OnlyTheFirstPasswordLineCreatesTheFile)
{
    Fixture f(swreg("1", "Tool", "a@x") + swreg("2", "Tool", "b@x") + swreg("3", "Tool", "a@x"), "Tool", true);
    f.lists.loadTexts(QStringLiteral("A@X\r\nB@x\r\n"), {}, QStringLiteral("g@x 9 All\r\n"));
    RunResult r = f.build();
    // every order blocked (a customer once, however often): the extra
    // customer's line is the first one
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd g@x 9");
    EXPECT_EQ(r.script.at(4), "htpasswd -b .htpasswd ChangeMe ReplaceMeToo");
    EXPECT_EQ(r.blocked, 2);

    f.report.read(swreg("1", "Tool", "x@x") + swreg("2", "Tool", "y@x"));
    f.lists.loadTexts(QStringLiteral("x@x\r\ny@x\r\n"), {}, {});
    r = f.build();
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd ChangeMe ReplaceMeToo");

    f.request.options.user.clear();
    r = f.build();
    EXPECT_EQ(r.script.toStringList(), QStringList {"echo batch file for product: Tool"} + kGuard + kDefaultTail);
    f.request.options.user = "u";
    f.request.options.passwd.clear();
    EXPECT_EQ(f.build().script.size(), 7);
    // the one rule of account values holds for the test account too
    for (const auto& [user, passwd] : {std::pair {"u", "   "}, {"u\x1a", "p"}, {"u", "p\x7f"}, {"a:b", "p"}}) {
        f.request.options.user = user;
        f.request.options.passwd = passwd;
        r = f.build();
        EXPECT_EQ(r.script.size(), 7) << user << passwd;
        EXPECT_TRUE(r.notes.contains("test account skipped: htpasswd refuses its user name or password"));
    }
}

TEST(ScriptRun, ProductFilterTakesOrdersOfThatProductIgnoringCaseOnly)
{
    const QString text = swreg("1", "Tool", "a@x") + swreg("2", "Tool Pro", "b@x") + swreg("3", "tool", "c@x") +
        swreg("4", "Widget", "d@x", "Toolmaker", "Tool") + swreg("5", "Pro", "tool@x");
    Fixture f(text, "Tool");
    const RunResult r = f.build();
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(r.addresses.toStringList(), (QStringList {"a@x , 1", "c@x , 3"}));

    Fixture all(text, "All", true);
    EXPECT_EQ(all.build().written, 5);

    // a product not in the report takes nothing
    Fixture none(text, "Gadget");
    EXPECT_EQ(none.build().written, 0);

    // the selected text is trimmed before it is used
    Fixture padded(text, "  Tool Pro ");
    const RunResult p = padded.build();
    EXPECT_EQ(p.product, "Tool Pro");
    EXPECT_EQ(p.written, 1);
}

TEST(ScriptRun, RegNetHeaderIsNeverAnOrderAndFieldsComeFromQuotedPositions)
{
    const QString text = QStringLiteral("Account,contact admin@example.com\r\n") +
        regnet("R-1", "Tool", "ivy@example.com") + regnet("R-2", "Tool Pro", "jo@example.com");
    Fixture f(text, "Tool");
    f.request.options.orderDate = true;
    f.request.options.names = true;
    const RunResult r = f.build();
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.addresses.toStringList(), QStringList {"ivy@example.com , R-1 , 2002-02-11 , Ivy Irving"});
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd ivy@example.com R-1");
}

TEST(ScriptRun, AnOrderAboveALateHeaderIsCutAsItWasRead)
{
    // A header on the second line turns the report quoted from there on; the
    // order above it was read comma-separated and keeps its order number.
    const QString text = swreg("101", "Tool", "amy@example.com").chopped(2) + QStringLiteral("\rAccount\r\n") +
        regnet("R-1", "Tool", "ivy@example.com");
    Fixture f(text, "Tool", true);
    const RunResult r = f.build();
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd amy@example.com 101");
    EXPECT_EQ(r.script.at(4), "htpasswd -b .htpasswd ivy@example.com R-1");
}

TEST(ScriptRun, AddressLineExtrasFollowTheOptions)
{
    Fixture f(swreg("7", "Tool", "a@x", "Ann", "Lee"), "Tool", true);
    f.lists.loadTexts({}, {}, QStringLiteral("g@x 9 Tool\r\n"));
    f.request.options.orderDate = true;
    f.request.options.names = true;
    EXPECT_EQ(f.build().addresses.toStringList(), (QStringList {"a@x , 7 , Jan-01-2002 , Ann Lee", "g@x , 9"}));
    f.request.options.orderNr = false;
    EXPECT_EQ(f.build().addresses.toStringList(), (QStringList {"a@x , Jan-01-2002 , Ann Lee", "g@x"}));
    f.request.options.orderDate = false;
    f.request.options.names = false;
    EXPECT_EQ(f.build().addresses.toStringList(), (QStringList {"a@x", "g@x"}));
}

TEST(ScriptRun, UpdatesAndExtrasFollowTheListRules)
{
    Fixture f(swreg("1", "Tool", "old@x") + swreg("2", "Tool", "keep@x") + swreg("3", "Tool", "keep@x"), "Tool", true);
    f.lists.loadTexts(QStringLiteral("bad@x\r\n"), QStringLiteral("OLD@x new@x\r\n"),
        QStringLiteral("NEW@X 5 Tool\r\n" // written after the update: not added
                       "twice@x 6 All\r\n"
                       "twice@x 7 tool\r\n"  // listed twice: the first entry
                       "Twice@x 10 Tool\r\n" // not the same bytes: another account
                       "other@x 8 Widget\r\n"
                       "bad@x 9 Tool\r\n")); // extras are not checked for blocking
    const RunResult r = f.build();
    // the account is made for the address of the report
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd old@x 1");
    EXPECT_EQ(r.updated, 1);
    EXPECT_EQ(r.written, 2); // the same address twice: one account, one line, the first order's
    EXPECT_EQ(r.extra, 3);
    EXPECT_EQ(r.addresses.toStringList(),
        (QStringList {"bad@x , 9", "keep@x , 2", "new@x , 1", "Twice@x , 10", "twice@x , 6"}));
    EXPECT_FALSE(r.script.toStringList().join('\n').contains("keep@x 3"));
}

// One account and one address line a customer and product: the rows of one
// order, or several orders under "All", give the first order's values.
TEST(ScriptRun, OneLineACustomerWhateverTheRowsAndOrders)
{
    const QString shopify = "Name,Email,Financial Status,Created at,Lineitem name,Billing Name\n#1,a@x,paid,,Tool,A\n"
                            "#1,,,,Tool,\n#2,b@x,paid,,Tool,B\n";
    struct Case {
        const char* what;
        QString text, product;
        bool all;
        QStringList addresses;
    };
    const Case cases[] = {
        {"two rows of one order", shopify, "Tool", false, {"a@x , #1", "b@x , #2"}},
        {"orders of two products under All", swreg("1", "Tool", "a@x") + swreg("2", "Widget", "a@x"), "All", true,
            {"a@x , 1"}},
        {"a later order of the same product", swreg("1", "Tool", "a@x") + swreg("2", "tool", "a@x"), "Tool", false,
            {"a@x , 1"}},
    };
    for (const Case& c : cases) {
        Fixture f(c.text, c.product, c.all);
        const RunResult r = f.build();
        EXPECT_EQ(r.addresses.toStringList(), c.addresses) << c.what;
        EXPECT_EQ(r.written, c.addresses.size()) << c.what;
        EXPECT_EQ(r.script.toStringList().filter("htpasswd -b").size(), c.addresses.size() + 1) << c.what;
    }
}

// Each customer's account as an event, in the batch file's order, with the
// report line or goodguys.txt entry it came from; the statistics are counted
// from the list.
TEST(ScriptRun, AccountEventsNameEachCustomersChangeAndGiveTheCounts)
{
    Fixture f(swreg("1", "Tool", "old@x") + swreg("2", "Tool", "bad@x") + swreg("3", "Tool", "ok@x"), "Tool", true);
    f.lists.loadTexts(
        QStringLiteral("bad@x\r\n"), QStringLiteral("old@x new@x\r\n"), QStringLiteral("ok@x 8 All\r\ng@x 9 All\r\n"));
    const RunResult r = f.build();
    std::vector<std::pair<AccountChange, qsizetype>> events;
    for (const AccountEvents::Entry& e : r.events.entries())
        events.emplace_back(e.change(), e.source());
    EXPECT_EQ(events,
        (std::vector<std::pair<AccountChange, qsizetype>> {{AccountChange::AddressChanged, 0},
            {AccountChange::Blocked, 1}, {AccountChange::FromReport, 2}, {AccountChange::Added, 1}}));
    const AccountCounts counts = r.events.counts();
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(counts.blocked, 1);
    EXPECT_EQ(counts.updated, 1);
    EXPECT_EQ(counts.extra, 1);
    // an account line for each event that makes one, then the test account
    EXPECT_EQ(r.script.at(5), "htpasswd -b .htpasswd g@x 9");
    EXPECT_EQ(r.script.at(6), "htpasswd -b .htpasswd ChangeMe ReplaceMeToo");
}

TEST(ScriptRun, ValuesFromDataAreQuotedOnlyWhenTheShellWouldReadMore)
{
    EXPECT_EQ(shellWord("ann.lee+tag@example.com"), "ann.lee+tag@example.com");
    EXPECT_EQ(shellWord("A-Z_09%,:=/"), "A-Z_09%,:=/");
    EXPECT_EQ(shellWord("  \t padded@x \x01"), "padded@x");
    EXPECT_EQ(shellWord(" \t "), "");
    EXPECT_EQ(shellWord("$(touch pwned)@x"), "'$(touch pwned)@x'");
    EXPECT_EQ(shellWord("a`id`@x"), "'a`id`@x'");
    EXPECT_EQ(shellWord("a;rm -rf .@x"), "'a;rm -rf .@x'");
    EXPECT_EQ(shellWord("o'brien@x"), "'o'\\''brien@x'");
    EXPECT_EQ(shellWord("Tool Pro"), "'Tool Pro'");
    EXPECT_EQ(shellWord("caf\xc3\xa9@x"), "'caf\xc3\xa9@x'");

    Fixture f(swreg("1;reboot", "Tool", "$(touch${IFS}pwned)@x") + swreg("", "Tool", "ok@x"), "Tool", true);
    f.request.options.user = "test user";
    f.request.options.Pmask = "*.zip"; // the vendor's own option: as typed
    const RunResult r = f.build();
    EXPECT_EQ(r.script.at(3), "htpasswd -bc .htpasswd '$(touch${IFS}pwned)@x' '1;reboot'");
    // no account without a password: the order without a number is skipped
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.script.at(4), "htpasswd -b .htpasswd 'test user' ReplaceMeToo");
    EXPECT_EQ(r.script.at(6), "chmod 777 *.zip");
    // the address file is no shell input: unquoted
    EXPECT_EQ(r.addresses.at(0), "$(touch${IFS}pwned)@x , 1;reboot");
}

TEST(LineBlockTest, CopiesMovesAndReordersKeepTheirLines)
{
    LineBlock a;
    for (const char* s : {"one", "", "three"})
        a.append(QByteArrayView(s));
    LineBlock b = a;
    b.append(QByteArrayView("four"));
    EXPECT_EQ(a.toStringList(), (QStringList {"one", "", "three"}));
    EXPECT_EQ(b.size(), 4);
    a.reorder({2, 0, 1});
    EXPECT_EQ(a.toStringList(), (QStringList {"three", "one", ""}));
    EXPECT_EQ(a.fileBytes(), QByteArray("three\r\none\r\n\r\n"));
    LineBlock c = std::move(a);
    EXPECT_EQ(c.at(0), "three");
    EXPECT_TRUE(a.isEmpty());
    c.reuse();
    EXPECT_TRUE(c.isEmpty());
    c.append(QStringView(u"\u00e9t\u00e9"));
    EXPECT_EQ(c.at(0), u"\u00e9t\u00e9");
    QStringList seen;
    for (const QString& line : b)
        seen << line;
    EXPECT_EQ(seen, (QStringList {"one", "", "three", "four"}));
}

// Huge pages are asked for only while the kernel shows a gigabyte free in
// blocks of their size: a wrong sum would let a hint wait for compaction.
TEST(HugePages, FreeBlocksAreSummedFromTheOrderUp)
{
    const std::string_view machine =
        "Node 0, zone      DMA      0      0      0      0      0      0      0      0      1      1      3 \n"
        "Node 0, zone   Normal  13204  16342  14194  10774   6831   4272   2243   1038    443    207    402 \n";
    constexpr size_t mib = size_t(1) << 20;
    const struct {
        std::string_view text;
        unsigned order;
        size_t bytes;
    } cases[] = {
        {machine, 9, (1 + 207) * 2 * mib + (3 + 402) * 4 * mib},
        {machine, 10, (3 + 402) * 4 * mib},
        {machine, 11, 0},
        {"Node 0, zone Normal 5 6\nnot a node line 99 99\nNode 1, zone Movable 1 x 7\n", 1, 6 * 8192},
        {"Node 0, zone Normal 0 18446744073709551615 1", 1, SIZE_MAX},
        {"", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(og::freeBytesInBlocks(c.text, c.order, 4096), c.bytes) << c.text << " order " << c.order;
}

TEST(HugePages, BigBlocksAreAlignedWholeAndGivenBack)
{
    constexpr size_t mib = size_t(1) << 20;
    EXPECT_EQ(og::allocateHuge(mib - 1), nullptr); // the C library's
    for (const size_t bytes : {mib, 3 * mib + 1, 5 * mib - 4096}) {
        void* block = og::allocateHuge(bytes);
        if (!block)
            GTEST_SKIP() << "no huge pages at hand on this machine";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (2 * mib), 0u) << bytes;
        std::memset(block, 0x5a, bytes); // all of it is the caller's
        og::freeHuge(block, bytes);
    }
    og::HugeVector<uint64_t> grown;
    for (uint64_t i = 0; i < 400000; ++i)
        grown.push_back(i);
    EXPECT_EQ(grown[399999], 399999u);
}

TEST(AddressSort, IgnoresCaseAndKeepsEqualLinesInTheirOrder)
{
    LineBlock lines;
    for (const char* s : {"bob@x", "Alice@x", "alice@x", "ALICE@x", "_under@x", "9nine@x", "Zed@x", "bo@x"})
        lines.append(QByteArrayView(s));
    EXPECT_EQ(sortedIgnoringCase(lines).toStringList(),
        (QStringList {"9nine@x", "_under@x", "Alice@x", "alice@x", "ALICE@x", "bo@x", "bob@x", "Zed@x"}));
}

TEST(AddressSort, AgreesWithACaseInsensitiveSortOfTheTexts)
{
    // Random lines over an alphabet that mixes ASCII cases, punctuation and
    // letters beyond ASCII, zero bytes and the neighbours of the letters and
    // of the stops; long shared prefixes exercise the prefix keys.
    const QStringList alphabet = {"a", "A", "b", "B", "z", "Z", ".", "@", "[", "`", "{", "\x01", "\x7f", " ", "_", "0",
        u"\u00e9"_s, u"\u00c9"_s, u"\u00df"_s, u"\u212a"_s, "k", "K", u"\u03a3"_s, u"\u03c3"_s, u"\U0001F600"_s,
        QString(QChar(0))};
    QRandomGenerator rng(7);
    QStringList texts;
    LineBlock lines;
    for (int i = 0; i < 3000; ++i) {
        QString s = (i % 3 == 0) ? QStringLiteral("customer.") : QString();
        const int n = int(rng.bounded(14));
        for (int k = 0; k < n; ++k)
            s += alphabet[int(rng.bounded(alphabet.size()))];
        texts << s;
        lines.append(QStringView(s));
    }
    QStringList expected = texts;
    std::stable_sort(expected.begin(), expected.end(),
        [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(sortedIgnoringCase(lines).toStringList(), expected);
}

TEST(AddressSort, LongListsSortTheSameAsShortOnes)
{
    // long enough to be sorted in parallel halves; many equal lines and
    // shared prefixes
    QRandomGenerator rng(11);
    LineBlock lines;
    std::vector<QByteArray> texts;
    for (int i = 0; i < 250000; ++i) {
        QByteArray s = "Customer.Name." + QByteArray::number(rng.bounded(5000));
        if (rng.bounded(4) == 0)
            s = s.toUpper();
        if (rng.bounded(50) == 0)
            s += "\xc3\x89";
        texts.push_back(s);
        lines.append(QByteArrayView(s));
    }
    std::vector<size_t> order(texts.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(
        order.begin(), order.end(), [&](size_t a, size_t b) { return compareIgnoringCase(texts[a], texts[b]) < 0; });
    const LineBlock sorted = sortedIgnoringCase(lines);
    ASSERT_EQ(sorted.size(), qsizetype(texts.size()));
    for (size_t i = 0; i < order.size(); ++i)
        ASSERT_EQ(sorted.bytesAt(qsizetype(i)), QByteArrayView(texts[order[i]])) << i;
}

class RunFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path() + u'/'; }
    QByteArray read(const QString& name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

TEST_F(RunFiles, WritesBothFilesAndTheSevenStatisticsLines)
{
    Fixture f(swreg("1", "Tool", "b@x") + swreg("2", "Tool", "a@x") + swreg("3", "Tool", "bad@x"), "Tool", true);
    f.lists.loadTexts(QStringLiteral("bad@x\r\n"), QStringLiteral("b@x c@x\r\n"), QStringLiteral("g@x 9 All\r\n"));
    f.request.folder = folder();
    const RunResult r = performRun(f.request);
    EXPECT_EQ(read("MakePass.ksh"), r.script.fileBytes());
    EXPECT_EQ(read("email_Tool.txt"), QByteArray("a@x , 2\r\nc@x , 1\r\ng@x , 9\r\n"));
    EXPECT_EQ(r.statistics,
        (QStringList {"processed 2 entries for Store: Tool", "1 bozos blocked",
            "1 email addresses updated in email_Tool.txt", "1 added from goodguys.txt file", "3 Total",
            "MakePass.ksh and email_Tool.txt placed in directory: " + folder(), "Used report from SWREG"}));
}

// The mailer's field names find their columns by what each run recorded.
TEST_F(RunFiles, EachRunRecordsTheColumnsItsOptionsChose)
{
    for (int chosen = 0; chosen < 8; ++chosen) {
        Fixture f(swreg("1", "Tool", "a@x"), "Tool", true);
        f.request.folder = folder();
        f.request.options.orderNr = chosen & 1;
        f.request.options.orderDate = chosen & 2;
        f.request.options.names = chosen & 4;
        performRun(f.request);
        const std::optional<AddressColumns> recorded =
            recordedAddressColumns(settingsPathIn(folder()), dir.filePath("email_Tool.txt"));
        ASSERT_TRUE(recorded) << chosen;
        EXPECT_EQ(recorded->words(), addressColumns(f.request.options).words());
    }
}

TEST_F(RunFiles, StreamingTheBatchFileWritesTheSameBytes)
{
    // enough orders for the batch file to go out in several pieces
    QString text;
    for (int i = 0; i < 240000; ++i)
        text += swreg(QString::number(500000 + i), i % 3 ? "Tool" : "Tool Pro",
            QStringLiteral("c%1@example.com").arg(i * 7919 % 240000));
    Fixture f(text, "Tool");
    f.lists.loadTexts(QStringLiteral("c7@example.com\r\n"), {}, QStringLiteral("g@x 1 All\r\n"));
    f.request.folder = folder();
    const RunResult kept = performRun(f.request);
    const QByteArray whole = read("MakePass.ksh");
    ASSERT_GT(whole.size(), 5 << 20);
    EXPECT_EQ(kept.script.fileBytes(), whole);
    EXPECT_EQ(whole.count("-bc "), 1);
    EXPECT_TRUE(whole.startsWith(
        "echo batch file for product: Tool\r\n" + kGuardBytes + "htpasswd -bc .htpasswd c7919@example.com 500001\r\n"));

    f.request.keepScriptLines = false;
    const RunResult streamed = performRun(f.request);
    EXPECT_EQ(read("MakePass.ksh"), whole);
    EXPECT_TRUE(streamed.script.isEmpty());
    EXPECT_EQ(streamed.addresses.fileBytes(), kept.addresses.fileBytes());
    EXPECT_EQ(streamed.statistics, kept.statistics);
    EXPECT_EQ(streamed.written, 159999); // c7 is blocked
}

TEST_F(RunFiles, LongReportsKeepReportOrderAndOneCreatingLine)
{
    // A long report whose first three quarters name another product and
    // whose first order of the product is blocked: report order, one
    // creating line, and the lists applied across the whole report.
    QString text;
    const int n = 150000;
    for (int i = 0; i < n; ++i) {
        const bool tool = i >= n * 3 / 4; // only the last quarter is Tool
        text += swreg(QString::number(i), tool ? "Tool" : "Other", QStringLiteral("c%1@example.com").arg(i));
    }
    Fixture f(text, "Tool");
    f.lists.loadTexts(QStringLiteral("c%1@example.com\r\n").arg(n * 3 / 4), // the first Tool order
        QStringLiteral("c%1@example.com moved@example.com\r\n").arg(n - 1),
        QStringLiteral("moved@example.com 1 All\r\nc%1@example.com 2 All\r\nnew@x 3 Tool\r\n").arg(n - 2));
    for (const bool keep : {true, false}) {
        f.request.folder = folder();
        f.request.keepScriptLines = keep;
        const RunResult r = performRun(f.request);
        const QList<QByteArray> lines = read("MakePass.ksh").split('\n');
        EXPECT_EQ(lines[3], QStringLiteral("htpasswd -bc .htpasswd c%1@example.com %1\r").arg(n * 3 / 4 + 1).toUtf8());
        EXPECT_EQ(lines[4], QStringLiteral("htpasswd -b .htpasswd c%1@example.com %1\r").arg(n * 3 / 4 + 2).toUtf8());
        EXPECT_EQ(read("MakePass.ksh").count("-bc "), 1);
        // report order throughout, then the one extra customer not written yet
        EXPECT_EQ(lines[n / 4 + 1], QStringLiteral("htpasswd -b .htpasswd c%1@example.com %1\r").arg(n - 1).toUtf8());
        EXPECT_EQ(lines[n / 4 + 2], "htpasswd -b .htpasswd new@x 3\r");
        EXPECT_EQ(r.written, n / 4 - 1);
        EXPECT_EQ(r.blocked, 1);
        EXPECT_EQ(r.updated, 1);
        EXPECT_EQ(r.extra, 1);
        EXPECT_EQ(r.addresses.size(), n / 4);
    }

    // without lists the first order of the product creates the file
    f.lists.loadTexts({}, {}, {});
    f.request.keepScriptLines = true;
    EXPECT_EQ(
        buildRun(f.request).script.at(3), QStringLiteral("htpasswd -bc .htpasswd c%1@example.com %1").arg(n * 3 / 4));
}

TEST_F(RunFiles, ReplacesEarlierFilesCompletely)
{
    QFile old(dir.filePath("email_Tool.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'x'));
    old.close();
    Fixture f(swreg("1", "Tool", "a@x"), "Tool", true);
    f.request.folder = folder();
    performRun(f.request);
    EXPECT_EQ(read("email_Tool.txt"), QByteArray("a@x , 1\r\n"));
    // an ordinary file, readable by the vendor's other tools
    EXPECT_TRUE(QFile::permissions(dir.filePath("email_Tool.txt")) & QFile::ReadOther);
    // no scratch file left; the settings file records the address file's columns
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
        (QStringList {"MakePass.ksh", "accounts_Tool.txt", "changes_Tool.txt", "email_Tool.txt", "email_Tool_new.txt",
            "ordergate.ini"}));
}

TEST_F(RunFiles, UnwritableBatchFileIsReportedAndNothingElseIsWritten)
{
    Fixture f(swreg("1", "Tool", "a@x"), "Tool", true);
    f.request.folder = folder() + "missing/";
    try {
        performRun(f.request);
        FAIL() << "expected RunError";
    } catch (const RunError& e) {
        EXPECT_NE(QString::fromUtf8(e.what()).indexOf("MakePass.ksh"), -1) << e.what();
    }
}

TEST_F(RunFiles, UnwritableAddressFileKeepsTheOldBatchFile)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("email_Tool.txt")); // in the way of the file
    {
        QFile old(dir.filePath("MakePass.ksh"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
    }
    Fixture f(swreg("1", "Tool", "a@x"), "Tool", true);
    f.request.folder = folder();
    try {
        performRun(f.request);
        FAIL() << "expected RunError";
    } catch (const RunError& e) {
        const QString message = QString::fromUtf8(e.what());
        EXPECT_NE(message.indexOf("email_Tool.txt"), -1) << e.what();
        EXPECT_NE(message.indexOf("no file was replaced"), -1) << e.what();
    }
    // both or neither: the batch file stays the old one, no temporary is left
    EXPECT_EQ(read("MakePass.ksh"), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList {"MakePass.ksh", "email_Tool.txt"}));
}

TEST_F(RunFiles, ProductNamesGiveFileNamesEverySystemTakes)
{
    const QString longName(300, u'\u00e9');
    for (const QString& product : {QStringLiteral("Tool/Pro"), longName}) {
        Fixture f(swreg("1", product, "a@x"), product);
        f.request.folder = folder();
        const RunResult r = performRun(f.request);
        const QString name = addressFileName(product);
        EXPECT_FALSE(name.contains(u'/'));
        EXPECT_LE(name.toUtf8().size(), 255 - 7);
        EXPECT_TRUE(name.toUtf8().isValidUtf8());
        EXPECT_EQ(read(name), QByteArray("a@x , 1\r\n")) << name.toStdString();
        EXPECT_TRUE(r.statistics[5].contains(name));
    }
    EXPECT_EQ(addressFileName("Tool/Pro"), "email_Tool_Pro.txt");
}

TEST_F(RunFiles, SkippedLinesAndMissingListsAreCountedAndNamed)
{
    Fixture f(swreg("1", "Tool", "a@x") + swreg("", "Tool", "b@x") + "call me, or email c@x thanks\r\n", "Tool");
    QTemporaryDir empty;
    f.lists.load(empty.path() + u'/');
    f.request.folder = folder();
    const RunResult r = performRun(f.request);
    ASSERT_EQ(r.statistics.size(), 8);
    EXPECT_EQ(r.statistics[0], "processed 1 entries for Store: Tool");
    EXPECT_EQ(r.statistics[7], "2 lines skipped: no order number or no address");
    EXPECT_EQ(r.notes,
        (QStringList {"line 2 skipped, no order number: " + swreg("", "Tool", "b@x").trimmed(),
            "line 3 skipped, no address: call me, or email c@x thanks",
            "bozos.txt not found in " + empty.path() + "/: no customer blocked",
            "Address.txt not found in " + empty.path() + "/: no address updated",
            "goodguys.txt not found in " + empty.path() + "/: no customer added"}));
}

// text written to path, then mapped; null (with the reason) if either fails
std::shared_ptr<const MappedFile> writtenAndMapped(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0) {
        ADD_FAILURE() << path.toStdString() << ": " << file.errorString().toStdString();
        return nullptr;
    }
    file.close();
    QString reason;
    std::shared_ptr<const MappedFile> mapped = MappedFile::open(path, &reason);
    if (!mapped)
        ADD_FAILURE() << reason.toStdString();
    return mapped;
}

} // namespace

TEST(ScriptRun, AMappedReportCutShortWhileReadWritesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("report.csv");
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += swreg(QString::number(1000 + i), "Tool", QStringLiteral("c%1@x").arg(i));
    const std::shared_ptr<const MappedFile> mapped = writtenAndMapped(path, text);
    ASSERT_TRUE(mapped);
    Report report;
    report.readMapped(mapped);
    EXPECT_FALSE(report.sourceLost());
    // a new download saved over the report: its pages beyond the new end go
    ASSERT_TRUE(QFile::resize(path, 100));
    const QByteArray bytes = mapped->bytes();
    qint64 sum = 0;
    for (qsizetype i = 0; i < bytes.size(); i += 4096)
        sum += bytes[i]; // beyond the new end: zeros instead of a bus error
    EXPECT_GT(sum, 0);
    EXPECT_TRUE(report.sourceLost());

    RunRequest request;
    request.report = &report;
    request.allProducts = true;
    request.selectedProduct = "All";
    request.folder = dir.path() + u'/';
    EXPECT_THROW(performRun(request), RunError);
    EXPECT_FALSE(QFile::exists(dir.filePath("MakePass.ksh")));
}

TEST(ScriptRun, ABigRunOnTwoCoresKeepsTheOrderOfASmallOne)
{
    // Big enough to be read in two halves and made on two cores: every
    // customer orders twice, once in each half, and one product is sold in
    // the later half only. The first order stays each customer's, the
    // products come in the order met, the address lines sorted.
    constexpr int kCustomers = int(Report::kLinesForTwoCores / 2) + 10;
    QString text;
    for (int half = 0; half < 2; ++half) {
        for (int c = 0; c < kCustomers; ++c) {
            const QString product = half == 1 && c % 1000 == 999 ? "Late" : (c % 2 ? "Tool" : "tool");
            text += swreg(QString::number(half * 1000000 + c), product, QStringLiteral("C%1@x").arg(c * 7919 % 100003));
        }
    }
    Fixture f(text, "All", true);
    ASSERT_EQ(f.report.products(), (QStringList {"All", "tool", "Late"}));
    EXPECT_EQ(f.report.orderLineCount(f.report.findProduct(u"Late")), kCustomers / 1000);
    QTemporaryDir dir;
    f.request.folder = dir.path() + u'/';
    const RunResult r = performRun(f.request);
    EXPECT_EQ(r.written, kCustomers);
    ASSERT_EQ(r.addresses.size(), kCustomers);
    for (qsizetype i = 1; i < r.addresses.size(); ++i)
        ASSERT_LE(compareIgnoringCase(r.addresses.bytesAt(i - 1), r.addresses.bytesAt(i)), 0) << i;
    QFile batch(dir.filePath("MakePass.ksh"));
    ASSERT_TRUE(batch.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = batch.readAll().split('\n');
    for (int c = 0; c < kCustomers; c += 997) {
        const QByteArray expected = QStringLiteral("htpasswd %1 .htpasswd C%2@x %3\r")
                                        .arg(c == 0 ? "-bc" : "-b")
                                        .arg(c * 7919 % 100003)
                                        .arg(c)
                                        .toUtf8();
        EXPECT_EQ(lines.value(3 + c), expected) << c;
    }
    // the lists ignore case, early and late in the pass
    f.lists.loadTexts("c95941@X\r\n", "C50499@x n@y\r\n", {});
    const RunResult listed = f.build();
    EXPECT_EQ(listed.blocked, 1);
    EXPECT_EQ(listed.updated, 1);
    EXPECT_EQ(listed.written, kCustomers - 1);
    f.lists.clear();

    // The same report mapped: its pages go as the run passes them, and are
    // read again where needed. Every file is the same but for its stamps.
    QTemporaryDir mappedDir;
    const QString path = mappedDir.filePath("report.csv");
    const std::shared_ptr<const MappedFile> mapped = writtenAndMapped(path, text);
    ASSERT_TRUE(mapped);
    Report report;
    report.readMapped(mapped);
    ASSERT_TRUE(report.textMapped());
    RunRequest request = f.request;
    request.report = &report;
    request.folder = mappedDir.path() + u'/';
    performRun(request);
    const auto unstamped = [](const QString& file) {
        QFile in(file);
        const QRegularExpression stamp("\\d{4}-\\d\\d-\\d\\dT[\\d:]+Z");
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()).replace(stamp, QString()) : QString();
    };
    for (const char* name :
        {"MakePass.ksh", "email_All.txt", "email_All_new.txt", "accounts_All.txt", "changes_All.txt"})
        EXPECT_EQ(unstamped(mappedDir.filePath(name)), unstamped(dir.filePath(name))) << name;
}
