#include "orders/CsvReader.h"

#include "orders/ByteWords.h"
#include "orders/ReportFields.h"

#include <algorithm>
#include <cstring>

namespace og {

namespace {

// Blanks around a field are not its text; a tab that separates fields is
// no blank, or an empty field would take the next one's value.
bool isBlank(char c, char separator)
{
    return (c == ' ' || c == '\t') && c != separator;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

bool equalIgnoringAsciiCase(QByteArrayView a, QLatin1StringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i].toLatin1()))
            return false;
    }
    return true;
}

// The first CR or LF at or after from, or text.size().
qsizetype lineEnd(QByteArrayView text, qsizetype from)
{
    const char* base = text.data();
    const auto lf = static_cast<const char*>(std::memchr(base + from, '\n', size_t(text.size() - from)));
    const qsizetype end = lf ? lf - base : text.size();
    const auto cr = static_cast<const char*>(std::memchr(base + from, '\r', size_t(end - from)));
    return cr ? cr - base : end;
}

// The first separator at or after from, or size. Fields are short: a word
// at a time beats a library search per field.
qsizetype separatorFrom(const char* data, qsizetype size, char separator, qsizetype from)
{
    qsizetype at = from;
    if constexpr (words::kUsable) {
        for (; at + 8 <= size; at += 8) {
            if (const uint64_t separators = words::equal(words::load(data + at), separator))
                return at + words::byteOf(separators);
        }
    }
    while (at < size && data[at] != separator)
        ++at;
    return at;
}

// One field of an RFC 4180 record: its text without the quotes, whether it
// holds doubled quotes, and where the next field starts (-1: none follows).
struct RfcField {
    qsizetype begin = 0, end = 0;
    bool doubled = false;
    qsizetype next = -1;
};

// The field that starts at from. A quote opens a quoted field only as its
// first character after blanks; text between the closing quote and the
// separator is dropped, and a quote that is never closed runs to the end.
RfcField rfcField(QByteArrayView record, char separator, qsizetype from)
{
    RfcField f;
    qsizetype i = from;
    while (i < record.size() && isBlank(record[i], separator))
        ++i;
    const bool quoted = i < record.size() && record[i] == '"';
    if (quoted) {
        f.begin = ++i;
        for (;;) {
            const qsizetype close = record.indexOf('"', i);
            if (close < 0) {
                f.end = record.size();
                return f;
            }
            if (close + 1 < record.size() && record[close + 1] == '"') {
                f.doubled = true;
                i = close + 2;
                continue;
            }
            f.end = close;
            i = close + 1;
            break;
        }
    } else {
        f.begin = from;
    }
    qsizetype cut = separatorFrom(record.data(), record.size(), separator, i);
    if (cut == record.size())
        cut = -1;
    if (!quoted)
        f.end = cut < 0 ? record.size() : cut;
    f.next = cut < 0 ? -1 : cut + 1;
    return f;
}

// A quoted field's text with each doubled quote read as one, trimmed.
QByteArrayView undoubledText(QByteArrayView text, QByteArray& spill)
{
    spill.clear();
    spill.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        spill.append(text[i]);
        if (text[i] == '"')
            ++i; // the second of a doubled pair
    }
    return trimmedView(QByteArrayView(spill));
}

QByteArrayView rfcFieldText(QByteArrayView record, const RfcField& f, QByteArray& spill)
{
    const QByteArrayView text = record.sliced(f.begin, f.end - f.begin);
    return f.doubled ? undoubledText(text, spill) : trimmedView(text);
}

