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
            // folds its ASCII part the same way as the loop above.
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

size_t FoldedIndex::hashOf(std::string_view s)
{
    return std::hash<std::string_view>{}(s);
}

void FoldedIndex::clear()
{
    keys_.clear();
    firstIndex_.clear();
    table_.clear();
    count_ = 0;
}

void FoldedIndex::build(const QStringList& texts)
{
    clear();
    keys_.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        add(QByteArrayView(t.toUtf8()));
}

void FoldedIndex::grow()
{
    size_t size = table_.empty() ? 64 : table_.size() * 2;
    table_.assign(size, -1);
    const size_t mask = size - 1;
    for (size_t k = 0; k < keys_.size(); ++k) {
        size_t slot = hashOf(keys_[k]) & mask;
        while (table_[slot] >= 0)
            slot = (slot + 1) & mask;
        table_[slot] = int32_t(k);
    }
}

void FoldedIndex::add(QByteArrayView utf8)
{
    const qsizetype position = count_++;
    foldCaseUtf8(utf8, scratch_);
    if ((keys_.size() + 1) * 2 > table_.size())
        grow();
    const size_t mask = table_.size() - 1;
    size_t slot = hashOf(scratch_) & mask;
    while (table_[slot] >= 0) {
        if (keys_[size_t(table_[slot])] == scratch_)
            return;  // the earlier position wins
        slot = (slot + 1) & mask;
    }
    table_[slot] = int32_t(keys_.size());
    keys_.push_back(scratch_);
    firstIndex_.push_back(position);
}

qsizetype FoldedIndex::firstIndexOf(QByteArrayView utf8) const
{
    if (keys_.empty())
        return -1;
    foldCaseUtf8(utf8, scratch_);
    const size_t mask = table_.size() - 1;
    size_t slot = hashOf(scratch_) & mask;
    while (table_[slot] >= 0) {
        const size_t k = size_t(table_[slot]);
        if (keys_[k] == scratch_)
            return firstIndex_[k];
        slot = (slot + 1) & mask;
    }
    return -1;
}

}  // namespace og
