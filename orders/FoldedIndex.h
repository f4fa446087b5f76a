#pragma once
// Case-ignoring lookup of whole texts: the first position holding a text
// equal to the key when letter case is ignored. ASCII is folded on the fly;
// texts with other characters use full Unicode case folding.

#include "orders/LineBlock.h"
#include "orders/Prefault.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace og {

// The folded form used for comparing: UTF-8 of the case-folded text. out is
// reused, so folding allocates nothing for ASCII text.
void foldCaseUtf8(QByteArrayView utf8, std::string& out);
// Equal ignoring case, by the same folding.
bool equalIgnoringCase(QStringView a, QStringView b);

// A folded text with its hash, made once and looked up in several indexes.
struct FoldedKey {
    std::string text;
    size_t hash = 0;
    void set(QByteArrayView utf8);
};

// A set of hashes that may answer "maybe" for a hash never added, but never
// "no" for one that was: about eight bits per hash, small enough to stay in
// the cache, so that most lookups that find nothing end here.
class KeyFilter {
public:
    void reset(size_t expectedKeys);
    void add(size_t hash)
    {
        const uint64_t bit = position(hash);
        bits_[bit >> 6] |= uint64_t(1) << (bit & 63);
    }
    [[gnu::always_inline]] void prefetch(size_t hash) const
    {
        if (!bits_.empty())
            __builtin_prefetch(&bits_[position(hash) >> 6]);
    }
    bool mayContain(size_t hash) const
    {
        if (bits_.empty())
            return false;
        const uint64_t bit = position(hash);
        return (bits_[bit >> 6] >> (bit & 63)) & 1;
    }

private:
    uint64_t position(size_t hash) const { return (uint64_t(hash) * 0x9E3779B97F4A7C15ull) >> shift_; }

    HugeVector<uint64_t> bits_;
    unsigned shift_ = 58;
};

// Lookups are const and may run on several threads at once; building is not.
class FoldedIndex {
public:
    void build(const QStringList& texts);
    void build(const LineBlock& texts);
    void clear();
    // Adds a text at the next position (position = number of adds so far).
    void add(QByteArrayView utf8);
    // The same for a text folded beforehand.
    void add(const FoldedKey& key);
    qsizetype firstIndexOf(QByteArrayView utf8) const;
    qsizetype firstIndexOf(QStringView text) const { return firstIndexOf(QByteArrayView(text.toUtf8())); }
    qsizetype firstIndexOf(const FoldedKey& key) const;
    // The first position holding the text added at position, ignoring
    // case: firstIndexOf() of that text, known since it was added.
    qsizetype firstIndexAt(qsizetype position) const { return firstIndex_[keyOf_[size_t(position)]]; }
    bool contains(QByteArrayView utf8) const { return firstIndexOf(utf8) >= 0; }
    bool isEmpty() const { return count_ == 0; }
    qsizetype distinctCount() const { return qsizetype(firstIndex_.size()); }
    // Adds the hash of every distinct text to filter.
    void addHashesTo(KeyFilter& filter) const;

private:
    void grow();
    void rebuildFilter();
    std::string_view key(size_t k) const
    {
        return std::string_view(keyData_.data() + keyStart_[k], keyStart_[k + 1] - keyStart_[k]);
    }
    // made again when the table grows rather than kept, a word a text
    size_t keyHash(size_t k) const { return std::hash<std::string_view> {}(key(k)); }

    // distinct folded texts, one after another
    // in blocks of their own: a list of 100,000 entries is indexed at every
    // start, and its tables of a few megabytes faulted in a page at a time
    HugeString keyData_;
    HugeVector<size_t> keyStart_ {0};
    HugeVector<uint32_t> firstIndex_; // position of each distinct text's first add
    HugeVector<uint32_t> keyOf_;      // distinct text of each position
    // open addressing: (hash tag << 32) | (key number + 1), 0 for empty; the
    // tag spares reading the key for almost every miss
    HugeVector<uint64_t> table_;
    KeyFilter filter_;
    qsizetype count_ = 0;
    FoldedKey scratch_; // for add()
};

} // namespace og
