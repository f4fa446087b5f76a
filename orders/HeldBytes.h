#pragma once
// Copies of values that must outlive the buffers they came from, for views
// into them: a million values are a few blocks, not a million allocations.
// A block is never grown past its capacity, so the views into it stay valid.

#include <QByteArray>
#include <QByteArrayView>
#include <algorithm>
#include <deque>

namespace og {

class HeldBytes {
public:
    // A copy of value that lives as long as this.
    QByteArrayView hold(QByteArrayView value)
    {
        constexpr qsizetype kBlock = 1 << 20;
        if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < value.size()) {
            blocks_.emplace_back();
            blocks_.back().reserve(std::max(kBlock, value.size()));
        }
        QByteArray& block = blocks_.back();
        const qsizetype at = block.size();
        block.append(value);
        return QByteArrayView(block.constData() + at, value.size());
    }

private:
    std::deque<QByteArray> blocks_;
};

} // namespace og
