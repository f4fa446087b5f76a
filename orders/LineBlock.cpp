#include "orders/LineBlock.h"

namespace og {

QByteArrayView LineBlock::bytesAt(qsizetype i) const
{
    const qsizetype start = starts_[size_t(i)];
    const qsizetype next = size_t(i) + 1 < starts_.size() ? starts_[size_t(i) + 1] : data_.size();
    return QByteArrayView(data_.constData() + start, next - start - 2);
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
    data_.reserve(bytes);
}

void LineBlock::clear()
{
    data_.clear();
    starts_.clear();
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
