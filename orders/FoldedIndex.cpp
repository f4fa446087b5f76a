#include "orders/FoldedIndex.h"

#include <functional>

namespace og {

void foldCaseUtf8(QByteArrayView utf8, std::string& out)
{
    out.resize(size_t(utf8.size()));
    const char* p = utf8.data();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
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
    hash = std::hash<std::string_view>{}(text);
}

void FoldedIndex::clear()
{
    keyData_.clear();
    keyStart_.assign(1, 0);
    firstIndex_.clear();
    table_.clear();
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
    keyStart_.reserve(size_t(texts.size()) + 1);
    firstIndex_.reserve(size_t(texts.size()));
    for (qsizetype i = 0; i < texts.size(); ++i)
        add(texts.bytesAt(i));
}

void FoldedIndex::grow()
{
    const size_t size = table_.empty() ? 64 : table_.size() * 2;
    table_.assign(size, -1);
    const size_t mask = size - 1;
    for (size_t k = 0; k < firstIndex_.size(); ++k) {
        size_t slot = std::hash<std::string_view>{}(key(k)) & mask;
        while (table_[slot] >= 0)
            slot = (slot + 1) & mask;
        table_[slot] = int32_t(k);
    }
}

void FoldedIndex::add(QByteArrayView utf8)
{
    const qsizetype position = count_++;
    scratch_.set(utf8);
    if ((firstIndex_.size() + 1) * 2 > table_.size())
        grow();
    const size_t mask = table_.size() - 1;
    size_t slot = scratch_.hash & mask;
    while (table_[slot] >= 0) {
        if (key(size_t(table_[slot])) == scratch_.text)
            return;  // the earlier position wins
        slot = (slot + 1) & mask;
    }
    table_[slot] = int32_t(firstIndex_.size());
    keyData_ += scratch_.text;
    keyStart_.push_back(keyData_.size());
    firstIndex_.push_back(uint32_t(position));
}

qsizetype FoldedIndex::firstIndexOf(const FoldedKey& k) const
{
    if (firstIndex_.empty())
        return -1;
    const size_t mask = table_.size() - 1;
    size_t slot = k.hash & mask;
    while (table_[slot] >= 0) {
        const size_t at = size_t(table_[slot]);
        if (key(at) == k.text)
            return firstIndex_[at];
        slot = (slot + 1) & mask;
    }
    return -1;
}

qsizetype FoldedIndex::firstIndexOf(QByteArrayView utf8) const
{
    if (firstIndex_.empty())
        return -1;
    scratch_.set(utf8);
    return firstIndexOf(scratch_);
}

}  // namespace og
