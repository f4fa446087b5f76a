#pragma once
// The sales report: its lines, which store made it, which lines are orders
// and the list of products they name.

#include "orders/AdjustmentsReport.h"
#include "orders/LineOffsets.h"
#include "orders/MappedFile.h"
#include "orders/Prefault.h"
#include "orders/ReportLayout.h"
#include "orders/StoreLayouts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace og {

// Why a line that names a customer (it holds an "@") is still no order.
enum class SkipReason {
    NoAddress,        // not one "@" with text on both sides and no blank
    NoOrderNumber,    // the order number (the password) is empty
    ControlCharacter, // a control character (below 32 but tab, or 127)
    UserNameRefused,  // an address htpasswd takes as no user name
    PasswordTooLong,  // an order number longer than htpasswd takes
    UnclosedQuote,    // a quoted record whose quotes never close
};
QString skipReasonText(SkipReason reason);

struct SkippedLine {
    qsizetype line;
    SkipReason reason;
};

// What the intake tries on a header row before the built-in stores: the
// vendor's saved layouts, or the one layout a run was told to read with.
struct ReportReading {
    std::vector<HeaderRowLayout> saved {};
    std::optional<HeaderRowLayout> forced {};
    // Orders a second report takes back (refunds and chargebacks of Paddle's
    // adjustments report): excluded like the layout's own exclusions.
    std::optional<OrderAdjustments> adjustments {};
};

// Orders a header-row layout excludes (refunds, test orders), by the value
// that excluded them.
struct ExcludedRows {
    QString reason; // "Refunded? = true", "refunded (Fully Refunded? = true)"
    qsizetype count;
};

// One excluded order: the line of its (first) row and its reason, an index
// into excludedRows().
struct ExcludedLine {
    qsizetype line;
    int reason;
};

class Report {
public:
    // Takes effect at the next read.
    void setReading(ReportReading reading) { reading_ = std::move(reading); }

    // The whole intake: splits the text into lines (CR LF, and also a lone LF
    // or a lone CR), decides the store, finds the order lines and builds the
    // product list. Replaces what an earlier read found. In a quoted layout
    // a line whose quotes are still open goes on on the next line: the
    // "lines" are then records, and a record whose quotes never close is
    // its first line alone. Byte order marks at the start are dropped.
    void read(const QString& text);
    // The same from the bytes of a file: UTF-8, with invalid bytes read as
    // Windows-1252. validUtf8: they were checked as they were read.
    void readBytes(QByteArray bytes, bool validUtf8 = false);
    // The same from a mapped file, kept for as long as this report (or a
    // copy of it) is.
    void readMapped(std::shared_ptr<const MappedFile> file);
    // Lets the text before line i go from memory where it is a mapped
    // file's (read again from the file when asked for); else nothing.
    void releaseLinesBefore(qsizetype i) const;
    // Whether the text is a mapped file's, which releaseLinesBefore lets go.
    bool textMapped() const;
    // Whether the mapped file read lost part of itself while it was read:
    // the lines read then are not the file's, and nothing is to be made of
    // them.
    bool sourceLost() const;

    // From this many lines on a report is read, and its run made, on two
    // cores: below, a thread costs more than it saves.
    static constexpr qsizetype kLinesForTwoCores = 100000;

    qsizetype lineCount() const { return qsizetype(lineStarts_.size()); }
    // The whole text the lines lie in.
    QByteArrayView text() const { return text_; }
    QString line(qsizetype i) const;
    // The line's UTF-8 bytes without its line end (a record's inner line
    // ends stay).
    QByteArrayView lineBytes(qsizetype i) const;
    // The number (from 0) of the text line record i starts on.
    qsizetype textLineOf(qsizetype i) const;

    // The store's layout the report was read in.
    const ReportLayout& layout() const { return layout_; }
    // Its name for the statistics ("Used report from ...").
    const QString& storeName() const { return storeName_; }
    // The layout one line was read in: an order line above a late header
    // (the second line) was read, and is cut, as the default layout.
    const ReportLayout& layoutOf(qsizetype i) const { return i < headerLine_ ? defaultReportLayout() : layout_; }
    // The line that holds the address, names, date and exclusion of line
    // i's order: i, or the first row of its order when a layout has one row
    // per item.
    qsizetype orderFieldsLine(qsizetype i) const { return firstRowOf_.empty() ? i : firstRowOf_[size_t(i)]; }
    // Whether the intake's cut kept the places of line i's order fields:
    // cutOrderLine() then cuts nothing.
    bool hasKeptFields(qsizetype i) const { return !kept_.empty() && kept_[size_t(i)].isKept(); }
    // Line i (its lineBytes(), trimmed, as record) cut for reading its
    // order's fields with layoutOf(i): the places the intake's cut kept,
    // where it kept them, else a cut of its own.
    void cutOrderLine(qsizetype i, QByteArrayView record, CsvFields& out) const
    {
        const ReportLayout& layout = layoutOf(i);
        if (hasKeptFields(i))
            out.restore(layout.csv, record, layout.lastColumn(), layout.orderColumns(), kept_[size_t(i)]);
        else
            layout.cut(out, record);
    }
    // Why a header row was not read, naming the columns it has: no layout
    // matched it and no line was an order, or the layout asked for misses
    // columns. Empty otherwise.
    const QString& headerProblem() const { return headerProblem_; }
    // Orders excluded by the layout's rules (an order of several item rows
    // once), and how many.
    const std::vector<ExcludedRows>& excludedRows() const { return excluded_; }
    qsizetype excludedCount() const;
    // The first kExcludedKept excluded orders, in report order.
    static constexpr qsizetype kExcludedKept = 20;
    const std::vector<ExcludedLine>& firstExcludedLines() const { return excludedLines_; }
    // The order number and address of an order line (or of any row of a
    // header-row report), as the run reads them.
    QString orderNumberOf(qsizetype line) const;
    QString addressOf(qsizetype line) const;
    // The addresses of the orders whose customer asked not to be mailed (the
    // layout's doNotContact), each once, in report order; and the name of
    // the column that said so.
    QStringList doNotContactAddresses() const;
    const QString& doNotContactColumn() const { return doNotContactAs_; }
    // The product list as the main window shows it: "All" first when the
    // report names two or more products; empty when it has no order line.
    QStringList products() const;
    // The distinct products without "All", each in the spelling seen first.
    const QStringList& distinctProducts() const { return distinct_; }

