// The address file: what the first job writes, the mailer reads back.

#include "common/AddressFile.h"

#include <gtest/gtest.h>

using namespace og;

namespace {

struct Line {
    QByteArray text;
    void appendToLine(QByteArrayView piece) { text += piece; }
};

// Every choice of fields: the reader finds each written field where the
// columns say it stands, and a listed customer's line stops after the order
// number.
TEST(AddressFile, ReaderFindsEachFieldWhereTheColumnsPutIt)
{
    const AddressValues values {"ann@x.com", "1001", "Jan-01-2002", "Ann", "Lee"};
    const QString expected[] = {"1001", "Jan-01-2002", "Ann Lee"};
    for (int chosen = 0; chosen < 8; ++chosen) {
        const AddressColumns columns(chosen & 1, chosen & 2, chosen & 4);
        Line line;
        appendAddressLine(line, columns, values);
        const AddressRecord record = addressRecord(QString::fromUtf8(line.text), 1);
        EXPECT_EQ(record.address, "ann@x.com") << line.text.data();
        ASSERT_EQ(record.fields.size(), columns.size()) << line.text.data();
        for (const AddressField field : {AddressField::OrderNumber, AddressField::Date, AddressField::Name}) {
            const qsizetype at = columns.indexOf(field);
            EXPECT_EQ(at >= 0, bool(chosen & (1 << int(field)))) << line.text.data();
            if (at >= 0) {
                EXPECT_EQ(record.fields[at], expected[int(field)]) << line.text.data();
            }
        }
        Line listed;
        appendAddressLine(listed, columns.listedCustomer(), values);
        EXPECT_EQ(listed.text, chosen & 1 ? "ann@x.com , 1001" : "ann@x.com");
        // What the mailer is told about the file names the same columns.
        const std::optional<AddressColumns> read = AddressColumns::fromWords(columns.words());
        ASSERT_TRUE(read);
        EXPECT_EQ(read->words(), columns.words());
        for (const AddressField field : {AddressField::OrderNumber, AddressField::Date, AddressField::Name})
            EXPECT_EQ(read->indexOf(field), columns.indexOf(field));
    }
    EXPECT_FALSE(AddressColumns::fromWords("order licence"));
}

// A file that begins with a header row names its columns; its addresses end
// at the first comma. The first job's files have no header.
TEST(AddressFile, AHeaderRowNamesTheColumns)
{
    const QStringList withHeader {"email, name ,order", "ann@x.com,Ann,1001", "bob@y.org , , 1002"};
    EXPECT_EQ(addressHeader(withHeader), (QStringList {"email", "name", "order"}));
    const QList<AddressRecord> records = addressRecords(withHeader);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].address, "ann@x.com");
    EXPECT_EQ(records[0].fields, (QStringList {"Ann", "1001"}));
    EXPECT_EQ(records[1].address, "bob@y.org");
    EXPECT_EQ(records[1].line, 3);
    EXPECT_EQ(addressHeader({"ann@x.com , 1001", "no customer"}), QStringList());
    EXPECT_EQ(addressRecords({"ann@x.com,1001"}).first().address, "ann@x.com,1001") << "no header: as before";
}

// A spreadsheet quotes a field with a comma or a quote (RFC 4180): the value
// is read without its quotes; a line whose quotes do not close is named.
TEST(AddressFile, ASpreadsheetsQuotedFieldsAreReadWithoutTheirQuotes)
{
    const struct {
        const char* line;
        QStringList fields; // the fields after the address
        const char* problem;
    } cases[] = {
        {"julia@example.com,\"Smith, Julia\",260301", {"Smith, Julia", "260301"}, ""},
        {"\"julia@example.com\" , \"say \"\"hi\"\"\" ,", {"say \"hi\"", ""}, ""},
        {"julia@example.com,O\"Brien,\" x \"", {"O\"Brien", " x "}, ""},
        {"julia@example.com,\"Smith, Julia,260301", {}, "a quoted field has no closing quote"},
        {"julia@example.com,\"Smith\" Julia,260301", {}, "text follows a quoted field's closing quote"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const QStringList lines {"email,\"name, full\",order", QString::fromUtf8(c.line)};
        const QList<AddressRecord> records = addressRecords(lines);
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].address, "julia@example.com");
        EXPECT_EQ(records[0].fields, c.fields);
        const auto unreadable = unreadableAddressLines(lines);
        EXPECT_EQ(unreadable.isEmpty() ? QString() : unreadable.first().second, QString::fromUtf8(c.problem));
    }
    EXPECT_EQ(addressHeader({"email,\"name, full\""}), (QStringList {"email", "name, full"}));
}

} // namespace
