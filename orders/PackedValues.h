#pragma once
// Many short values, each kept in eight bytes: its length and where it
// starts, in a text that outlives them (a report's) or among the copies
// held here. A million accounts hold four million values: a view of
// sixteen bytes each would double what they cost.

#include "orders/Prefault.h"

#include <QByteArrayView>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace og {

class PackedValues {
public:
    using Value = uint64_t;

    // Values that lie in text are kept as their place in it.
    void setText(QByteArrayView text) { text_ = text; }
    // Room for copies of this many bytes (capacity never written costs no
    // memory).
    void reserve(qsizetype bytes) { copies_.reserve(size_t(std::max(bytes, qsizetype(0)))); }
    Value add(QByteArrayView value)
    {
        const bool inText = !value.isEmpty() && value.data() >= text_.data() &&
            value.data() + value.size() <= text_.data() + text_.size();
        if (inText && uint64_t(value.size()) < kLong)
            return uint64_t(value.data() - text_.data()) << kLengthBits | uint64_t(value.size());
        const auto at = uint64_t(copies_.size());
        if (uint64_t(value.size()) >= kLong) {
            const qint64 length = value.size();
            copies_.append(reinterpret_cast<const char*>(&length), sizeof length);
        }
        copies_.append(value.data(), size_t(value.size()));
        return kCopied | at << kLengthBits | std::min(uint64_t(value.size()), kLong);
    }
    // The value, until the next add().
    QByteArrayView at(Value value) const
    {
        const uint64_t place = (value & ~kCopied) >> kLengthBits;
        const uint64_t length = value & kLong;
        if (!(value & kCopied))
            return QByteArrayView(text_.data() + place, qsizetype(length));
        if (length < kLong)
            return QByteArrayView(copies_.data() + place, qsizetype(length));
        qint64 longer = 0; // its length stands before it
        std::memcpy(&longer, copies_.data() + place, sizeof longer);
        return QByteArrayView(copies_.data() + place + sizeof longer, longer);
    }

    // Asks for the first bytes of value to be brought to the cache.
    [[gnu::always_inline]] void prefetch(Value value) const
    {
        const uint64_t place = (value & ~kCopied) >> kLengthBits;
        const char* const base = value & kCopied ? copies_.data() : text_.data();
        __builtin_prefetch(base + place);
    }

private:
    static constexpr int kLengthBits = 24;
    static constexpr uint64_t kLong = (uint64_t(1) << kLengthBits) - 1;
    static constexpr uint64_t kCopied = uint64_t(1) << 63;

    QByteArrayView text_;
    HugeString copies_;
};

} // namespace og
