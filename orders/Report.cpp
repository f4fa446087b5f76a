#include "orders/Report.h"

#include "common/TextFiles.h"
#include "orders/BatchFile.h"
#include "orders/ByteWords.h"
#include "orders/FoldedIndex.h"
#include "orders/Prefault.h"
#include "orders/ReportFields.h"
#include "orders/SideWork.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace og {

namespace {

bool hasControlCharacter(QByteArrayView line)
{
    // every byte of every line of a report: a word at a time
    return words::anyByte(line.data(), size_t(line.size()), words::control,
        [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; });
}

bool holdsLineEnd(QByteArrayView field)
{
    return field.contains('\r') || field.contains('\n');
}

// A record over several lines may hold line ends in fields the run does not
// use; a field it writes must hold none.
bool hasControlCharacterInRecord(const CsvFields& row, const ReportLayout& layout, QByteArray& spill)
{
    const QByteArrayView record = row.record();
    // a word at a time, no early exit: every row of a header-row report
    // comes through here
    uint64_t control = 0, lineEnd = 0;
    qsizetype i = 0;
    if constexpr (words::kUsable) {
        // most rows hold no control character and no line end at all: a quick look
        // first, the kinds told apart only when there is one
        uint64_t any = 0;
        qsizetype k = 0;
        for (; k + 8 <= record.size(); k += 8) {
            const uint64_t word = words::load(record.data() + k);
            any |= words::control(word);
        }
        if (!any)
            i = k;
        for (; i + 8 <= record.size(); i += 8) {
            const uint64_t word = words::load(record.data() + i);
            const uint64_t ends = words::equal(word, '\r') | words::equal(word, '\n');
            control |= words::control(word) & ~ends;
            lineEnd |= ends;
        }
    }
    for (; i < record.size(); ++i) {
        const auto u = static_cast<unsigned char>(record[i]);
        const bool ends = u == '\r' || u == '\n';
        control |= (u < 0x20 && u != '\t' && !ends) || u == 0x7f;
        lineEnd |= ends;
    }
    const int seen = (control != 0) | ((lineEnd != 0) << 1);
    if (seen != 2)
        return seen & 1;
    if (holdsLineEnd(layout.orderAddress(row, spill)))
        return true;
    for (const ReportColumn* column :
        {&layout.order, &layout.product, &layout.firstName, &layout.lastName, &layout.date}) {
        if (holdsLineEnd(layout.field(row, *column, spill)))
            return true;
    }
    return false;
}

// The address (trimmed) of an order: one "@" with text on both sides, no
// blank.
bool isOneAddress(QByteArrayView address)
{
    const qsizetype at = address.indexOf('@');
    return at > 0 && at + 1 < address.size() && !address.sliced(at + 1).contains('@') && !address.contains(' ') &&
        !address.contains('\t');
}

// The address and the order number (the account's password), trimmed: one
// address, an order number, and values the one rule of account values takes
// (orders/BatchFile.h).
std::optional<SkipReason> whyNoAccount(QByteArrayView address, QByteArrayView order)
{
    if (!isOneAddress(address))
        return SkipReason::NoAddress;
    const AccountValueFault fault = accountValueFault(address, order);
    if (fault == AccountValueFault::UserRefused)
        return SkipReason::UserNameRefused;
    if (order.isEmpty())
        return SkipReason::NoOrderNumber;
    switch (fault) {
    case AccountValueFault::None:
    case AccountValueFault::UserRefused:
        return std::nullopt;
    case AccountValueFault::ControlCharacter:
    case AccountValueFault::OuterBlank: // (trimmed: only around a control character)
        return SkipReason::ControlCharacter;
    case AccountValueFault::PasswordRefused:
        return SkipReason::PasswordTooLong;
    }
    return std::nullopt;
}

// Why a line with an "@" is no order; nothing when it is one. A control
// character would break the batch file on the server (ksh stops at a zero
// byte, leaving every password behind); an empty order number would make an
// account without a password; a value htpasswd refuses would lose the
// account, and as the first of the file every account.
std::optional<SkipReason> whyNoOrder(QByteArrayView line, bool multiLine, const ReportLayout& layout, QByteArray& spill)
{
    if (multiLine ? hasControlCharacterInRecord(CsvFields(layout.csv, line), layout, spill) : hasControlCharacter(line))
        return SkipReason::ControlCharacter;
    const QByteArrayView text = bytes::trimmed(line);
    QByteArray spillAddress;
    return whyNoAccount(
        bytes::trimmed(layout.orderAddress(text, spillAddress)), layout.field(text, layout.order, spill));
}

// The same for a row under a header row, whose order's own fields may stand
// in its first row (fields, which hold address): every field the run writes
// must hold no control character and no line break.
struct RowOrder {
    const CsvFields &row, &fields;
    QByteArrayView address, order;
};
std::optional<SkipReason> whyNoRowOrder(const RowOrder& r, const ReportLayout& layout, QByteArray& spill)
{
    if (hasControlCharacterInRecord(r.row, layout, spill) ||
        (&r.fields != &r.row && hasControlCharacterInRecord(r.fields, layout, spill)))
        return SkipReason::ControlCharacter;
    return whyNoAccount(r.address, r.order);
}

// A first line that is a header row of some export: no "@", three or more
// columns that are words (a letter first, then letters, digits, blanks and
// the marks of column names), and no column that is not: a number, a date or
// a price marks a line of data, as an old report may start with.
bool looksLikeHeaderRow(QByteArrayView line)
{
    if (line.contains('@'))
        return false;
    int words = 0;
    for (const QString& column : headerColumns(line, headerSeparator(line))) {
        if (column.isEmpty())
            continue;
        if (column.size() > 64 || !column.front().isLetter())
            return false;
        for (const QChar c : column) {
            if (!c.isLetterOrNumber() && !QStringView(u" _-?#/.()'&").contains(c))
                return false;
        }
        ++words;
    }
    return words >= 3;
}

// Every row leaves the order number it holds as its order's: a row without
// an address holding the order number of the order before (orderBefore) is
// an item row of that order.
bool continuesOrder(QByteArrayView address, QByteArrayView order, QByteArrayView orderBefore)
{
    return address.isEmpty() && !order.isEmpty() && order == orderBefore;
}

QString headerColumnsNote(QByteArrayView header)
{
    QStringList columns = headerColumns(header, headerSeparator(header));
    for (QString& c : columns)
        c = u'"' + c.left(60) + u'"';
    return QStringLiteral("; its columns are ") + columns.mid(0, 40).join(QStringLiteral(", "));
}

} // namespace

