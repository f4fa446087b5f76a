#include "orders/LineBlock.h"

#include "orders/Prefault.h"


#include <QIODevice>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace og {

LineBlock::LineBlock(const LineBlock& other)
    : starts_(other.starts_),
      order_(other.order_)
{
    if (other.size_ > 0) {
        grow(other.size_);
        std::memcpy(data_, other.data_, size_t(other.size_));
        size_ = other.size_;
    }
}

LineBlock::LineBlock(LineBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      prefaulted_(std::exchange(other.prefaulted_, 0)),
      starts_(std::move(other.starts_)),
      order_(std::move(other.order_))
{
    other.starts_.clear();
    other.order_.clear();
}

LineBlock& LineBlock::operator=(const LineBlock& other)
{
    if (this != &other) {
        LineBlock copy(other);
        *this = std::move(copy);
    }
    return *this;
}

LineBlock& LineBlock::operator=(LineBlock&& other) noexcept
{
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        prefaulted_ = std::exchange(other.prefaulted_, 0);
        starts_ = std::move(other.starts_);
        order_ = std::move(other.order_);
        other.starts_.clear();
        other.order_.clear();
    }
    return *this;
}

LineBlock::~LineBlock()
{
    std::free(data_);
}

void LineBlock::grow(qsizetype needed)
{
    qsizetype capacity = std::max<qsizetype>(capacity_ * 2, 4096);
    while (capacity < needed)
        capacity *= 2;
    char* bigger = static_cast<char*>(std::realloc(data_, size_t(capacity)));
    if (!bigger)
        throw std::bad_alloc();
    data_ = bigger;
    capacity_ = capacity;
    preferHugePages(data_, size_t(capacity_));
}

void LineBlock::prefaultAhead(qsizetype needed)
{
    // as far ahead as has been written, from 64 KiB up to a megabyte: a
    // block of a few lines maps no more than it needs
    const qsizetype ahead = std::clamp(size_, qsizetype(64) << 10, qsizetype(1) << 20);
    const qsizetype to = std::min(capacity_, needed + ahead);
    if (to > prefaulted_)
        prefaultForWrite(data_ + prefaulted_, size_t(to - prefaulted_));
    prefaulted_ = std::max(prefaulted_, to);
}

void LineBlock::append(QByteArrayView utf8Line)
{
    beginLine();
    appendToLine(utf8Line);
    endLine();
}

void LineBlock::reserve(qsizetype lines, qsizetype bytes)
{
    starts_.reserve(size_t(lines));
    if (bytes > capacity_) {
        char* bigger = static_cast<char*>(std::realloc(data_, size_t(bytes)));
        if (!bigger)
            throw std::bad_alloc();
        data_ = bigger;
        capacity_ = bytes;
        preferHugePages(data_, size_t(capacity_));
    }
}

void LineBlock::squeeze()
{
    starts_.shrink_to_fit();
    if (size_ == 0 || size_ == capacity_)
        return;
    if (char* smaller = static_cast<char*>(std::realloc(data_, size_t(size_)))) {
        data_ = smaller;
        capacity_ = size_;
        prefaulted_ = std::min(prefaulted_, size_);
    }
}

void LineBlock::clear()
{
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = prefaulted_ = 0;
    starts_ = LineOffsets();
    std::vector<uint32_t>().swap(order_);
}

void LineBlock::reuse()
{
    size_ = 0;
    starts_.clear();
    order_.clear();
}

void LineBlock::reorder(std::vector<uint32_t> order)
{
    order_ = std::move(order);
}

QByteArray LineBlock::fileBytes() const
{
    if (order_.empty())
        return QByteArray(data_, size_);
    QByteArray out;
    out.reserve(size_);
    for (qsizetype i = 0; i < size(); ++i) {
        const QByteArrayView line = bytesAt(i);
        out.append(line.data(), line.size());
        out.append("\r\n", 2);
    }
    return out;
}

bool LineBlock::writeTo(QIODevice& device) const
{
    QIODevice* devices[] = {&device};
    writeTo(devices);
    return devices[0] != nullptr;
}

void LineBlock::writeTo(std::span<QIODevice*> devices) const
{
    const auto toEach = [&](const char* data, qsizetype size) {
        for (QIODevice*& device : devices) {
            if (device && device->write(data, size) != size)
                device = nullptr;
        }
    };
    if (order_.empty()) {
        if (size_ > 0)
            toEach(data_, size_);
        return;
    }
    // Reordered lines go out through a buffer of a few megabytes.
    constexpr qsizetype chunk = 4 << 20;
    QByteArray buffer;
    buffer.reserve(chunk + 4096);
    prefaultForWrite(buffer.data(), size_t(buffer.capacity()));
    const size_t n = order_.size();
    for (size_t i = 0; i < n; ++i) {
        // the lines lie scattered: ask for them a little ahead
        if (i + 16 < n)
            starts_.prefetch(order_[i + 16]);
        if (i + 8 < n)
            __builtin_prefetch(data_ + starts_[order_[i + 8]]);
        const QByteArrayView line = bytesAt(qsizetype(i));
        buffer.append(line.data(), line.size());
        buffer.append("\r\n", 2);
        if (buffer.size() >= chunk) {
            toEach(buffer.constData(), buffer.size());
            buffer.resize(0);
        }
    }
    if (!buffer.isEmpty())
        toEach(buffer.constData(), buffer.size());
}

QStringList LineBlock::toStringList() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        out.append(at(i));
    return out;
}

} // namespace og
