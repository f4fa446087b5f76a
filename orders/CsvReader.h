#pragma once
// The one reader of comma-separated report text. A store's report layout
// names its separator and quoting rule; every field of a report is read
// here. Fields come out trimmed, as every field of a report does.

#include "orders/ReportFields.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace og {

enum class CsvQuoting : uint8_t {
    // No quoting: every separator cuts, and the last field of a line (with
    // no separator behind it) comes out empty.
    None,
    // Every field in quotes, cut only at quote-separator-quote; nothing is
    // unquoted, so field 0 keeps its opening quote and the last field comes
    // out empty, as the older stores' reports were always read.
    QuotedFields,
    // RFC 4180: a field in quotes may hold separators, line breaks and
    // doubled quotes (read as one); the last field is a field like any other.
    Rfc4180,
};

class CsvReader {
public:
    constexpr CsvReader(char separator, CsvQuoting quoting)
        : separator_(separator),
          quoting_(quoting)
    {
    }

    char separator() const { return separator_; }
    CsvQuoting quoting() const { return quoting_; }

    // Field n (from 0) of a record, trimmed, or empty when the record has
    // no field n: a view into record or, when the field had to be changed
    // (doubled quotes, or a line long enough for the field rules' limit on
    // the text searched), into spill.
    QByteArrayView field(QByteArrayView record, int n, QByteArray& spill) const
    {
        // inline: the first job reads three fields of every order line
        switch (quoting_) {
        case CsvQuoting::None:
            return bytes::separatedField(record, separator_, n, spill);
        case CsvQuoting::QuotedFields:
            return bytes::quotedSeparatedField(record, separator_, n, spill);
        case CsvQuoting::Rfc4180:
            break;
        }
        return rfc4180Field(record, n, spill);
    }

    // Where the record that starts at from ends: the index of the line end
    // (CR or LF) that closes it, or text.size(). With quotes a record runs
    // over line ends inside them: in RFC 4180 from a quote that opens a
    // field, in quoted fields while the line holds an odd number of quotes
    // (every field is quoted, a doubled quote is two). closed, when given,
    // tells whether the quotes were closed at the end; overLines, whether
    // the record holds line ends.
    qsizetype recordEnd(QByteArrayView text, qsizetype from, bool* closed = nullptr, bool* overLines = nullptr) const;

    // How many fields of a record can be read: without RFC 4180 the last
    // field of a line reads empty, so only those before its last separator.
    int fieldCount(QByteArrayView record) const;

    // The number of the field of a header record equal to name ignoring
    // ASCII letter case, or -1.
    int columnNamed(QByteArrayView header, QLatin1StringView name) const;

private:
    QByteArrayView rfc4180Field(QByteArrayView record, int n, QByteArray& spill) const;

    char separator_;
    CsvQuoting quoting_;
};

// The places of a few fields of a record, kept from its cut for a later
// reader of the same record, who then cuts nothing (CsvFields::keep and
// restore): a header-row report's rows are cut by its intake, and the
// order pass reads a few fields of each again. Offsets are from the
// record's start; a record too long for them is not kept.
struct KeptFields {
    static constexpr int kColumns = 6;
    static constexpr uint8_t kNotKept = 0xff;
    std::array<uint16_t, kColumns> begin {}, end {};
    uint8_t count = kNotKept; // the fields the cut found (up to its last + 1)
    uint8_t doubled = 0;      // a bit per kept column whose field holds doubled quotes
    bool isKept() const { return count != kNotKept; }
};

// One record with the places of its fields found in a single pass, for
// reading several of them: a header-row report asks for fields far into
// every row, and walking to each from the row's start costs more than the
// rest of the intake. Reads give what CsvReader::field gives. Reuse one for
// many records: its table keeps its capacity, so no record allocates.
class CsvFields {
public:
    CsvFields() = default;
    // record read one field at a time, nothing found beforehand
    CsvFields(const CsvReader& csv, QByteArrayView record)
        : csv_(csv),
          record_(record)
    {
    }

    // Takes record and, in RFC 4180, finds fields 0 to last; a field past
    // last is still read, by a walk. The other quotings find fields cheaply
    // enough field by field.
    void cut(const CsvReader& csv, QByteArrayView record, int last);

    QByteArrayView record() const { return record_; }

    // The places of the cut's fields at columns (-1: none) into kept;
    // nothing is kept unless the record was cut (RFC 4180) and is short
    // enough.
    void keep(std::span<const int, KeptFields::kColumns> columns, KeptFields& kept) const;
    // Takes record as if cut to last, with the fields at columns where
    // kept has them: a field at another column is read by a walk. record
    // and columns are those given to the cut and keep().
    void restore(const CsvReader& csv, QByteArrayView record, int last,
        std::span<const int, KeptFields::kColumns> columns, const KeptFields& kept);

    QByteArrayView field(int n, QByteArray& spill) const
    {
        if (n < 0 || n > last_)
            return csv_.field(record_, n, spill);
        if (n >= count_)
            return {}; // the record ends before it
        const Place& p = places_[size_t(n)];
        if (p.begin < 0)
            return csv_.field(record_, n, spill); // restored without it
        if (p.doubled)
            return undoubled(p, spill);
        return trimmedView(record_.sliced(p.begin, p.end - p.begin));
    }

private:
    // a field's text without its quotes, and whether it holds doubled ones;
    // begin -1: not known (restored from kept places without it)
    struct Place {
        qsizetype begin, end;
        bool doubled;
    };
    QByteArrayView undoubled(const Place& p, QByteArray& spill) const;
    // Cuts the fields from the one at from that are neither quoted nor
    // opened by a blank, a word at a time; where the first field not cut
    // starts.
    qsizetype cutPlain(qsizetype from);

    CsvReader csv_ {',', CsvQuoting::None};
    QByteArrayView record_;
    int last_ = -1; // fields up to this one are found
    int count_ = 0; // and this many of them are in places_
    std::vector<Place> places_;
    // places_ holds a restore()'s, with the other columns' unknown
    bool restored_ = false;
    std::array<int, KeptFields::kColumns> restoredColumns_ {};
};

} // namespace og