QString skipReasonText(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NoAddress:
        return QStringLiteral("no address");
    case SkipReason::NoOrderNumber:
        return QStringLiteral("no order number");
    case SkipReason::ControlCharacter:
        return QStringLiteral("a control character");
    case SkipReason::UserNameRefused:
        return QStringLiteral("an address htpasswd takes as no user name");
    case SkipReason::PasswordTooLong:
        return QStringLiteral("an order number longer than htpasswd takes");
    case SkipReason::UnclosedQuote:
        return QStringLiteral("a quote that is never closed");
    }
    return {};
}

namespace {

// A U+FEFF inside the text (a tool that pasted a byte order mark before a
// value) is dropped, so it never becomes part of a password or an address.
void dropInnerByteOrderMarks(QByteArray& text)
{
    static constexpr char kMark[] = "\xEF\xBB\xBF";
    // memchr for the mark's first byte: a search for all three bytes took
    // longer than the rest of the intake on a report of a hundred megabytes
    const char* const begin = text.constData();
    const char* const end = begin + text.size();
    const char* found = begin;
    while ((found = static_cast<const char*>(std::memchr(found, kMark[0], size_t(end - found)))) &&
        (end - found < 3 || std::memcmp(found, kMark, 3) != 0))
        ++found;
    if (!found)
        return;
    qsizetype at = found - begin;
    qsizetype to = at;
    for (qsizetype from = at; from < text.size();) {
        if (text.size() - from >= 3 && std::memcmp(text.constData() + from, kMark, 3) == 0) {
            from += 3;
            continue;
        }
        text[to++] = text[from++];
    }
    text.truncate(to);
}

} // namespace

void Report::read(const QString& text)
{
    source_.reset();
    text_ = text.toUtf8();
    text_.remove(0, text_.size() - withoutByteOrderMarks(text_).size());
    dropInnerByteOrderMarks(text_);
    intake();
}

void Report::readBytes(QByteArray bytes, bool validUtf8)
{
    source_.reset();
    text_ = toValidUtf8(std::move(bytes), validUtf8);
    dropInnerByteOrderMarks(text_);
    intake();
}

void Report::readMapped(std::shared_ptr<const MappedFile> file)
{
    text_ = toValidUtf8(file->bytes(), false);
    dropInnerByteOrderMarks(text_);
    // kept even when text_ became a copy: a part lost before the copy
    // was made is lost in it too
    source_ = std::move(file);
    intake();
    // The intake has passed the whole text: its pages go until a run reads
    // them again, a part at a time.
    releaseLinesBefore(lineCount());
}

