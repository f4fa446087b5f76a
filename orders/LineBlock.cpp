#include "orders/LineBlock.h"

#include "orders/HugePages.h"

#include <QIODevice>

namespace og {

void LineBlock::append(QByteArrayView utf8Line)
{
    beginLine();
    appendToLine(utf8Line);
    endLine();
}

void LineBlock::reserve(qsizetype lines, qsizetype bytes)
{
    starts_.reserve(size_t(lines));
    adviseHugePages(starts_.data(), starts_.capacity() * sizeof(qsizetype));
    if (bytes > data_.capacity()) {
        data_.reserve(bytes);
        adviseHugePages(data_.data(), size_t(data_.capacity()));
    }
}

void LineBlock::clear()
{
    data_.clear();
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
        return data_;
    QByteArray out;
    out.reserve(data_.size());
    for (qsizetype i = 0; i < size(); ++i) {
        const QByteArrayView line = bytesAt(i);
        out.append(line.data(), line.size());
        out.append("\r\n", 2);
    }
    return out;
}

bool LineBlock::writeTo(QIODevice& device) const
{
    if (order_.empty())
        return device.write(data_) == data_.size();
    // Reordered lines go out through a buffer of a few megabytes.
    constexpr qsizetype chunk = 4 << 20;
    QByteArray buffer;
    buffer.reserve(chunk + 4096);
    for (qsizetype i = 0; i < size(); ++i) {
        const QByteArrayView line = bytesAt(i);
        buffer.append(line.data(), line.size());
        buffer.append("\r\n", 2);
        if (buffer.size() >= chunk) {
            if (device.write(buffer) != buffer.size())
                return false;
            buffer.resize(0);
        }
    }
    return buffer.isEmpty() || device.write(buffer) == buffer.size();
}

QStringList LineBlock::toStringList() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        out.append(at(i));
    return out;
}

}  // namespace og
