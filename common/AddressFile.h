#pragma once
// The address file email_<product>.txt, the one file both jobs share: the
// first job writes it, the mailer reads it back as one record a customer.
// A line is the address, then " , " and the fields the first job's options
// chose (order number, date, name), in that order. The writer side below is
// the one place that knows that order; the reader side finds the address.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <bit>
#include <cstdint>
#include <optional>
#include <utility>

namespace og {

// A field a line may hold after its address, in the order the fields stand.
enum class AddressField : uint8_t { OrderNumber, Date, Name };

// Which fields follow the address in the lines of one written file. A line
// of a customer who has no report line (one added from a list) stops after
// the order number: see listedCustomer().
class AddressColumns {
public:
    AddressColumns() = default; // the address alone
    AddressColumns(bool orderNumber, bool date, bool name)
        : chosen_(uint8_t(bit(AddressField::OrderNumber) * orderNumber | bit(AddressField::Date) * date |
              bit(AddressField::Name) * name))
    {
    }

    bool has(AddressField field) const { return chosen_ & bit(field); }
    // How many fields a line holds after its address.
    qsizetype size() const { return std::popcount(chosen_); }
    // Where field stands among a line's fields (AddressRecord::fields), or -1.
    qsizetype indexOf(AddressField field) const
    {
        return has(field) ? std::popcount(uint8_t(chosen_ & (bit(field) - 1))) : -1;
    }
    // The columns of a customer added from a list: no date or name, so the
    // order number at most.
    AddressColumns listedCustomer() const { return AddressColumns(has(AddressField::OrderNumber), false, false); }

    // As the settings file keeps them: "order date name", or "address" alone.
    QString words() const;
    static std::optional<AddressColumns> fromWords(const QString& words);

private:
    static constexpr uint8_t bit(AddressField field) { return uint8_t(1u << unsigned(field)); }
    uint8_t chosen_ = 0;
};

// What one line is made of (UTF-8). The name is written as its two parts
// joined by one blank; a field the columns leave out is never looked at.
struct AddressValues {
    QByteArrayView address, orderNumber, date, firstName, lastName;
};

// Appends one line, without its line end, to out: anything with
// appendToLine(QByteArrayView), such as the first job's LineBlock, so a
// million lines are built without a temporary. No quoting: the address is
// first, and a reader takes the text before the first blank as the recipient.
// Straight-line code in the order of AddressField: the first job builds a
// line per order with it.
template <typename Line>
void appendAddressLine(Line& out, AddressColumns columns, const AddressValues& values)
{
    const QByteArrayView separator(" , ", 3);
    out.appendToLine(values.address);
    if (columns.has(AddressField::OrderNumber)) {
        out.appendToLine(separator);
        out.appendToLine(values.orderNumber);
    }
    if (columns.has(AddressField::Date)) {
        out.appendToLine(separator);
        out.appendToLine(values.date);
    }
    if (columns.has(AddressField::Name)) {
        out.appendToLine(separator);
        out.appendToLine(values.firstName);
        out.appendToLine(QByteArrayView(" ", 1));
        out.appendToLine(values.lastName);
    }
}

struct AddressRecord {
    QString address;    // what the mail goes to
    QStringList fields; // every field of the line after the address, trimmed
    int line = 0;       // 1-based line of the file, for messages that name it
};

// The fields of a comma-separated line as RFC 4180 reads them: a field that
// begins (after blanks) with a quote runs to its closing quote, and "" in it
// is one quote; an unquoted field is trimmed. Nothing, with *why, when a
// quote is not closed or text follows a closing quote.
std::optional<QStringList> splitCommaLine(const QString& line, QString* why);

// The address of one line, or an empty text when the line is not a
// customer (no "@"): the trimmed line up to its first blank.
QString customerAddress(const QString& line);

// The record of one line, or a record with an empty address when the line
// is not a customer.
AddressRecord addressRecord(const QString& line, int lineNumber);

// The customers of an address file's lines, in their order. A file that
// begins with a header row is comma-separated (a spreadsheet's): its lines
// are read by splitCommaLine, quoted fields without their quotes.
QList<AddressRecord> addressRecords(const QStringList& lines);

// The lines of a header-row file that splitCommaLine cannot read (a quote
// not closed), each by its 1-based number with the reason. addressRecords
// gives such a line's customer no fields: they are named, not guessed.
QList<std::pair<int, QString>> unreadableAddressLines(const QStringList& lines);

// The names of the columns (the address's first) when the first line is a
// header row: a line without "@", such as "email,name,order,licence". None
// for a file the first job wrote, whose lines all begin with an address.
QStringList addressHeader(const QStringList& lines);

// Which columns a file the first job wrote holds is not in the file itself:
// it is recorded in the settings file beside it ([addressColumns], by the
// file's name) each time the file is written. Throws ProfileWriteError.
void recordAddressColumns(const QString& settingsPath, const QString& addressFile, AddressColumns columns);
// What was recorded for that file, or nothing (a file from elsewhere).
std::optional<AddressColumns> recordedAddressColumns(const QString& settingsPath, const QString& addressFile);

} // namespace og