bool Report::textMapped() const
{
    return source_ && !text_.isEmpty() && text_.constData() == source_->bytes().constData();
}

void Report::releaseLinesBefore(qsizetype i) const
{
    if (!textMapped() || i <= 0)
        return;
    const qsizetype end = i < lineCount() ? lineStarts_[size_t(i)] : text_.size();
    source_->release(text_.constData(), text_.constData() + end);
}

bool Report::sourceLost() const
{
    return source_ && source_->lost();
}

QByteArrayView Report::lineBytes(qsizetype i) const
{
    const qsizetype start = lineStarts_[size_t(i)];
    if (size_t(i) + 1 == lineStarts_.size()) {
        // the last line may end with the text or with a line end
        qsizetype end = text_.size();
        if (end > start && text_[end - 1] == '\n')
            --end;
        if (end > start && text_[end - 1] == '\r')
            --end;
        return QByteArrayView(text_.constData() + start, end - start);
    }
    // the line end before the next line: CR LF, LF or CR
    qsizetype end = lineStarts_[size_t(i) + 1] - 1;
    if (text_[end] == '\n' && end > start && text_[end - 1] == '\r')
        --end;
    return QByteArrayView(text_.constData() + start, end - start);
}

qsizetype Report::textLineOf(qsizetype i) const
{
    const auto before = std::lower_bound(longRecords_.begin(), longRecords_.end(), std::pair(i, qsizetype(0)));
    return i + (before == longRecords_.begin() ? 0 : std::prev(before)->second);
}

qsizetype Report::orderLineCount(int product) const
{
    return product < 0 ? orderLines_ : linesOf_[size_t(product)];
}

qsizetype Report::orderBytes(int product) const
{
    return product < 0 ? orderBytes_ : bytesOf_[size_t(product)];
}

QString Report::line(qsizetype i) const
{
    return QString::fromUtf8(lineBytes(i));
}

QStringList Report::products() const
{
    if (distinct_.size() < 2)
        return distinct_;
    QStringList list;
    list.reserve(distinct_.size() + 1);
    list.append(QStringLiteral("All"));
    list.append(distinct_);
    return list;
}

int Report::findProduct(QStringView name) const
{
    for (qsizetype k = 0; k < distinct_.size(); ++k) {
        if (equalIgnoringCase(distinct_[k], name))
            return int(k);
    }
    return -1;
}

namespace {

// Where the later half of a text from start is cut on a second core: just
// after the first LF from the middle on; the text's end (no second half)
// when the text is too small for a thread to pay.
qsizetype seamOf(QByteArrayView text, qsizetype start)
{
    constexpr qsizetype kBytesForTwoCores = qsizetype(8) << 20;
    if (text.size() - start < kBytesForTwoCores)
        return text.size();
    const qsizetype lf = text.indexOf('\n', start + (text.size() - start) / 2);
    return lf >= 0 ? lf + 1 : text.size();
}

// LFs in text [from, to): one more is room for every line there, lone CRs
// aside.
size_t lineFeeds(const char* base, qsizetype from, qsizetype to)
{
    size_t count = 0;
    for (const char* p = base + from; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(base + to - p)))); ++p)
        ++count;
    return count;
}

// Cuts text [start, end) into lines, into starts, and returns where it
// stopped: at end, or after the line end that makes starts hold more than
// lines. Lines end at CR LF, and also at a lone LF (files saved on Linux) or
// a lone CR; an end at the very end of the text starts no further line. end
// is the text's end or just after an LF.
qsizetype cutLinesInto(const char* base, qsizetype start, qsizetype end, size_t lines, LineOffsets& starts)
{
    while (start < end && starts.size() <= lines) {
        const void* nl = std::memchr(base + start, '\n', size_t(end - start));
        const qsizetype lf = nl ? static_cast<const char*>(nl) - base : end;
        qsizetype from = start;
        // lone CRs inside [from, lf)
        for (;;) {
            const void* cr = std::memchr(base + from, '\r', size_t(lf - from));
            if (!cr)
                break;
            const qsizetype at = static_cast<const char*>(cr) - base;
            if (at + 1 == lf && nl)
                break; // CR LF
            starts.push_back(from);
            from = at + 1;
        }
        if (from < lf || nl)
            starts.push_back(from);
        start = lf + 1;
    }
    return start;
}

} // namespace

qsizetype Report::cutLines(qsizetype start, size_t lines)
{
    return cutLinesInto(text_.constData(), start, text_.size(), lines, lineStarts_);
}

