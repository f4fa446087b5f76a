#pragma once
// Where each of many lines starts in one text, in four bytes a line rather
// than eight: a million lines of a report, of an address file or of the
// lists are held while a ledger is compared, and these offsets were a tenth
// of what such a run holds. A text past 4 GiB still works: beside the
// offsets, the first line of each further 4 GiB is kept, and an offset is
// its four bytes plus the part of the text it lies in.

#include "orders/Prefault.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace og {

class LineOffsets {
public:
    size_t size() const { return low_.size(); }
    bool empty() const { return low_.empty(); }
    // Room for lines offsets, mapped at once: they are about to be written.
    void reserve(size_t lines)
    {
        low_.reserve(lines);
        prefaultForWrite(low_.data() + low_.size(), (low_.capacity() - low_.size()) * sizeof(uint32_t));
    }
    // Gives back room for more lines, when it is more than an eighth: the
    // copy costs a fresh page for each page kept, and the lists, reserved
    // for a bound of their lines, leave almost none over.
    void shrink_to_fit()
    {
        if (low_.capacity() - low_.size() > low_.capacity() / 8)
            low_.shrink_to_fit();
        parts_.shrink_to_fit();
    }
    void clear()
    {
        low_.clear();
        parts_.clear();
    }
    // Keeps the first lines.
    void resize(size_t lines)
    {
        low_.resize(std::min(lines, low_.size()));
        while (!parts_.empty() && parts_.back() >= lines)
            parts_.pop_back();
    }
    // Offsets come in increasing order.
    void push_back(qsizetype start)
    {
        const auto part = size_t(uint64_t(start) >> 32);
        while (parts_.size() < part)
            parts_.push_back(low_.size());
        low_.push_back(uint32_t(uint64_t(start)));
    }
    qsizetype operator[](size_t i) const
    {
        if (parts_.empty())
            return qsizetype(low_[i]);
        const auto part = uint64_t(std::upper_bound(parts_.begin(), parts_.end(), i) - parts_.begin());
        return qsizetype(part << 32 | low_[i]);
    }
    // Asks for line i's offset to be brought to the cache.
    [[gnu::always_inline]] void prefetch(size_t i) const { __builtin_prefetch(&low_[i]); }

private:
    HugeVector<uint32_t> low_;  // each offset's low four bytes
    std::vector<size_t> parts_; // parts_[p]: the first line past (p + 1) × 4 GiB
};

} // namespace og