// Where field n starts when the n fields before start (at from) hold no
// quote, found 8 bytes a step: a header-row report asks for fields deep into
// every row, several times a row. Otherwise (a quote, or the end near) the
// start of the first field not passed, and passed fields counted in *k.
qsizetype skipUnquoted(const char* data, qsizetype size, char separator, qsizetype from, int* k, int n)
{
    if (!words::kUsable)
        return from;
    qsizetype fieldStart = from;
    for (qsizetype at = from; at + 8 <= size; at += 8) {
        const uint64_t word = words::load(data + at);
        uint64_t separators = words::equal(word, separator);
        const uint64_t quotes = words::equal(word, '"');
        if (quotes)
            separators &= (quotes & -quotes) - 1; // only those before the first quote
        const int found = words::count(separators);
        if (*k + found < n) {
            *k += found;
            if (separators)
                fieldStart = at + words::lastByteOf(separators) + 1;
        } else {
            for (; *k + 1 < n; ++*k)
                separators &= separators - 1;
            *k = n;
            return at + words::byteOf(separators) + 1;
        }
        if (quotes)
            break;
    }
    return fieldStart;
}

} // namespace

QByteArrayView CsvReader::rfc4180Field(QByteArrayView record, int n, QByteArray& spill) const
{
    if (n < 0)
        return {};
    // The fields before n are skipped; runs of unquoted ones (most are) a
    // word at a time, any other one by one.
    const char* data = record.data();
    const qsizetype size = record.size();
    qsizetype from = 0;
    for (int k = 0; k < n;) {
        from = skipUnquoted(data, size, separator_, from, &k, n);
        if (k == n)
            break;
        qsizetype i = from;
        while (i < size && isBlank(data[i], separator_))
            ++i;
        if (i < size && data[i] == '"') {
            from = rfcField(record, separator_, from).next;
        } else {
            while (i < size && data[i] != separator_)
                ++i;
            from = i < size ? i + 1 : -1;
        }
        if (from < 0)
            return {};
        ++k;
    }
    return rfcFieldText(record, rfcField(record, separator_, from), spill);
}

qsizetype CsvReader::recordEnd(QByteArrayView text, qsizetype from, bool* closed, bool* overLines) const
{
    if (closed)
        *closed = true;
    if (overLines)
        *overLines = false;
    if (quoting_ != CsvQuoting::Rfc4180) {
        // line by line: a whole RegNet report goes through here
        bool open = false;
        for (qsizetype i = from;;) {
            const qsizetype end = lineEnd(text, i);
            if (quoting_ == CsvQuoting::QuotedFields)
                open ^= (std::count(text.begin() + i, text.begin() + end, '"') & 1) != 0;
            if (!open || end == text.size()) {
                if (closed)
                    *closed = !open;
                return end;
            }
            if (overLines)
                *overLines = true;
            i = end + 1;
        }
    }
    // From quote to quote: a quote opens a field only as its first
    // character after blanks, and inside quotes only a quote matters.
    const char* base = text.data();
    for (qsizetype i = from;;) {
        const qsizetype end = lineEnd(text, i);
        qsizetype open = -1;
        for (qsizetype q = i; q < end; ++q) {
            const auto hit = static_cast<const char*>(std::memchr(base + q, '"', size_t(end - q)));
            if (!hit)
                break;
            q = hit - base;
            qsizetype before = q;
            while (before > from && isBlank(text[before - 1], separator_))
                --before;
            if (before == from || text[before - 1] == separator_) {
                open = q;
                break;
            }
        }
        if (open < 0)
            return end;
        for (qsizetype j = open + 1;;) {
            const auto hit = static_cast<const char*>(std::memchr(base + j, '"', size_t(text.size() - j)));
            if (!hit) {
                if (closed)
                    *closed = false;
                return text.size();
            }
            j = hit - base + 1;
            if (j < text.size() && text[j] == '"') {
                ++j; // a doubled quote
                continue;
            }
            if (overLines && j > end)
                *overLines = true; // the quotes closed on a later line
            i = j;
            break;
        }
    }
}

void CsvFields::cut(const CsvReader& csv, QByteArrayView record, int last)
{
    csv_ = csv;
    record_ = record;
    count_ = 0;
    restored_ = false;
    last_ = csv.quoting() == CsvQuoting::Rfc4180 ? last : -1;
    if (last_ < 0)
        return;
    if (places_.size() <= size_t(last_))
        places_.resize(size_t(last_) + 1);
    // the fields CsvReader::field walks past, each found once
    for (qsizetype from = 0; from >= 0 && count_ <= last_;) {
        if constexpr (words::kUsable) {
            from = cutPlain(from);
            if (count_ > last_)
                break;
        }
        const RfcField f = rfcField(record, csv.separator(), from);
        places_[size_t(count_++)] = {f.begin, f.end, f.doubled};
        from = f.next;
    }
}