void Report::cutAllLines(qsizetype start)
{
    // A big report is cut in two halves at once, the later one from just
    // after an LF near the middle: a line starts there either way.
    const char* base = text_.constData();
    const qsizetype size = text_.size();
    start = std::min(start, size); // past an unended last line
    const qsizetype seam = seamOf(text_, start);
    LineOffsets later;
    SideWork laterHalf(seam < size);
    laterHalf.start([&] {
        later.reserve(lineFeeds(base, seam, size) + 1);
        cutLinesInto(base, seam, size, size_t(-1), later);
    });
    lineStarts_.reserve(lineStarts_.size() + lineFeeds(base, start, seam) + 1);
    cutLinesInto(base, start, seam, size_t(-1), lineStarts_);
    laterHalf.join();
    if (later.empty())
        return;
    lineStarts_.reserve(lineStarts_.size() + later.size());
    for (size_t i = 0; i < later.size(); ++i)
        lineStarts_.push_back(later[i]);
}

namespace {

// Records cut from a text: where each starts, those whose quotes never
// close, and those over several lines with the lines past their first so
// far.
struct CutRecords {
    LineOffsets& starts;
    std::vector<qsizetype>& unclosed;
    std::vector<std::pair<qsizetype, qsizetype>>& longRecords;
    qsizetype extraLines = 0;
};

// Cuts text into records from start while they start before stop, into
// out (a record's number is its place in out.starts); where the next
// record starts.
qsizetype cutRecordsTo(QByteArrayView text, qsizetype start, qsizetype stop, const CsvReader& csv, CutRecords& out)
{
    static constexpr CsvReader kLines {',', CsvQuoting::None};
    while (start < stop) {
        const auto record = qsizetype(out.starts.size());
        out.starts.push_back(start);
        bool closed = true, overLines = false;
        qsizetype end = csv.recordEnd(text, start, &closed, &overLines);
        if (!closed) {
            // the rest of the report would be one record: the line alone is
            // skipped, the next is read again
            end = kLines.recordEnd(text, start);
            overLines = false;
            out.unclosed.push_back(record);
        }
        qsizetype inner = 0;
        if (overLines) {
            for (qsizetype k = start; k < end; ++k)
                inner += text[k] == '\n' || (text[k] == '\r' && (k + 1 == end || text[k + 1] != '\n'));
        }
        if (inner > 0) {
            out.extraLines += inner;
            out.longRecords.emplace_back(record, out.extraLines);
        }
        start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    return start;
}

} // namespace

void Report::cutRecords(qsizetype start, const CsvReader& csv)
{
    // A big report is cut in two halves at once, the later one from just
    // after an LF near the middle, a guess that a record starts there: it
    // does when the first half's last record ends there. Else (the LF was
    // inside quotes) the first half goes on alone.
    const QByteArrayView text(text_);
    const qsizetype size = text.size();
    const qsizetype seam = seamOf(text, start);
    LineOffsets laterStarts;
    std::vector<qsizetype> laterUnclosed;
    std::vector<std::pair<qsizetype, qsizetype>> laterLong;
    CutRecords later {laterStarts, laterUnclosed, laterLong};
    SideWork laterHalf(seam < size);
    laterHalf.start([&] {
        laterStarts.reserve(lineFeeds(text.data(), seam, size) + 1);
        cutRecordsTo(text, seam, size, csv, later);
    });
    CutRecords first {lineStarts_, unclosed_, longRecords_};
    start = cutRecordsTo(text, start, seam, csv, first);
    laterHalf.join();
    if (start != seam) {
        cutRecordsTo(text, start, size, csv, first);
        return;
    }
    const auto records = qsizetype(lineStarts_.size());
    for (size_t i = 0; i < laterStarts.size(); ++i)
        lineStarts_.push_back(laterStarts[i]);
    for (const qsizetype record : laterUnclosed)
        unclosed_.push_back(records + record);
    for (const auto& [record, extra] : laterLong)
        longRecords_.emplace_back(records + record, first.extraLines + extra);
}

// What finding the orders of some lines found: the products by spelling,
// and the counts that go with them.
struct Report::Products {
    QHash<QByteArray, int> bySpelling;
    std::unordered_map<std::string, int> byFolded;
    std::string folded;
    std::vector<std::pair<QByteArray, int>> recent;

