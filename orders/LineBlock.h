#pragma once
// Many text lines in one UTF-8 buffer, each followed by CR LF, with an offset
// per line: a million lines cost a few allocations instead of a million, and
// the buffer is the file the lines are written to. A sorted block keeps its
// buffer and only reorders its line numbers.

#include "orders/LineOffsets.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

class QIODevice;

namespace og {

class LineBlock {
public:
    LineBlock() = default;
    LineBlock(const LineBlock& other);
    LineBlock(LineBlock&& other) noexcept;
    LineBlock& operator=(const LineBlock& other);
    LineBlock& operator=(LineBlock&& other) noexcept;
    ~LineBlock();

    qsizetype size() const { return qsizetype(starts_.size()); }
    bool isEmpty() const { return starts_.empty(); }
    QString at(qsizetype i) const { return QString::fromUtf8(bytesAt(i)); }
    QString operator[](qsizetype i) const { return at(i); }
    // The line's UTF-8 bytes, without its CR LF.
    QByteArrayView bytesAt(qsizetype i) const
    {
        const size_t raw = order_.empty() ? size_t(i) : order_[size_t(i)];
        const qsizetype start = starts_[raw];
        const qsizetype next = raw + 1 < starts_.size() ? starts_[raw + 1] : size_;
        return QByteArrayView(data_ + start, next - start - 2);
    }

    // Appending is for a block that has not been reordered.
    void append(QByteArrayView utf8Line);
    void append(QStringView line) { append(QByteArrayView(line.toUtf8())); }
    // Builds a line from pieces without a temporary.
    void beginLine() { starts_.push_back(size_); }
    void appendToLine(QByteArrayView piece)
    {
        if (size_ + piece.size() > capacity_)
            grow(size_ + piece.size());
        if (size_ + piece.size() > prefaulted_)
            prefaultAhead(size_ + piece.size());
        if (!piece.isEmpty())
            std::memcpy(data_ + size_, piece.data(), size_t(piece.size()));
        size_ += piece.size();
    }
    void endLine() { appendToLine(QByteArrayView("\r\n", 2)); }

    void reserve(qsizetype lines, qsizetype bytes);
    // Frees everything.
    void clear();
    // Empties the block but keeps its memory for the next lines.
    void reuse();
    // Gives back the room beyond the lines: for a block that is complete
    // and kept (capacity mapped ahead of the writes costs memory).
    void squeeze();

    // Shows the lines in this order: line i becomes the line numbered
    // order[i] so far. order must be a permutation of 0 .. size()-1.
    void reorder(std::vector<uint32_t> order);

    // Every line followed by CR LF, the last one too.
    QByteArray fileBytes() const;
    qsizetype fileSize() const { return size_; }
    // Writes fileBytes() in a few large writes; false on a write error.
    bool writeTo(QIODevice& device) const;
    // The same to each of devices, reordered lines gathered once for all; a
    // device that fails a write is set to null there, and the others go on.
    void writeTo(std::span<QIODevice*> devices) const;
    QStringList toStringList() const;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = QString;
        using difference_type = qsizetype;
        using pointer = void;
        using reference = QString;
        const_iterator() = default;
        const_iterator(const LineBlock* block, qsizetype i)
            : block_(block),
              i_(i)
        {
        }
        QString operator*() const { return block_->at(i_); }
        const_iterator& operator++()
        {
            ++i_;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto old = *this;
            ++i_;
            return old;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }

    private:
        const LineBlock* block_ = nullptr;
        qsizetype i_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    void grow(qsizetype needed);
    // The buffer's pages from prefaulted_ to a few megabytes past needed.
    void prefaultAhead(qsizetype needed);

    char* data_ = nullptr; // malloc'd: growing it may remap instead of copy
    qsizetype size_ = 0;
    qsizetype capacity_ = 0;
    qsizetype prefaulted_ = 0; // the bytes before are mapped
    LineOffsets starts_;
    std::vector<uint32_t> order_; // empty: lines in the order appended
};

} // namespace og
