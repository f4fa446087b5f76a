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
    }
}

} // namespace
