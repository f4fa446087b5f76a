// The report intake: lines, store, order lines and the product list.

#include "orders/LineOffsets.h"
#include "orders/Report.h"
#include "orders/ReportFields.h"
#include "orders/SavedLayouts.h"
#include "orders/ScriptRun.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

using namespace Qt::StringLiterals;

using namespace og;

namespace {

QString storeOf(const Report& r)
{
    return r.layout().name;
}

QString swregLine(const QString& order, const QString& product, const QString& address)
{
    return QStringLiteral("1,Tue Jan 01 10:00:00 2002,%1,%2,%3,9.95,USD,US,card,Ann,Lee,x")
        .arg(order, product, address);
}

// Offsets are kept in four bytes: a text past 4 GiB (far too big to make
// here) must still give each line its own place, also once cut back.
TEST(LineOffsets, PlacesPast4GiBComeBackWhole)
{
    constexpr qsizetype G = qsizetype(1) << 32;
    const std::vector<qsizetype> starts {0, 7, G - 1, G, G + 5, 3 * G + 2, 3 * G + 9};
    LineOffsets offsets;
    for (const qsizetype start : starts)
        offsets.push_back(start);
    for (size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(offsets[i], starts[i]) << i;
    offsets.resize(3);
    offsets.push_back(2 * G + 1);
    EXPECT_EQ(offsets[2], G - 1);
    EXPECT_EQ(offsets[3], 2 * G + 1);
    ASSERT_EQ(offsets.size(), 4u);
}

TEST(ReportIntake, OneProductIsListedWithoutAll)
{
    Report r;
    r.read(swregLine("1", "Tool", "a@example.com") + "\r\n" + swregLine("2", "Tool", "b@example.com"));
    EXPECT_EQ(r.products(), QStringList {"Tool"});
    EXPECT_EQ(storeOf(r), "SWREG");
    EXPECT_EQ(r.orderLineCount(), 2);
}

TEST(ReportIntake, ProductsDifferingInCaseAreOneKeepingTheFirstSpelling)
{
    Report r;
    r.read(swregLine("1", "Tool", "a@x") + "\r\n" + swregLine("2", "tool", "b@x") + "\r\n" +
        swregLine("3", "TOOL", "c@x"));
    EXPECT_EQ(r.products(), QStringList {"Tool"});

    r.read(swregLine("1", "Tool Pro", "a@x") + "\r\n" + swregLine("2", "Tool", "b@x") + "\r\n" +
        swregLine("3", u"\u00c9dition"_s, "c@x") + "\r\n" + swregLine("4", u"\u00e9DITION"_s, "d@x"));
    EXPECT_EQ(r.products(), (QStringList {"All", "Tool Pro", "Tool", u"\u00c9dition"_s}));
    EXPECT_EQ(r.findProduct(u"tool"), 1);
    EXPECT_EQ(r.findProduct(u"\u00e9dition"), 2);
    EXPECT_EQ(r.findProduct(u"Tool Pr"), -1);
    EXPECT_EQ(r.productIndexOf(3), 2);
}

TEST(ReportIntake, OnlyLinesWithTextAndAnAtAreOrders)
{
    Report r;
    r.read(QStringLiteral("Sales report\r\n\r\n   \r\n") + swregLine("1", "Tool", "a@x") + "\r\nTotal,1,,,\r\n");
    EXPECT_EQ(r.lineCount(), 5);
    EXPECT_FALSE(r.isOrderLine(0));
    EXPECT_FALSE(r.isOrderLine(1));
    EXPECT_FALSE(r.isOrderLine(2));
    EXPECT_TRUE(r.isOrderLine(3));
    EXPECT_FALSE(r.isOrderLine(4));
    EXPECT_EQ(r.line(3), swregLine("1", "Tool", "a@x"));
}

TEST(ReportIntake, NoOrderLineGivesAnEmptyProductList)
{
    Report r;
    r.read(QStringLiteral("nothing here\r\nat all\r\n"));
    EXPECT_TRUE(r.products().isEmpty());
    r.read(QString());
    EXPECT_TRUE(r.products().isEmpty());
    EXPECT_EQ(r.lineCount(), 0);
}

TEST(ReportIntake, AnEmptyProductIsAnEntryOfItsOwn)
{
    Report r;
    r.read(QStringLiteral("1,d,2,,a@x,y\r\n") + swregLine("2", "Tool", "b@x"));
    EXPECT_EQ(r.products(), (QStringList {"All", "", "Tool"}));
}

TEST(ReportIntake, HeaderStartingWithCapitalAInLine0Or1MeansRegNet)
{
    const QString quoted = QStringLiteral("\"1\",\"p\",\"R-1\",\"2002-02-11 10:00\",\"1\",\"9\",\"Tool\",\"a@x\",\"\"");
    Report r;
    r.read(QStringLiteral("Account,with,an@sign\r\n") + quoted);
    EXPECT_EQ(storeOf(r), "RegNet");
    EXPECT_FALSE(r.isOrderLine(0)); // the header is never an order
    EXPECT_EQ(r.products(), QStringList {"Tool"});

    r.read(QStringLiteral("\r\nAccount\r\n") + quoted); // header as line 1
    EXPECT_EQ(storeOf(r), "RegNet");

    // a line 2 starting with "A" is an ordinary line
    r.read(QStringLiteral("x\r\ny\r\nA,d,1,Tool,a@x,z"));
    EXPECT_EQ(storeOf(r), "SWREG");
    EXPECT_TRUE(r.isOrderLine(2));

    // lower-case "a" is no header
    r.read(QStringLiteral("account\r\n") + swregLine("1", "Tool", "a@x"));
    EXPECT_EQ(storeOf(r), "SWREG");
}

TEST(ReportIntake, OrderBeforeTheHeaderIsReadAsSwreg)
{
    Report r;
    r.read(swregLine("1", "Early", "a@x") + "\r\nA header\r\n" +
        "\"1\",\"p\",\"R-1\",\"d\",\"1\",\"9\",\"Late\",\"b@x\",\"\"");
    EXPECT_EQ(storeOf(r), "RegNet");
    EXPECT_EQ(r.products(), (QStringList {"All", "Early", "Late"}));
}

TEST(ReportIntake, LineEndsCrLfLfAndCrAllSplit)
{
    Report r;
    r.read(QStringLiteral("a\r\nb\nc\rd"));
    ASSERT_EQ(r.lineCount(), 4);
    EXPECT_EQ(r.line(1), "b");
    EXPECT_EQ(r.line(3), "d");
    r.read(QStringLiteral("a\r\n\r\nb\r\n"));
    ASSERT_EQ(r.lineCount(), 3); // a final line end opens no further line
    EXPECT_EQ(r.line(1), "");

    // big enough to be cut in two halves at once: every line end and empty
    // lines on either side of the seam
    QByteArray text;
    std::vector<QByteArray> lines;
    for (int i = 0; text.size() < (9 << 20); ++i) {
        lines.push_back(i % 5 ? "line " + QByteArray::number(i) : QByteArray());
        text += lines.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    }
    r.readBytes(text);
    ASSERT_EQ(r.lineCount(), qsizetype(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(r.lineBytes(qsizetype(i)), lines[i]) << i;
}

TEST(ReportIntake, BytesAreDecodedAsUtf8OrWindows1252)
{
    Report r;
    r.readBytes(QByteArray("1,d,2,Caf\xe9,a@x,y\r\n"));
    EXPECT_EQ(r.products(), QStringList {u"Caf\u00e9"_s});
    EXPECT_EQ(r.line(0), u"1,d,2,Caf\u00e9,a@x,y");
    r.readBytes(QByteArray("\xef\xbb\xbf"
                           "1,d,2,Caf\xc3\xa9,a@x,y\n"));
    EXPECT_EQ(r.products(), QStringList {u"Caf\u00e9"_s});
    EXPECT_EQ(storeOf(r), "SWREG");
    EXPECT_EQ(QString(reportLayouts()[1].name), "RegNet");
}

// A line with an "@" is an order only with one address and an order number,
// and without control characters; the others are counted and named.
TEST(ReportIntake, LinesWithoutAddressOrOrderNumberAreSkipped)
{
    struct Case {
        const char* what;
        QByteArray line;
        std::optional<SkipReason> reason;
    };
    const Case cases[] = {
        {"good", swregLine("1", "Tool", " a@x ").toUtf8(), std::nullopt},
        {"no order number", swregLine("", "Tool", "a@x").toUtf8(), SkipReason::NoOrderNumber},
        {"prose", "Hi John, please call me at 555, or email john@example.com. Thanks", SkipReason::NoAddress},
        {"nothing before @", swregLine("1", "Tool", "@x").toUtf8(), SkipReason::NoAddress},
        {"nothing after @", swregLine("1", "Tool", "a@").toUtf8(), SkipReason::NoAddress},
        {"two @", swregLine("1", "Tool", "a@b@x").toUtf8(), SkipReason::NoAddress},
        {"zero byte", QByteArray("1,d,2,Tool,a\0@x,y", 17), SkipReason::ControlCharacter},
        {"escape", swregLine("1", "Tool\x1b[2J", "a@x").toUtf8(), SkipReason::ControlCharacter},
        {"delete", swregLine("1", "Tool", "a\x7f@x").toUtf8(), SkipReason::ControlCharacter},
        {"control last", swregLine("1", "Tool", "a@x").toUtf8() + "\x01", SkipReason::ControlCharacter},
        {"tab is no control", swregLine("1", "Tool\tPro", "a@x").toUtf8(), std::nullopt},
        // what htpasswd refuses: it would lose the account, or every account
        {"colon", swregLine("1", "Tool", "a:b@x").toUtf8(), SkipReason::UserNameRefused},
        {"comment", swregLine("1", "Tool", "#a@x").toUtf8(), SkipReason::UserNameRefused},
        {"217-byte user", swregLine("1", "Tool", QString(215, u'a') + "@x").toUtf8(), SkipReason::UserNameRefused},
        {"216-byte user", swregLine("1", "Tool", QString(214, u'a') + "@x").toUtf8(), std::nullopt},
        {"256-byte password", swregLine(QString(256, u'1'), "Tool", "a@x").toUtf8(), SkipReason::PasswordTooLong},
        {"255-byte password", swregLine(QString(255, u'1'), "Tool", "a@x").toUtf8(), std::nullopt},
    };
    for (const Case& c : cases) {
        Report r;
        r.readBytes(c.line);
        EXPECT_EQ(r.isOrderLine(0), !c.reason) << c.what;
        EXPECT_EQ(r.skippedLineCount(), c.reason ? 1 : 0) << c.what;
        if (c.reason && r.skippedLineCount() == 1) {
            EXPECT_EQ(r.firstSkippedLines()[0].line, 0) << c.what;
            EXPECT_EQ(r.firstSkippedLines()[0].reason, *c.reason) << c.what;
        }
    }
    // many: all counted, the first few kept
    QByteArray many;
    for (int i = 0; i < 25; ++i)
        many += swregLine("", "Tool", "a@x").toUtf8() + "\n";
    Report r;
    r.readBytes(many + swregLine("1", "Tool", "a@x").toUtf8());
    EXPECT_EQ(r.skippedLineCount(), 25);
    EXPECT_EQ(qsizetype(r.firstSkippedLines().size()), Report::kSkippedKept);
    EXPECT_EQ(r.products(), QStringList {"Tool"});
}

// In the quoted layout a record goes on while its quotes are open; one whose
// quotes never close is its first line alone, and the next line is read.
TEST(ReportIntake, QuotedRecordsGoOnOverLineBreaksInQuotes)
{
    const QString rest = "\"2002-02-11 10:00\",\"1\",\"9\",\"Tool\",\"liz@x\",\"\"";
    const QString next = "\r\n\"A7\",\"paid\",\"R-2\"," + rest;
    struct Case {
        const char* what;
        QString record;
        qsizetype lastTextLine;
        std::optional<SkipReason> reason;
    };
    const Case cases[] = {
        {"break in an unused field", "\"A7\",\"paid\r\nby card\",\"R-1\"," + rest, 3, std::nullopt},
        {"break in the order number", "\"A7\",\"paid\",\"R-\n1\"," + rest, 3, SkipReason::ControlCharacter},
        {"never closed", "\"A7\",\"paid,\"R-1\"," + rest, 2, SkipReason::UnclosedQuote},
    };
    for (const Case& c : cases) {
        Report r;
        r.read("Account,Status\r\n" + c.record + next);
        ASSERT_EQ(r.lineCount(), 3) << c.what;
        EXPECT_EQ(r.textLineOf(2), c.lastTextLine) << c.what;
        EXPECT_TRUE(r.isOrderLine(2)) << c.what;
        EXPECT_EQ(r.isOrderLine(1), !c.reason) << c.what;
        QByteArray spill;
        if (!c.reason) {
            EXPECT_EQ(r.layout().field(r.lineBytes(1), r.layout().order, spill), "R-1") << c.what;
        } else if (r.skippedLineCount() == 1) {
            EXPECT_EQ(r.firstSkippedLines()[0].reason, *c.reason) << c.what;
        }
    }
    // big enough to be cut in two halves at once, whose seam is guessed at
    // an LF near the middle: between records, then inside quotes
    for (const int breaks : {1, 20}) {
        const QString record = "\"A7\",\"paid" + QString("\r\nby card").repeated(breaks) + "\",\"R-1\"," + rest;
        const int blocks = 2000000 / (breaks + 16);
        QString text = "Account,Status";
        for (int k = 0; k < blocks; ++k)
            text += "\r\n" + record + next;
        Report r;
        r.read(text);
        ASSERT_EQ(r.lineCount(), 2 * blocks + 1) << breaks;
        EXPECT_EQ(r.orderLineCount(), 2 * blocks) << breaks;
        EXPECT_EQ(r.textLineOf(2 * blocks), (breaks + 2) * blocks) << breaks;
        QByteArray spill;
        EXPECT_EQ(r.layout().field(r.lineBytes(2 * blocks - 1), r.layout().order, spill), "R-1") << breaks;
    }
}

// However the text comes, every byte order mark at its start is dropped.
TEST(ReportIntake, ByteOrderMarksAtTheStartAreDropped)
{
    const QByteArray marks = "\xef\xbb\xbf\xef\xbb\xbf",
                     regnet = "Account\n\"1\",\"p\",\"R-1\",\"d\",\"1\",\"9\",\"T\",\"a@x\",\"\"";
    Report r;
    for (const QByteArray& bytes : {marks + regnet, marks + regnet + "\xe9"}) { // UTF-8, Windows-1252
        r.readBytes(bytes);
        EXPECT_EQ(storeOf(r), "RegNet") << bytes.size();
    }
    r.read(QString::fromUtf8(marks + regnet));
    EXPECT_EQ(storeOf(r), "RegNet");
}

// One row per store layout: a new store adds its row.
TEST(ReportLayouts, EachStoreReadsTheFieldsOfItsLines)
{
    struct Case {
        const char* store;
        QString text;
        const char *order, *product, *address, *date, *first, *last;
    };
    const Case cases[] = {
        {"SWREG", swregLine("77", "Tool", "ann@x"), "77", "Tool", "ann@x", "Jan-01-2002", "Ann", "Lee"},
        {"RegNet",
            "Account,Status\r\n\"A7\",\"paid\",\"R-1\",\"2002-02-11 10:12:00\",\"1\",\"9\",\"Tool\","
            "\"ivy@x\",\"\",\"St\",\"City\",\"1\",\"US\",\"Ivy\",\"Irving\",\"\"",
            "R-1", "Tool", "ivy@x", "2002-02-11", "Ivy", "Irving"},
    };
    ASSERT_EQ(std::size(cases), reportLayouts().size());
    for (const Case& c : cases) {
        Report r;
        r.read(c.text);
        const ReportLayout& layout = r.layout();
        const QByteArrayView line = r.lineBytes(r.lineCount() - 1);
        QByteArray spill;
        auto field = [&](const ReportColumn& column) { return QString::fromUtf8(layout.field(line, column, spill)); };
        EXPECT_EQ(storeOf(r), c.store);
        EXPECT_EQ(r.products(), QStringList {"Tool"}) << c.store;
        EXPECT_EQ(field(layout.order), c.order) << c.store;
        EXPECT_EQ(field(layout.firstName), c.first) << c.store;
        EXPECT_EQ(field(layout.lastName), c.last) << c.store;
        EXPECT_EQ(QString::fromUtf8(layout.orderAddress(line, spill)), c.address) << c.store;
        EXPECT_EQ(QString::fromUtf8(layout.orderDate(line, spill)), c.date) << c.store;
    }
}

// Header-row reports: one case per rule of reading them. Each order comes
// out as "order|product|address|date|first last".
TEST(ReportLayouts, HeaderRowsAreReadByColumnName)
{
    const QByteArray bom = "\xef\xbb\xbf";
    const QByteArray generic = "Order ID,Email,Product,Name,Date\r\n";
    struct Case {
        const char* what;
        QByteArray text;
        const char* store;
        QStringList orders;
        int skipped = 0;
        const char* excluded = "";
        const char* problem = "";
    };
    const Case cases[] = {
        {"quoted separators", generic + "7,a@x,\"Tool, Pro\",\"Ann Lee\",2026-01-02T10:00:00Z\r\n", "Generic",
            {"7|Tool, Pro|a@x|2026-01-02|Ann Lee"}},
        {"line break in quotes", generic + "7,a@x,Tool,\"Ann\r\nLee\",2026-01-02\r\n8,b@x,Tool,Bo,x\r\n", "Generic",
            {"8|Tool|b@x|x|Bo "}, 1},
        {"doubled quotes", generic + "7,a@x,\"Tool \"\"X\"\"\",Ann Lee,2026-01-02 10:00:00 +0100\n", "Generic",
            {"7|Tool \"X\"|a@x|2026-01-02|Ann Lee"}},
        {"byte order mark and ; separator", bom + "Order;E-Mail;Item\n9;c@x;Tool\n", "Generic", {"9|Tool|c@x|| "}},
        {"tab separator with empty fields", "Order\tEmail\tProduct\tName\tDate\n9\tc@x\t\t \t2026-01-02\n", "Generic",
            {"9||c@x|2026-01-02| "}},
        {"totals row and refunds",
            "Purchase ID,Item Name,Purchase Email,Buyer Email,Buyer Name,Purchase Date,Refunded?\n"
            "g1,Tool,,b@x,Bo Bell,2026-02-03,false\ng2,Tool,r@x,,Ri Ray,2026-02-03,TRUE\nTotals,,,,,,\n",
            "Gumroad", {"g1|Tool|b@x|2026-02-03|Bo Bell"}, 0, "1 order excluded: refunded (Refunded? = true)"},
        {"multi-row orders",
            "Name,Email,Financial Status,Created at,Lineitem name,Billing Name\n"
            "#1,a@x,paid,2026-03-01 09:00:00 +0100,Tool,Ann "
            "Lee\n#1,,,,Pro,\n#2,v@x,voided,2026-03-01,Tool,V\n#2,,,,Pro,\n",
            "Shopify", {"#1|Tool|a@x|2026-03-01|Ann Lee", "#1|Pro|a@x|2026-03-01|Ann Lee"}, 0,
            "1 order excluded: refunded or voided (Financial Status = voided)"},
        {"header that matches nothing", "Ref,Mail box,Thing\n1,a@x,Tool\n", "SWREG", {}, 0, "",
            "its columns are \"Ref\", \"Mail box\", \"Thing\""},
        {"an unknown comma export is no SWREG report",
            "Receipt,Buyer Mail,Item Title,Purchaser,Sold On,Amount\nR1,zoe@example.net,Tool,Zoe,2026-03-01,9\n",
            "SWREG", {}, 0, "", "\"Receipt\", \"Buyer Mail\", \"Item Title\""},
        {"a first line of data without an address stays SWREG",
            "2417,Tue Jan 01 10:00:00 2002,1,Tool,,9.95,USD,US,card,Ann,Lee,x\n2417,Tue,2,Tool,a@x,9\n", "SWREG", {}},
        {"a RegNet header stays RegNet", "Account,Order,Email\n\"1\",\"R-1\",\"a@x\",\"\"\n", "RegNet", {}},
        {"safety rules", generic + "1,a b@x,Tool,,\n,c@x,Tool,,\n3,\"d\x01@x\",Tool,,\n", "Generic", {}, 3},
    };
    for (const Case& c : cases) {
        Report r;
        r.readBytes(c.text);
        EXPECT_EQ(r.storeName(), c.store) << c.what;
        QStringList orders;
        const ReportLayout& layout = r.layout();
        for (qsizetype i = 0; i < r.lineCount(); ++i) {
            if (!r.isOrderLine(i) || !layout.headerRow)
                continue;
            const QByteArrayView row = r.lineBytes(i), own = r.lineBytes(r.orderFieldsLine(i));
            QByteArray s1, s2, s3;
            QByteArrayView first, last;
            layout.names(own, s1, s2, &first, &last);
            const QByteArray name = first.toByteArray() + ' ' + last.toByteArray();
            const QByteArrayList fields = {layout.field(row, layout.order, s3).toByteArray(),
                layout.field(row, layout.product, s3).toByteArray(), layout.orderAddress(own, s3).toByteArray(),
                layout.orderDate(own, s3).toByteArray(), name};
            orders.append(QString::fromUtf8(fields.join('|')));
        }
        EXPECT_EQ(orders, c.orders) << c.what;
        EXPECT_EQ(r.skippedLineCount(), c.skipped) << c.what;
        EXPECT_EQ(excludedRowsLine(r), c.excluded) << c.what;
        EXPECT_TRUE(r.headerProblem().contains(c.problem)) << c.what << ": " << r.headerProblem().toStdString();
        EXPECT_EQ(r.headerProblem().isEmpty(), !*c.problem) << c.what;
    }
}

// A layout saved in the settings file reads back as written, is tried
// before the built-in ones, and one asked for by name that misses a column
// says which.
TEST(ReportLayouts, SavedLayoutsRoundTripAndAreTriedFirst)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("ordergate.ini");
    HeaderRowLayout mine;
    mine.name = "My Shop";
    mine[HeaderField::Order] = {"Ref", "Beleg"};
    mine[HeaderField::Email] = {"Mail box"};
    mine[HeaderField::Product] = {"Thing"};
    mine[HeaderField::Date] = {"Day"};
    mine.separator = ';';
    mine.dateFormat = "dd.MM.yyyy";
    mine.exclusions = {{{"State"}, {"storno"}}, {{"Test"}, {"yes"}}};
    saveLayout(ini, mine);
    const std::vector<HeaderRowLayout> saved = loadSavedLayouts(ini);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(layoutDescription(saved[0]), layoutDescription(mine));

    Report r;
    r.setReading({saved, std::nullopt});
    r.read("Ref;Mail box;Thing;Day;State;Test;Email;Order\n1;a@x;Tool;03.02.2026;ok;no;;\n2;b@x;Tool;x;Storno;no;;\n"
           "3;c@x;Tool;x;ok;Yes;;\n");
    EXPECT_EQ(r.storeName(), "My Shop");
    ASSERT_EQ(r.orderLineCount(), 1);
    QByteArray spill;
    EXPECT_EQ(r.layout().orderDate(r.lineBytes(1), spill), "2026-02-03");
    EXPECT_EQ(excludedRowsLine(r), "2 orders excluded: State = storno: 1, Test = yes: 1");
    // saved again with one rule, the second is gone from the file
    mine.exclusions.pop_back();
    saveLayout(ini, mine);
    EXPECT_EQ(layoutDescription(loadSavedLayouts(ini)[0]), layoutDescription(mine));

    r.setReading({saved, findLayout(saved, "gumroad")});
    r.read("Ref;Mail box;Thing\n1;a@x;Tool\n");
    EXPECT_EQ(r.orderLineCount(), 0);
    EXPECT_TRUE(r.headerProblem().startsWith("the layout Gumroad does not fit")) << r.headerProblem().toStdString();
    EXPECT_TRUE(r.headerProblem().contains("\"Mail box\"")) << r.headerProblem().toStdString();
}

} // namespace
