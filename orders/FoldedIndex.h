#pragma once
// Case-ignoring lookup of whole texts: the first position holding a text
// equal to the key when letter case is ignored. ASCII is folded on the fly;
// texts with other characters use full Unicode case folding.

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
// reused, so a lookup allocates nothing for ASCII text.
void foldCaseUtf8(QByteArrayView utf8, std::string& out);
// Equal ignoring case, by the same folding.
bool equalIgnoringCase(QStringView a, QStringView b);

class FoldedIndex {
public:
    void build(const QStringList& texts);
    void clear();
    // Adds a text at the next position (position = number of adds so far).
    void add(QByteArrayView utf8);
    qsizetype firstIndexOf(QByteArrayView utf8) const;
    qsizetype firstIndexOf(QStringView text) const { return firstIndexOf(QByteArrayView(text.toUtf8())); }
    bool contains(QByteArrayView utf8) const { return firstIndexOf(utf8) >= 0; }
    bool isEmpty() const { return count_ == 0; }

private:
    void grow();
    static size_t hashOf(std::string_view s);

    std::vector<std::string> keys_;       // distinct folded texts
    std::vector<qsizetype> firstIndex_;   // parallel to keys_
    std::vector<int32_t> table_;          // open addressing into keys_, -1 empty
    qsizetype count_ = 0;
    mutable std::string scratch_;
};

}  // namespace og
