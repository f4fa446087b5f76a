// Cutting report lines into fields, and decoding the program's text files.

#include "common/TextFiles.h"
#include "orders/CsvReader.h"
#include "orders/ReportFields.h"
#include "orders/ReportLayout.h"

#include <gtest/gtest.h>

using namespace og;

namespace {

// Every field helper has a text and a byte version; both must agree.
QString commaBytes(const QString& line, int n)
{
    QByteArray spill;
    return QString::fromUtf8(bytes::commaField(line.toUtf8(), n, spill));
}
QString quotedBytes(const QString& line, int n)
{
    QByteArray spill;
    return QString::fromUtf8(bytes::quotedField(line.toUtf8(), n, spill));
}

TEST(ReportFields, CommaFieldCountsCommasAndTrims)
{
    const struct {
        const char* line;
        int n;
        const char* field;
    } cases[] = {
        {"a,b,c", 0, "a"},
        {"a,b,c", 1, "b"},
        {"a,b,c", 2, ""}, // the last field has no comma behind it
        {"a, b ,c", 1, "b"},
        {"a,\tb\t,c", 1, "b"},
        {"a,,c", 1, ""},
        {"a,b", 5, ""},
        {"", 0, ""},
        {"x,Tool Pro,y", 1, "Tool Pro"},
        // fields across the eight-byte words the bytes are read in
        {"1,Tue Jan 01 10:00:00 2002,77,Tool,ann@x,9.95", 3, "Tool"},
        {"1234567,,,9", 3, ""},
        {"12345678,,,9,", 3, "9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(CommaField(QString::fromUtf8(c.line), c.n), QString::fromUtf8(c.field)) << c.n;
        EXPECT_EQ(commaBytes(QString::fromUtf8(c.line), c.n), QString::fromUtf8(c.field)) << c.n;
    }
}

TEST(ReportFields, QuotedFieldUsesTheThreeCharacterSeparator)
{
    const QString line = QStringLiteral("\"x\",\"y\",\"z\"");
    EXPECT_EQ(QuotedField(line, 1), "y");
    EXPECT_EQ(QuotedField(line, 2), ""); // closed by a lone quote
    EXPECT_EQ(quotedBytes(line, 1), "y");
    // a comma inside a quoted field is no separator
    const QString comma = QStringLiteral("\"a\",\"b, c\",\"d\",\"e\"");
    EXPECT_EQ(QuotedField(comma, 1), "b, c");
    EXPECT_EQ(quotedBytes(comma, 2), "d");
}

TEST(ReportFields, VeryLongLinesFollowTheRestLimitInBothVersions)
{
    // Only 9,999 characters after a separator are searched further, so a
    // field standing past that point comes out empty.
    const QString filler(12000, u'x');
    const QString line = QStringLiteral("a,") + filler + QStringLiteral(",b,c");
    EXPECT_EQ(CommaField(line, 2), "");
    EXPECT_EQ(commaBytes(line, 2), "");
    const QString shortLine = QStringLiteral("a,") + QString(500, u'x') + QStringLiteral(",b,c");
    EXPECT_EQ(CommaField(shortLine, 2), "b");
    EXPECT_EQ(commaBytes(shortLine, 2), "b");
}

TEST(ReportFields, OrderAddressTakesTheTextAroundTheFirstAt)
{
    EXPECT_EQ(OrderAddress(u"1,date,77,Tool,ann@example.com,9.95", u','), "ann@example.com");
    EXPECT_EQ(OrderAddress(u"\"1\",\"ann@example.com\",\"x\"", u'"'), "ann@example.com");
    // not trimmed: the blank after the comma stays
    EXPECT_EQ(OrderAddress(u"1, ann@example.com ,x", u','), " ann@example.com ");
    // only the first "@" counts
    EXPECT_EQ(OrderAddress(u"1,team@home,ann@example.com", u','), "team@home");
    // no separator on either side: to the start and the end of the line
    EXPECT_EQ(OrderAddress(u"ann@example.com", u','), "ann@example.com");
    EXPECT_EQ(QString::fromUtf8(bytes::orderAddress("1, ann@example.com ,x", ',')), " ann@example.com ");
}

TEST(ReportFields, SwregDateKeepsMonthDayYear)
{
    EXPECT_EQ(SwregDate(u"1,Tue Jan 01 10:00:00 2002,77"), "Jan-01-2002");
    // no colon: only the first word goes
    EXPECT_EQ(SwregDate(u"1,Tue Jan 01 2002,77"), "Jan-01-2002");
    // no comma after field 1: empty
    EXPECT_EQ(SwregDate(u"1,Tue Jan 01 10:00:00 2002"), "");
    // a colon too near the start deletes nothing
    EXPECT_EQ(SwregDate(u"1,x a:b,7"), "a:b");
    QByteArray spill;
    EXPECT_EQ(QString::fromUtf8(bytes::swregDate("1,Tue Jan 01 10:00:00 2002,77", spill)), "Jan-01-2002");
}

TEST(ReportFields, QuotedDateStopsAtTheFirstBlank)
{
    const QString line = QStringLiteral("\"a\",\"b\",\"7\",\"2002-02-11 10:12:00\",\"x\"");
    EXPECT_EQ(QuotedDate(line), "2002-02-11");
    QByteArray spill;
    EXPECT_EQ(QString::fromUtf8(bytes::quotedDate(line.toUtf8(), spill)), "2002-02-11");
}

// The reader's RFC 4180 mode, for layouts after the two built-in ones.
TEST(CsvReader, Rfc4180QuotesHoldSeparatorsLineBreaksAndDoubledQuotes)
{
    const CsvReader csv(',', CsvQuoting::Rfc4180);
    const QByteArray record = "a, \"b,c\" ,\"say \"\"hi\"\"\",\"x\r\ny\",,last";
    const char* fields[] = {"a", "b,c", "say \"hi\"", "x\r\ny", "", "last", ""};
    QByteArray spill;
    for (int n = 0; n < int(std::size(fields)); ++n)
        EXPECT_EQ(csv.field(record, n, spill), QByteArrayView(fields[n])) << n;
    const QByteArray text = record + "\r\nnext,\"open\nquote";
    bool closed = false, overLines = false;
    EXPECT_EQ(csv.recordEnd(text, 0, &closed, &overLines), record.size());
    EXPECT_TRUE(closed && overLines);
    EXPECT_EQ(csv.recordEnd("a,\"b\"\nc", 0, nullptr, &overLines), 5);
    EXPECT_FALSE(overLines);
    EXPECT_EQ(csv.recordEnd(text, record.size() + 2, &closed), text.size()); // a quote never closed
    EXPECT_FALSE(closed);
    EXPECT_EQ(csv.field("x,\"open, to the end", 1, spill), QByteArrayView("open, to the end"));
    // quoted fields go on while a line holds an odd number of quotes; without
    // quoting every line end ends a record
    EXPECT_EQ(CsvReader(',', CsvQuoting::QuotedFields).recordEnd(text, 0), record.size());
    EXPECT_EQ(CsvReader(',', CsvQuoting::None).recordEnd(text, 0), text.indexOf('\r'));
}

// Long rows are skipped through a word at a time: fields that end on, across
// and just past word edges, separators in quotes deep into the row, a quote
// inside an unquoted field, in each separator the reader skips that way.
// A row cut once (CsvFields) reads the same, whichever field the cut stops
// at, and reads on past it.
TEST(CsvReader, Rfc4180FieldsDeepIntoLongRowsCutWhereTheyEnd)
{
    const char* fields[] = {"#1001", "ann@x.org", "", "paid", "2026-01-02 10:00:00 +0100", "a\"b", "7", "",
        "1,Main St, Apt 4", "", "\"q\"", "Ann Lee", "x", "last"};
    const QByteArray row = "#1001,ann@x.org,,paid,2026-01-02 10:00:00 +0100,a\"b,7,, \"1,Main St, Apt 4\",,"
                           "\"\"\"q\"\"\",Ann Lee,x,last";
    for (const char separator : {',', ';'}) {
        const QByteArray record = QByteArray(row).replace(',', separator);
        const CsvReader csv(separator, CsvQuoting::Rfc4180);
        QByteArray spill;
        CsvFields row, restored;
        // kept places (a doubled field, one past the record, none) read the
        // same when restored, and the other fields by a walk
        const std::array<int, KeptFields::kColumns> columns {1, 10, 13, -1, 8, 40};
        for (const int last : {0, 4, 9, 13, 40}) {
            row.cut(csv, record, last);
            KeptFields kept;
            row.keep(columns, kept);
            EXPECT_EQ(kept.isKept(), last == 40) << separator << last; // kept only when all columns were cut
            if (kept.isKept())
                restored.restore(csv, record, last, columns, kept);
            for (int n = 0; n < int(std::size(fields)); ++n) {
                const QByteArray expected = QByteArray(fields[n]).replace(',', separator);
                EXPECT_EQ(csv.field(record, n, spill), QByteArrayView(expected)) << separator << n;
                EXPECT_EQ(row.field(n, spill), QByteArrayView(expected)) << separator << n << last;
                if (kept.isKept()) {
                    EXPECT_EQ(restored.field(n, spill), QByteArrayView(expected)) << separator << n;
                }
            }
            EXPECT_TRUE(row.field(int(std::size(fields)), spill).isEmpty()) << separator << last;
        }
        EXPECT_TRUE(csv.field(record, int(std::size(fields)), spill).isEmpty()) << separator;
    }
}

// A header-row layout: columns found by name, the address in a column.
TEST(CsvReader, ColumnsByHeaderNameAreFoundInTheHeaderRow)
{
    const ReportLayout named {
        .name = QLatin1StringView("Named"),
        .csv = {';', CsvQuoting::Rfc4180},
        .order = {-1, QLatin1StringView("Order")},
        .product = {-1, QLatin1StringView("Product")},
        .firstName = {-1, QLatin1StringView("First")},
        .lastName = {},
        .date = {-1, QLatin1StringView("Date")},
        .address = {-1, QLatin1StringView("E-mail")},
        .addressRule = ReportAddressRule::InColumn,
    };
    const ReportLayout layout = named.withHeaderRow("Date;\"Order\";E-MAIL;Product");
    EXPECT_EQ(layout.order.position, 1);
    EXPECT_EQ(layout.address.position, 2);
    EXPECT_EQ(layout.firstName.position, -1); // not in the header: reads empty
    const QByteArray line = "2024-01-02 10:00;\"77\"; ann@x.com ;\"Tool; Pro\"";
    QByteArray spill;
    EXPECT_EQ(layout.field(line, layout.order, spill), QByteArrayView("77"));
    EXPECT_EQ(layout.field(line, layout.product, spill), QByteArrayView("Tool; Pro"));
    EXPECT_EQ(layout.field(line, layout.firstName, spill), QByteArrayView());
    EXPECT_EQ(layout.orderAddress(line, spill), QByteArrayView("ann@x.com"));
    EXPECT_EQ(layout.orderDate(line, spill), QByteArrayView("2024-01-02"));
}

TEST(ReportFields, TrimmingDropsControlCharactersButNotOtherText)
{
    EXPECT_EQ(trimmed(u"\t\r\n x y \x01"), "x y");
    EXPECT_EQ(trimmed(u"\u00a0x\u00a0"), u"\u00a0x\u00a0"); // code above 32 stays
    EXPECT_EQ(QString::fromUtf8(bytes::trimmed(" \xc3\xa9 ")), u"\u00e9");
}

TEST(TextFiles, InvalidUtf8BytesReadAsWindows1252)
{
    EXPECT_EQ(decodeText("caf\xc3\xa9"), u"caf\u00e9");               // UTF-8
    EXPECT_EQ(decodeText("caf\xe9"), u"caf\u00e9");                   // Latin-1 byte
    EXPECT_EQ(decodeText("\x80 \x93q\x94"), u"\u20ac \u201cq\u201d"); // 1252 specials
    EXPECT_EQ(decodeText("\xef\xbb\xbfok"), u"ok");                   // BOM dropped
    EXPECT_EQ(decodeText("\xef\xbb\xbf\xef\xbb\xbfok"), u"ok");       // every one at the start
    EXPECT_EQ(decodeText("\xc3\xa9\xe9"), u"\u00e9\u00e9");           // mixed in one text
    EXPECT_EQ(decodeText("\xed\xa0\x80"), u"\u00ed\u00a0\u20ac");     // encoded surrogate is invalid
    EXPECT_EQ(toValidUtf8("caf\xe9"), QByteArray("caf\xc3\xa9"));
    EXPECT_EQ(toValidUtf8("already \xc3\xa9"), QByteArray("already \xc3\xa9"));
}

// Checked as a buffer fills, cut anywhere (inside a sequence too), the
// verdict is the whole text's.
TEST(TextFiles, Utf8CheckedInPartsAgreesWithTheWholeText)
{
    const struct {
        QByteArray text;
        bool valid;
    } cases[] = {
        {"plain ascii text, longer than one 32-byte step of the check", true},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 end", true},
        {"caf\xe9 in Windows-1252", false},
        {"cut at the end \xe2\x82", false},
        {"\xed\xa0\x80 an encoded surrogate", false},
    };
    for (const auto& c : cases) {
        for (qsizetype cut = 0; cut <= c.text.size(); ++cut) {
            Utf8Check check;
            check.check(c.text.first(cut), false);
            check.check(c.text, true);
            EXPECT_EQ(check.valid(), c.valid) << c.text.toStdString() << " cut at " << cut;
        }
        EXPECT_EQ(toValidUtf8(c.text, c.valid), c.valid ? c.text : toValidUtf8(c.text));
    }
}

TEST(TextFiles, ListLinesEndAtCrLfCrOrLfAndStopAtCtrlZ)
{
    EXPECT_EQ(splitListLines(u"a\r\nb\r\n"), (QStringList {"a", "b"}));
    EXPECT_EQ(splitListLines(u"a\nb\nc"), (QStringList {"a", "b", "c"}));
    EXPECT_EQ(splitListLines(u"a\rb\r\n\r\nc"), (QStringList {"a", "b", "", "c"}));
    EXPECT_EQ(splitListLines(u"a\r\nb\x1a\r\nignored\r\n"), (QStringList {"a", "b"}));
    EXPECT_TRUE(splitListLines(u"").isEmpty());
}

} // namespace
