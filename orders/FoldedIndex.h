#pragma once
// Case-ignoring lookup of whole texts: the first position holding a text
// equal to the key when letter case is ignored. ASCII is folded on the fly;
// texts with other characters use full Unicode case folding.

#include "orders/LineBlock.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
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

// Lookups are const and may run on several threads at once; building is not.
class FoldedIndex {
public:
    void build(const QStringList& texts);
    void build(const LineBlock& texts);
    void clear();
    // Adds a text at the next position (position = number of adds so far).
    void add(QByteArrayView utf8);
    qsizetype firstIndexOf(QByteArrayView utf8) const;
    qsizetype firstIndexOf(QStringView text) const { return firstIndexOf(QByteArrayView(text.toUtf8())); }
    qsizetype firstIndexOf(const FoldedKey& key) const;
    bool contains(QByteArrayView utf8) const { return firstIndexOf(utf8) >= 0; }
    bool isEmpty() const { return count_ == 0; }

private:
    void grow();
    void rebuildFilter();
    bool mayContain(size_t hash) const
    {
        const uint64_t bit = (uint64_t(hash) * 0x9E3779B97F4A7C15ull) >> filterShift_;
        return (filter_[bit >> 6] >> (bit & 63)) & 1;
    }
    std::string_view key(size_t k) const
    {
        return std::string_view(keyData_.data() + keyStart_[k], keyStart_[k + 1] - keyStart_[k]);
    }

    // distinct folded texts, one after another
    std::string keyData_;
    std::vector<size_t> keyStart_{0};
    std::vector<uint32_t> firstIndex_;  // position of each distinct text's first add
    // open addressing: (hash tag << 32) | (key number + 1), 0 for empty; the
    // tag spares reading the key for almost every miss
    std::vector<uint64_t> table_;
    // one bit per hash value class, small enough to stay in the cache: most
    // lookups of a run are misses and end here
    std::vector<uint64_t> filter_;
    unsigned filterShift_ = 64;
    qsizetype count_ = 0;
    FoldedKey scratch_;  // for add()
};

}  // namespace og