void CsvFields::keep(std::span<const int, KeptFields::kColumns> columns, KeptFields& kept) const
{
    kept.count = KeptFields::kNotKept;
    if (last_ < 0 || count_ >= KeptFields::kNotKept || record_.size() > 0xffff)
        return;
    kept.doubled = 0;
    for (size_t c = 0; c < columns.size(); ++c) {
        kept.begin[c] = kept.end[c] = 0;
        const int n = columns[c];
        if (n > last_)
            return; // not cut: nothing kept
        if (n < 0 || n >= count_)
            continue;
        const Place& p = places_[size_t(n)];
        kept.begin[c] = uint16_t(p.begin);
        kept.end[c] = uint16_t(p.end);
        kept.doubled |= uint8_t(p.doubled ? 1 << c : 0);
    }
    kept.count = uint8_t(count_);
}

void CsvFields::restore(const CsvReader& csv, QByteArrayView record, int last,
    std::span<const int, KeptFields::kColumns> columns, const KeptFields& kept)
{
    csv_ = csv;
    record_ = record;
    last_ = last;
    count_ = kept.count;
    // a reader restores row after row with the same columns: the places of
    // the other columns stay unknown from the row before
    if (!restored_ || !std::equal(columns.begin(), columns.end(), restoredColumns_.begin()) ||
        places_.size() != size_t(last) + 1) {
        places_.assign(size_t(last) + 1, Place {-1, -1, false});
        std::copy(columns.begin(), columns.end(), restoredColumns_.begin());
        restored_ = true;
    }
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c] >= 0 && columns[c] < count_)
            places_[size_t(columns[c])] = {kept.begin[c], kept.end[c], bool(kept.doubled >> c & 1)};
    }
}

qsizetype CsvFields::cutPlain(qsizetype from)
{
    const char separator = csv_.separator();
    const char* data = record_.data();
    const qsizetype size = record_.size();
    // neither quoted nor opened by a blank: the field ends at the next
    // separator, and the separators of a word end fields one after another
    auto plain = [&](qsizetype at) { return at < size && data[at] != '"' && !isBlank(data[at], separator); };
    if (!plain(from))
        return from;
    for (qsizetype at = from; at + 8 <= size; at += 8) {
        for (uint64_t separators = words::equal(words::load(data + at), separator); separators;
             separators &= separators - 1) {
            const qsizetype end = at + words::byteOf(separators);
            places_[size_t(count_++)] = {from, end, false};
            from = end + 1;
            if (count_ > last_ || !plain(from))
                return from;
        }
    }
    return from;
}

QByteArrayView CsvFields::undoubled(const Place& p, QByteArray& spill) const
{
    return undoubledText(record_.sliced(p.begin, p.end - p.begin), spill);
}

int CsvReader::fieldCount(QByteArrayView record) const
{
    qsizetype fields = 0;
    if (quoting_ == CsvQuoting::Rfc4180) {
        for (RfcField f = rfcField(record, separator_, 0);; f = rfcField(record, separator_, f.next)) {
            ++fields;
            if (f.next < 0)
                break;
        }
    } else {
        const char token[3] = {'"', separator_, '"'};
        fields = quoting_ == CsvQuoting::None ? record.count(separator_) : record.count(QByteArrayView(token, 3));
    }
    return int(std::min<qsizetype>(fields, 1 << 20));
}

int CsvReader::columnNamed(QByteArrayView header, QLatin1StringView name) const
{
    const int fields = fieldCount(header);
    QByteArray spill;
    for (int n = 0; n < fields; ++n) {
        if (equalIgnoringAsciiCase(field(header, n, spill), name))
            return n;
    }
    return -1;
}

} // namespace og
