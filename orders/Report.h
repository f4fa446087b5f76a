#pragma once
// The sales report: its lines, which store made it, which lines are orders
// and the list of products they name.

#include "orders/ReportLayout.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace og {

class Report {
public:
    // The whole intake: splits the text into lines (CR LF, and also a lone LF
    // or a lone CR), decides the store, finds the order lines and builds the
    // product list. Replaces what an earlier read found.
    void read(const QString& text);
    // The same from the bytes of a file: UTF-8, with invalid bytes read as
    // Windows-1252.
    void readBytes(QByteArray bytes);

    qsizetype lineCount() const { return qsizetype(lineStarts_.size()); }
    QString line(qsizetype i) const;
    // The line's UTF-8 bytes without its line end.
    QByteArrayView lineBytes(qsizetype i) const;

    // The store's layout the report was read in.
    const ReportLayout& layout() const { return *layout_; }
    // The product list as the main window shows it: "All" first when the
    // report names two or more products; empty when it has no order line.
    QStringList products() const;
    // The distinct products without "All", each in the spelling seen first.
    const QStringList& distinctProducts() const { return distinct_; }

    // An order line has text after trimming and an "@", and is not the header
    // of a quoted report.
    bool isOrderLine(qsizetype i) const { return productOf_[size_t(i)] >= 0; }
    // Index into distinctProducts() of an order line's product; -1 for other
    // lines.
    int productIndexOf(qsizetype i) const { return productOf_[size_t(i)]; }
    qsizetype orderLineCount() const { return orderLines_; }
    // Order lines of one product (an index into distinctProducts()), and
    // their bytes; -1 for all order lines.
    qsizetype orderLineCount(int product) const;
    qsizetype orderBytes(int product) const;

    // Index into distinctProducts() of the product equal to name ignoring
    // case, or -1.
    int findProduct(QStringView name) const;

private:
    void intake();

    QByteArray text_; // UTF-8
    // where each line starts; its end follows from the next line's start
    std::vector<qsizetype> lineStarts_;
    std::vector<int32_t> productOf_;
    QStringList distinct_;
    const ReportLayout* layout_ = &defaultReportLayout();
    qsizetype orderLines_ = 0;
    qsizetype orderBytes_ = 0;
    std::vector<qsizetype> linesOf_, bytesOf_; // per product
};

} // namespace og
