#include "orders/FoldedIndex.h"

#include "orders/ByteWords.h"
#include "orders/Prefault.h"

#include <array>
#include <cstring>
#include <functional>

namespace og {

void foldCaseUtf8(QByteArrayView utf8, std::string& out)
{
    out.resize(size_t(utf8.size()));
    const char* p = utf8.data();
    qsizetype i = 0;
    if constexpr (words::kUsable) {
        // every order's address is folded, and the lists' entries: ASCII a
        // word at a time, up to the first byte that is not
        for (; i + 8 <= utf8.size(); i += 8) {
            const uint64_t word = words::load(p + i);
            if (word & words::kTop)
                break;
            const uint64_t folded = word + (words::capital(word) >> 2);
            std::memcpy(out.data() + i, &folded, sizeof folded);
        }
    }
    for (; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x80) {
            // Rare: fold the whole text through Unicode case folding, which
            // folds its ASCII part the same way as the loop.
            const QByteArray folded = QString::fromUtf8(utf8).toCaseFolded().toUtf8();
            out.assign(folded.constData(), size_t(folded.size()));
            return;
        }
        out[size_t(i)] = (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c);
    }
}

bool equalIgnoringCase(QStringView a, QStringView b)
{
    std::string fa, fb;
    foldCaseUtf8(QByteArrayView(a.toUtf8()), fa);
    foldCaseUtf8(QByteArrayView(b.toUtf8()), fb);
    return fa == fb;
}

void FoldedKey::set(QByteArrayView utf8)
{
    foldCaseUtf8(utf8, text);
    hash = std::hash<std::string_view> {}(text);
}

void FoldedIndex::clear()
{
    keyData_.clear();
    keyStart_.assign(1, 0);
    firstIndex_.clear();
    keyOf_.clear();
    table_.clear();
    filter_ = KeyFilter();
    count_ = 0;
}

void FoldedIndex::build(const QStringList& texts)
{
    clear();
    for (const QString& t : texts)
        add(QByteArrayView(t.toUtf8()));
}

void FoldedIndex::build(const LineBlock& texts)
{
    clear();
    // sized once for all texts: no rehashing while they are added
    const size_t n = size_t(texts.size());
    keyStart_.reserve(n + 1);
    firstIndex_.reserve(n);
    keyOf_.reserve(n);
    keyData_.reserve(size_t(texts.fileSize()));
    size_t slotCount = 64;
    while (slotCount < 2 * (n + 1))
        slotCount *= 2;
    table_.assign(slotCount, 0);
    rebuildFilter();
    // A list of 100,000 entries has a table bigger than the cache: each
    // text is folded and hashed a few texts ahead, and its slot asked for.
    constexpr qsizetype kAhead = 8;
    std::array<FoldedKey, kAhead> ahead;
    const auto look = [&](qsizetype i) {
        FoldedKey& k = ahead[size_t(i % kAhead)];
        k.set(texts.bytesAt(i));
        __builtin_prefetch(&table_[k.hash & (table_.size() - 1)]);
    };
    for (qsizetype i = 0; i < std::min(kAhead, texts.size()); ++i)
        look(i);
    for (qsizetype i = 0; i < texts.size(); ++i) {
        add(ahead[size_t(i % kAhead)]);
        if (i + kAhead < texts.size())
            look(i + kAhead);
    }
}

namespace {
inline uint64_t entryOf(size_t hash, size_t k)
{
    return (uint64_t(hash >> 32) << 32) | uint64_t(k + 1);
}
inline bool sameTag(uint64_t entry, size_t hash)
{
    return (entry >> 32) == (uint64_t(hash) >> 32);
}
inline size_t keyNumber(uint64_t entry)
{
    return size_t(entry & 0xffffffffu) - 1;
}
} // namespace

void KeyFilter::reset(size_t expectedKeys)
{
    unsigned log2bits = 6;
    while ((size_t(1) << log2bits) < expectedKeys * 8)
        ++log2bits;
    shift_ = 64 - log2bits;
    bits_.assign((size_t(1) << log2bits) / 64, 0);
}

void FoldedIndex::rebuildFilter()
{
    filter_.reset(table_.size() / 2);
    addHashesTo(filter_);
}

void FoldedIndex::addHashesTo(KeyFilter& filter) const
{
    for (size_t k = 0; k < firstIndex_.size(); ++k)
        filter.add(keyHash(k));
}

void FoldedIndex::grow()
{
    const size_t size = table_.empty() ? 64 : table_.size() * 2;
    table_.assign(size, 0);
    const size_t mask = size - 1;
    for (size_t k = 0; k < firstIndex_.size(); ++k) {
        const size_t hash = keyHash(k);
        size_t slot = hash & mask;
        while (table_[slot] != 0)
            slot = (slot + 1) & mask;
        table_[slot] = entryOf(hash, k);
    }
    rebuildFilter();
}

void FoldedIndex::add(QByteArrayView utf8)
{
    scratch_.set(utf8);
    add(scratch_);
}

void FoldedIndex::add(const FoldedKey& k)
{
    const qsizetype position = count_++;
    if ((firstIndex_.size() + 1) * 2 > table_.size())
        grow();
    const size_t mask = table_.size() - 1;
    size_t slot = k.hash & mask;
    while (table_[slot] != 0) {
        if (sameTag(table_[slot], k.hash) && key(keyNumber(table_[slot])) == k.text) {
            keyOf_.push_back(uint32_t(keyNumber(table_[slot])));
            return; // the earlier position wins
        }
        slot = (slot + 1) & mask;
    }
    keyOf_.push_back(uint32_t(firstIndex_.size()));
    table_[slot] = entryOf(k.hash, firstIndex_.size());
    filter_.add(k.hash);
    keyData_.append(k.text);
    keyStart_.push_back(keyData_.size());
    firstIndex_.push_back(uint32_t(position));
}

qsizetype FoldedIndex::firstIndexOf(const FoldedKey& k) const
{
    if (firstIndex_.empty() || !filter_.mayContain(k.hash))
        return -1;
    const size_t mask = table_.size() - 1;
    size_t slot = k.hash & mask;
    while (table_[slot] != 0) {
        const uint64_t entry = table_[slot];
        if (sameTag(entry, k.hash) && key(keyNumber(entry)) == k.text)
            return firstIndex_[keyNumber(entry)];
        slot = (slot + 1) & mask;
    }
    return -1;
}

qsizetype FoldedIndex::firstIndexOf(QByteArrayView utf8) const
{
    if (firstIndex_.empty())
        return -1;
    // a key of its own: lookups may run on several threads at once
    FoldedKey key;
    key.set(utf8);
    return firstIndexOf(key);
}

} // namespace og