    QStringList distinct;
    std::vector<qsizetype> linesOf, bytesOf;
    qsizetype orderLines = 0, orderBytes = 0;
    std::vector<SkippedLine> skipped;
    qsizetype skippedCount = 0;
};

int Report::productIndex(Products& p, QByteArrayView product, qsizetype bytes)
{
    // Reports name few spellings; they are found by a short scan before
    // anything is allocated.
    int index = -1;
    for (const auto& [spelling, k] : p.recent) {
        if (product == QByteArrayView(spelling)) {
            index = k;
            break;
        }
    }
    if (index < 0) {
        const QByteArray spelling = product.toByteArray();
        auto hit = p.bySpelling.constFind(spelling);
        if (hit != p.bySpelling.constEnd()) {
            index = hit.value();
        } else {
            foldCaseUtf8(product, p.folded);
            auto same = p.byFolded.find(p.folded);
            if (same != p.byFolded.end()) {
                index = same->second;
            } else {
                index = int(p.distinct.size());
                p.distinct.append(QString::fromUtf8(product));
                p.linesOf.push_back(0);
                p.bytesOf.push_back(0);
                p.byFolded.emplace(p.folded, index);
            }
            p.bySpelling.insert(spelling, index);
        }
        if (p.recent.size() < 16)
            p.recent.emplace_back(spelling, index);
    }
    ++p.orderLines;
    ++p.linesOf[size_t(index)];
    p.bytesOf[size_t(index)] += bytes;
    p.orderBytes += bytes;
    return index;
}

void Report::adopt(Products& found)
{
    distinct_ = std::move(found.distinct);
    linesOf_ = std::move(found.linesOf);
    bytesOf_ = std::move(found.bytesOf);
    orderLines_ = found.orderLines;
    orderBytes_ = found.orderBytes;
    skippedCount_ = found.skippedCount;
    skipped_ = std::move(found.skipped);
}

qsizetype Report::excludedCount() const
{
    qsizetype n = 0;
    for (const ExcludedRows& e : excluded_)
        n += e.count;
    return n;
}

QString Report::excludedReason(int rule, QByteArrayView value) const
{
    // "Refunded? = true" for a rule without a reason (a saved layout's), else
    // the reason and what said it: "refunded (Fully Refunded? = true)"
    const QString said = excludeAs_.value(rule) + QStringLiteral(" = ") +
        (excludeTotal_.value(rule).isEmpty() ? QString::fromUtf8(value).toLower() : excludeTotal_.value(rule));
    const QString why = excludeWhy_.value(rule);
    return why.isEmpty() ? said : why + QStringLiteral(" (") + said + u')';
}

void Report::noteExcludedReason(const QString& reason, qsizetype line)
{
    int k = 0;
    for (; k < int(excluded_.size()); ++k) {
        if (excluded_[size_t(k)].reason == reason)
            break;
    }
    if (k == int(excluded_.size()))
        excluded_.push_back({reason, 0});
    ++excluded_[size_t(k)].count;
    if (qsizetype(excludedLines_.size()) < kExcludedKept)
        excludedLines_.push_back({line, k});
}

QString Report::orderNumberOf(qsizetype line) const
{
    QByteArray spill;
    const ReportLayout& layout = layoutOf(line);
    return QString::fromUtf8(layout.field(bytes::trimmed(lineBytes(line)), layout.order, spill));
}

QString Report::addressOf(qsizetype line) const
{
    QByteArray spill;
    const ReportLayout& layout = layoutOf(line);
    const QByteArrayView fields = bytes::trimmed(lineBytes(orderFieldsLine(line)));
    return QString::fromUtf8(bytes::trimmed(layout.orderAddress(fields, spill)));
}

QStringList Report::doNotContactAddresses() const
{
    QStringList out;
    QSet<QString> seen;
    for (const qsizetype line : doNotContact_) {
        const QString address = addressOf(line);
        if (!seen.contains(address.toCaseFolded())) {
            seen.insert(address.toCaseFolded());
            out.append(address);
        }
    }
    return out;
}

bool Report::readHeaderRow(bool genericToo)
{
    if (lineStarts_.empty())
        return false;
    const QByteArrayView header = lineBytes(0);
    auto take = [&](MatchedLayout m) {
        layout_ = m.layout;
        storeName_ = m.name;
        layoutStorage_ = std::move(m.storage);
        excludeAs_ = m.excludeAs;
        excludeWhy_ = m.excludeWhy;
        excludeTotal_ = m.excludeTotal;
        if (m.layout.doNotContact.column.position >= 0)
            doNotContactAs_ = m.columns.value(m.layout.doNotContact.column.position);
        headerLine_ = 0;
        return true;
    };
    if (reading_.forced) {
        QStringList missing;
        if (auto m = matchHeader(*reading_.forced, header, &missing))
            return take(std::move(*m));
        headerProblem_ = QStringLiteral("the layout %1 does not fit the report's header row: it has no column for %2")
                             .arg(reading_.forced->name, missing.join(QStringLiteral(", "))) +
            headerColumnsNote(header);
        return false;
    }
    if (bytes::trimmed(header).isEmpty() || header.contains('@'))
        return false;
    for (const HeaderRowLayout& saved : reading_.saved) {
        if (auto m = matchHeader(saved, header))
            return take(std::move(*m));
    }
    for (const HeaderRowLayout& store : storeLayouts()) {
        if (!store.everyFieldNeeded && !genericToo)
            continue;
        if (auto m = matchHeader(store, header))
            return take(std::move(*m));
    }
    return false;
}

void Report::intake()
{
    lineStarts_.clear();
    linesOf_.clear();
    bytesOf_.clear();
    orderBytes_ = 0;
    productOf_.clear();
    distinct_.clear();
    layout_ = defaultReportLayout();
    storeName_ = layout_.name;
    layoutStorage_.reset();
    excludeAs_.clear();
    excludeWhy_.clear();
    excludeTotal_.clear();
    doNotContactAs_.clear();
    excludedLines_.clear();
    doNotContact_.clear();
    headerProblem_.clear();
    excluded_.clear();
    firstRowOf_.clear();
    kept_.clear();
    headerLine_ = -1;
    orderLines_ = 0;
    skippedCount_ = 0;
    skipped_.clear();
    longRecords_.clear();
    unclosed_.clear();

    const char* base = text_.constData();
    const qsizetype size = text_.size();
    // The header, which says how the rest is cut, stands among the first
    // lines.
    size_t headerZone = 0;
    for (const ReportLayout& layout : reportLayouts())
        headerZone = std::max(headerZone, size_t(layout.headerLastLine + 1));
    qsizetype start = cutLines(0, headerZone);
    for (size_t i = 0; i < std::min(headerZone, lineStarts_.size()); ++i) {
        const QByteArrayView line = lineBytes(qsizetype(i));
        if (const ReportLayout* announced =
                bytes::trimmed(line).isEmpty() ? nullptr : headerLayout(line, qsizetype(i))) {
            layout_ = *announced;
            headerLine_ = qsizetype(i);
        }
    }
    // A header row that a layout knows by its names comes first; the
    // generic names only where the old rules see no header.
    if (readHeaderRow(headerLine_ < 0)) {
        // the layout's own header row
    } else if (reading_.forced) {
        lineStarts_.clear(); // not read in any other layout
        return;
    }
    storeName_ = layout_.headerRow ? storeName_ : QString(layout_.name);
    if (layout_.csv.quoting() == CsvQuoting::None) {
        cutAllLines(start);
    } else {
        // one record per LF at most, plus lone CRs (rare) and an unended last line
        lineStarts_.reserve(lineFeeds(base, 0, size) + 1);
        if (lineStarts_.size() > size_t(headerLine_ + 1)) {
            start = lineStarts_[size_t(headerLine_ + 1)];
            lineStarts_.resize(size_t(headerLine_ + 1));
        }
        cutRecords(start, layout_.csv);
    }

    productOf_.reserve(lineStarts_.size());
    prefaultForWrite(productOf_.data(), lineStarts_.size() * sizeof(int32_t));
    productOf_.assign(lineStarts_.size(), -1);
    // A header row no layout knows is an export to map, never an old report
    // with its fields in other places (a product name read as the password).
    // The old layouts' openings decided first, so old reports read as ever.
    if (!layout_.headerRow && headerLine_ < 0 && !lineStarts_.empty() && looksLikeHeaderRow(lineBytes(0))) {
        headerProblem_ = QStringLiteral("no layout knows the report's header row") + headerColumnsNote(lineBytes(0)) +
            QStringLiteral("; map its columns (Map columns… in the window, a [layout NAME] of ordergate.ini and "
                           "--layout NAME on the command line)");
        return;
    }
    if (layout_.headerRow)
        findRowOrders();
    else
        findOrders(headerZone);
    if (orderLines_ == 0 && !layout_.headerRow && headerLine_ < 0 && !lineStarts_.empty()) {
        const QByteArrayView header = lineBytes(0);
        if (!header.contains('@') && headerColumns(header, headerSeparator(header)).size() > 1)
            headerProblem_ = QStringLiteral("no layout knows the report's header row") + headerColumnsNote(header);
    }
}

void Report::findOrders(size_t headerZone)
{
    // A big report is read in two halves at once, each with its own
    // products, merged in the order a single pass would have met them.
    const size_t lines = lineStarts_.size();
    const size_t middle = lines < size_t(kLinesForTwoCores) ? lines : lines / 2;
    Products found, later;
    SideWork laterHalf(middle < lines);
    laterHalf.start([&] { findOrdersIn(middle, lines, headerZone, later); });
    findOrdersIn(0, middle, headerZone, found);
    laterHalf.join();
    mergeLater(found, later, middle, lines);
    adopt(found);
}

void Report::findOrdersIn(size_t from, size_t to, size_t headerZone, Products& found)
{
    QByteArray spill;
    auto unclosed = std::lower_bound(unclosed_.cbegin(), unclosed_.cend(), qsizetype(from));
    auto longRecord =
        std::lower_bound(longRecords_.cbegin(), longRecords_.cend(), std::pair(qsizetype(from), qsizetype(0)));
    for (size_t i = from; i < to; ++i) {
        const QByteArrayView line = lineBytes(qsizetype(i));
        const bool isUnclosed = unclosed != unclosed_.end() && *unclosed == qsizetype(i);
        unclosed += isUnclosed;
        const bool multiLine = longRecord != longRecords_.end() && longRecord->first == qsizetype(i);
        longRecord += multiLine;
        if (bytes::trimmed(line).isEmpty())
            continue;
        if (i < headerZone && headerLayout(line, qsizetype(i)))
            continue;
        if (!line.contains('@'))
            continue;
        std::optional<SkipReason> reason = whyNoOrder(line, multiLine, layoutOf(qsizetype(i)), spill);
        if (isUnclosed)
            reason = SkipReason::UnclosedQuote;
        if (reason) {
            if (qsizetype(found.skipped.size()) < kSkippedKept)
                found.skipped.push_back({qsizetype(i), *reason});
            ++found.skippedCount;
            continue;
        }
        const QByteArrayView product = layoutOf(qsizetype(i)).productName(line, spill);
        productOf_[i] = productIndex(found, product, line.size());
    }
}

void Report::mergeLater(Products& found, Products& later, size_t from, size_t to)
{
    // later's products by their folded spelling, in the order later met them
    std::vector<const std::string*> foldedOf(size_t(later.distinct.size()));
    for (const auto& [folded, k] : later.byFolded)
        foldedOf[size_t(k)] = &folded;
    std::vector<int32_t> index(foldedOf.size());
    for (size_t k = 0; k < foldedOf.size(); ++k) {
        auto same = found.byFolded.find(*foldedOf[k]);
        if (same == found.byFolded.end()) {
            same = found.byFolded.emplace(*foldedOf[k], int(found.distinct.size())).first;
            found.distinct.append(later.distinct[qsizetype(k)]);
            found.linesOf.push_back(0);
            found.bytesOf.push_back(0);
        }
        index[k] = int32_t(same->second);
        found.linesOf[size_t(same->second)] += later.linesOf[k];
        found.bytesOf[size_t(same->second)] += later.bytesOf[k];
    }
    for (size_t i = from; i < to; ++i) {
        if (productOf_[i] >= 0)
            productOf_[i] = index[size_t(productOf_[i])];
    }
    found.orderLines += later.orderLines;
    found.orderBytes += later.orderBytes;
    for (const SkippedLine& skipped : later.skipped) {
        if (qsizetype(found.skipped.size()) < kSkippedKept)
            found.skipped.push_back(skipped);
    }
    found.skippedCount += later.skippedCount;
}

struct Report::RowFindings {
    Products products;
    std::vector<std::pair<QString, qsizetype>> excluded; // reason, first row
    std::vector<qsizetype> doNotContact;
};

void Report::findRowOrders()
{
    // A big export is read in two halves at once, the later one from an
    // order's first row near the middle; what each found is taken in the
    // order a single pass would have met it.
    const size_t rows = lineStarts_.size();
    if (layout_.rowsPerItem) {
        firstRowOf_.resize(rows);
    }
    if (layout_.csv.quoting() == CsvQuoting::Rfc4180) {
        kept_.resize(rows);
    }
    size_t middle = rows;
    if (rows >= size_t(kLinesForTwoCores)) {
        middle = rows / 2;
        while (middle < rows && isItemRow(middle))
            ++middle;
    }
    RowFindings found, later;
    SideWork laterHalf(middle < rows);
    laterHalf.start([&] { findRowOrdersIn(middle, rows, later); });
    findRowOrdersIn(1, middle, found);
    laterHalf.join();
    mergeLater(found.products, later.products, middle, rows);
    for (const RowFindings* half : {&found, &later}) {
        for (const auto& [reason, row] : half->excluded)
            noteExcludedReason(reason, row);
        doNotContact_.insert(doNotContact_.end(), half->doNotContact.begin(), half->doNotContact.end());
    }
    adopt(found.products);
}

bool Report::isItemRow(size_t i) const
{
    if (i < 2)
        return false;
    QByteArray spill;
    CsvFields cut, before;
    layout_.cut(cut, lineBytes(qsizetype(i)));
    layout_.cut(before, lineBytes(qsizetype(i - 1)));
    const QByteArrayView order = layout_.field(cut, layout_.order, spill);
    QByteArray spillAddress, spillBefore;
    return continuesOrder(
        layout_.orderAddress(cut, spillAddress), order, layout_.field(before, layout_.order, spillBefore));
}

void Report::findRowOrdersIn(size_t from, size_t to, RowFindings& out)
{
    Products& products = out.products;
    QByteArray spill, spillOrder, spillAddress;
    const ReportLayout& layout = layout_;
    const OrderAdjustments* adjustments =
        reading_.adjustments && !reading_.adjustments->takenBack.isEmpty() ? &*reading_.adjustments : nullptr;
    const auto excluded = [&](const QString& reason, qsizetype row) { out.excluded.emplace_back(reason, row); };
    qsizetype orderRow = -1;
    std::string orderOfRow; // its capacity is kept: no allocation a row
    // each row cut once; the order's first row stays cut for its item rows
    CsvFields cuts[2];
    int next = 0, orderCut = 0;
    const auto columns = layout.orderColumns();
    auto unclosed = std::lower_bound(unclosed_.cbegin(), unclosed_.cend(), qsizetype(from));
    for (size_t i = from; i < to; ++i) {
        const QByteArrayView row = lineBytes(qsizetype(i));
        while (unclosed != unclosed_.end() && *unclosed < qsizetype(i))
            ++unclosed;
        const bool isUnclosed = unclosed != unclosed_.end() && *unclosed == qsizetype(i);
        qsizetype own = qsizetype(i);
        CsvFields& rowCut = cuts[next];
        layout.cut(rowCut, row);
        if (!kept_.empty() && bytes::trimmed(row).size() == row.size())
            rowCut.keep(columns, kept_[i]);
        // each field once a row: the row's order number and address serve
        // the item-row test and the checks alike
        const QByteArrayView order = layout.field(rowCut, layout.order, spillOrder);
        QByteArrayView address = layout.orderAddress(rowCut, spillAddress);
        if (layout.rowsPerItem) {
            if (orderRow >= 0 &&
                continuesOrder(address, order, QByteArrayView(orderOfRow.data(), qsizetype(orderOfRow.size())))) {
                own = orderRow;
            } else {
                orderRow = qsizetype(i);
                orderOfRow.assign(order.data(), size_t(order.size()));
                orderCut = next;
                next ^= 1;
            }
            firstRowOf_[i] = own;
        }
        const CsvFields& fieldsCut = own == qsizetype(i) ? rowCut : cuts[orderCut];
        if (!fieldsCut.record().contains('@') && !isUnclosed)
            continue;
        if (own != qsizetype(i))
            address = layout.orderAddress(fieldsCut, spillAddress);
        std::optional<SkipReason> reason =
            isUnclosed ? SkipReason::UnclosedQuote : whyNoRowOrder({rowCut, fieldsCut, address, order}, layout, spill);
        if (reason) {
            if (qsizetype(products.skipped.size()) < kSkippedKept)
                products.skipped.push_back({qsizetype(i), *reason});
            ++products.skippedCount;
            continue;
        }
        if (const int rule = layout.exclusionOf(fieldsCut, spill); rule >= 0) {
            // an order of several item rows is one excluded order
            if (own == qsizetype(i))
                excluded(
                    excludedReason(rule, layout.field(fieldsCut, layout.exclusions[rule].column, spill)), qsizetype(i));
            continue;
        }
        if (adjustments) {
            const auto taken = adjustments->takenBack.constFind(order.toByteArray());
            if (taken != adjustments->takenBack.cend()) {
                if (own == qsizetype(i))
                    excluded(*taken, qsizetype(i));
                continue;
            }
        }
        if (own == qsizetype(i) && layout.asksNoContact(fieldsCut, spill))
            out.doNotContact.push_back(qsizetype(i));
        productOf_[i] = productIndex(products, layout.productName(rowCut, spill), row.size());
    }
}

} // namespace og
