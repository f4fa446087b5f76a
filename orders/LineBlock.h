#pragma once
// Many text lines in one UTF-8 buffer, each followed by CR LF, with an offset
// per line: a million lines cost two allocations instead of a million, and
// the buffer is exactly the file the lines are written to.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <iterator>
#include <vector>

namespace og {

class LineBlock {
public:
    LineBlock() = default;

    qsizetype size() const { return qsizetype(starts_.size()); }
    bool isEmpty() const { return starts_.empty(); }
    QString at(qsizetype i) const { return QString::fromUtf8(bytesAt(i)); }
    QString operator[](qsizetype i) const { return at(i); }
    // The line's UTF-8 bytes, without its CR LF.
    QByteArrayView bytesAt(qsizetype i) const;

    void append(QByteArrayView utf8Line);
    void append(QStringView line) { append(QByteArrayView(line.toUtf8())); }
    // Builds a line from pieces without a temporary.
    void beginLine() { starts_.push_back(data_.size()); }
    void appendToLine(QByteArrayView piece) { data_.append(piece.data(), piece.size()); }
    void endLine() { data_.append("\r\n", 2); }

    void reserve(qsizetype lines, qsizetype bytes);
    void clear();

    // Every line followed by CR LF, the last one too.
    const QByteArray& fileBytes() const { return data_; }
    QStringList toStringList() const;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = QString;
        using difference_type = qsizetype;
        using pointer = void;
        using reference = QString;
        const_iterator(const LineBlock* block, qsizetype i) : block_(block), i_(i) {}
        QString operator*() const { return block_->at(i_); }
        const_iterator& operator++() { ++i_; return *this; }
        const_iterator operator++(int) { auto old = *this; ++i_; return old; }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
    private:
        const LineBlock* block_;
        qsizetype i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    QByteArray data_;
    std::vector<qsizetype> starts_;
};

}  // namespace og