    // An order line has text after trimming and an "@", is not the header
    // of a quoted report, holds one address (one "@" with text on both sides
    // and no blank) and an order number, and no control character.
    bool isOrderLine(qsizetype i) const { return productOf_[size_t(i)] >= 0; }
    // Index into distinctProducts() of an order line's product; -1 for other
    // lines.
    int productIndexOf(qsizetype i) const { return productOf_[size_t(i)]; }
    qsizetype orderLineCount() const { return orderLines_; }
    // Order lines of one product (an index into distinctProducts()), and
    // their bytes; -1 for all order lines.
    qsizetype orderLineCount(int product) const;
    qsizetype orderBytes(int product) const;

    // Lines with an "@" that are no order (see SkipReason): how many, and
    // the first kSkippedKept of them.
    static constexpr qsizetype kSkippedKept = 10;
    qsizetype skippedLineCount() const { return skippedCount_; }
    const std::vector<SkippedLine>& firstSkippedLines() const { return skipped_; }

    // Index into distinctProducts() of the product equal to name ignoring
    // case, or -1.
    int findProduct(QStringView name) const;

private:
    void intake();
    // Line 0 as a header row of a saved or built-in layout; genericToo: the
    // generic layout may match (the old rules found no header).
    bool readHeaderRow(bool genericToo);
    void findOrders(size_t headerZone);
    void findRowOrders();
    // What a header-row report's rows [from, to) hold, read on one core.
    struct RowFindings;
    void findRowOrdersIn(size_t from, size_t to, RowFindings& out);
    // Whether row i is an item row of the order of the row before it.
    bool isItemRow(size_t i) const;
    // The reason an exclusion rule gives for an excluded order.
    QString excludedReason(int rule, QByteArrayView value) const;
    void noteExcludedReason(const QString& reason, qsizetype line);
    // Cuts the text from start into lines and returns where it stopped:
    // after the line end that makes lineStarts_ hold more than lines.
    qsizetype cutLines(qsizetype start, size_t lines);
    // Cuts the text from start to its end into lines, on two cores when it is
    // big.
    void cutAllLines(qsizetype start);
    void cutRecords(qsizetype start, const CsvReader& csv);

    QByteArray text_; // UTF-8
    // what text_ may lie in, when it was not read into memory of its own
    std::shared_ptr<const MappedFile> source_;
    // where each line starts; its end follows from the next line's start
    LineOffsets lineStarts_;
    HugeVector<int32_t> productOf_;
    QStringList distinct_;
    ReportReading reading_;
    ReportLayout layout_ = defaultReportLayout();
    QString storeName_;
    std::shared_ptr<const void> layoutStorage_; // what layout_'s views point into
    QStringList excludeAs_;                     // per exclusion of layout_: its column
    QStringList excludeWhy_, excludeTotal_;     // and its reason, an amount rule's total
    QString doNotContactAs_;
    std::vector<ExcludedLine> excludedLines_;
    std::vector<qsizetype> doNotContact_; // rows of orders whose customer asked so
    QString headerProblem_;
    std::vector<ExcludedRows> excluded_;
    HugeVector<qsizetype> firstRowOf_;
    // per row of a header-row report in RFC 4180: the places of its order's
    // fields, kept where the row is its own trimmed text
    HugeVector<KeptFields> kept_;
    // product index by spelling, shared by both order finders
    struct Products;
    static int productIndex(Products& products, QByteArrayView product, qsizetype bytes);
    // The order lines among lines [from, to), into productOf_ and found.
    void findOrdersIn(size_t from, size_t to, size_t headerZone, Products& found);
    // found and later, the products of lines [from, to), as one.
    void mergeLater(Products& found, Products& later, size_t from, size_t to);
    // The products, counts and skipped lines found, as this report's.
    void adopt(Products& found);
    qsizetype headerLine_ = -1;
    qsizetype orderLines_ = 0;
    qsizetype orderBytes_ = 0;
    std::vector<qsizetype> linesOf_, bytesOf_; // per product
    qsizetype skippedCount_ = 0;
    std::vector<SkippedLine> skipped_;
    // records over several lines: (record, inner line ends up to its end)
    std::vector<std::pair<qsizetype, qsizetype>> longRecords_;
    std::vector<qsizetype> unclosed_; // records whose quotes never close
};

} // namespace og
