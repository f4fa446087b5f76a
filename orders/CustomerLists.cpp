#include "orders/CustomerLists.h"

#include "common/TextFiles.h"
#include "orders/ByteWords.h"
#include "orders/InputFiles.h"
#include "orders/ReportFields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace og {

namespace {

// Parts after a cut keep at most this many characters.
constexpr qsizetype kPartLimit = 999;

// At most kPartLimit characters of text (a view into text, or into spill for
// the rare text long enough for the limit to matter).
QByteArrayView limited(QByteArrayView text, QByteArray& spill)
{
    if (text.size() <= kPartLimit)
        return text;
    spill = QString::fromUtf8(text).left(kPartLimit).toUtf8();
    return spill;
}

// Cuts text at its first blank: the part before, and at most kPartLimit
// characters after it. False when there is no blank.
bool cutAtBlank(QByteArrayView text, QByteArrayView* before, QByteArrayView* after, QByteArray& spill)
{
    const qsizetype blank = text.indexOf(' ');
    if (blank < 0)
        return false;
    *before = text.first(blank);
    *after = limited(text.sliced(blank + 1), spill);
    return true;
}

// The first CR or LF at or after from, or the text's size: the lists are
// read at every start, a word at a time.
qsizetype nextBreak(QByteArrayView text, qsizetype from)
{
    const char* p = text.data();
    qsizetype i = from;
    if constexpr (words::kUsable) {
        for (; i + 8 <= text.size(); i += 8) {
            const uint64_t word = words::load(p + i);
            if (const uint64_t breaks = words::equal(word, '\r') | words::equal(word, '\n'))
                return i + words::byteOf(breaks);
        }
    }
    for (; i < text.size(); ++i) {
        if (p[i] == '\r' || p[i] == '\n')
            return i;
    }
    return text.size();
}

template <typename Fn>
void forEachLine(const QByteArray& utf8, Fn fn)
{
    QByteArrayView text(utf8);
    const qsizetype stop = text.indexOf('\x1a');
    if (stop >= 0)
        text = text.first(stop);
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = nextBreak(text, 0); i < n; i = nextBreak(text, i + 1)) {
        fn(text.sliced(start, i - start));
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        fn(text.sliced(start));
}

// An upper bound of the lines in text: one pass over the bytes, written so
// the compiler can vectorise it (a list of 100,000 entries is read at every
// start, and counting each break character separately cost more than
// splitting the lines).
qsizetype lineCountBound(const QByteArray& text)
{
    qsizetype breaks = 0;
    for (const char c : text)
        breaks += qsizetype((c == '\n') | (c == '\r'));
    return breaks + 1;
}

// Room for the lines of text in a block, so that it never grows.
void reserveFor(LineBlock& block, const QByteArray& text, qsizetype lines)
{
    block.reserve(lines, text.size() + 2 * lines);
}

void upperInPlace(QByteArray& s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    }
}

} // namespace

QString upperAsciiLetters(QStringView text)
{
    QString out = text.toString();
    for (QChar& c : out) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    }
    return out;
}

void CustomerLists::clear()
{
    for (LineBlock* b : {&blocked_, &old_, &new_, &admitted_, &orders_, &shops_})
        b->clear();
    blockedIndex_.clear();
    oldIndex_.clear();
    admittedIndex_.clear();
    anyList_ = KeyFilter();
    bounced_ = SuppressionList();
    missing_.clear();
}

void CustomerLists::rebuildAnyList()
{
    anyList_.reset(size_t(blockedIndex_.distinctCount() + oldIndex_.distinctCount() + admittedIndex_.distinctCount()));
    for (const FoldedIndex* index : {&blockedIndex_, &oldIndex_, &admittedIndex_})
        index->addHashesTo(anyList_);
}

void CustomerLists::setBlocked(const QByteArray& text)
{
    // every line is an entry, blank lines too
    reserveFor(blocked_, text, lineCountBound(text));
    forEachLine(text, [&](QByteArrayView line) { blocked_.append(bytes::trimmed(line)); });
    blocked_.squeeze();
    blockedIndex_.build(blocked_);
}

void CustomerLists::setChanged(const QByteArray& text)
{
    QByteArray spill;
    const qsizetype lines = lineCountBound(text);
    reserveFor(old_, text, lines);
    reserveFor(new_, text, lines);
    forEachLine(text, [&](QByteArrayView raw) {
        QByteArrayView oldAddress, newAddress;
        if (!cutAtBlank(bytes::trimmed(raw), &oldAddress, &newAddress, spill))
            return;
        old_.append(bytes::trimmed(oldAddress));
        new_.append(bytes::trimmed(newAddress));
    });
    old_.squeeze();
    new_.squeeze();
    oldIndex_.build(old_);
}

void CustomerLists::setAdmitted(const QByteArray& text)
{
    QByteArray spillRest, spillProduct;
    const qsizetype lines = lineCountBound(text);
    for (LineBlock* b : {&admitted_, &orders_, &shops_})
        reserveFor(*b, text, lines);
    forEachLine(text, [&](QByteArrayView raw) {
        QByteArrayView address, rest, order, product;
        if (!cutAtBlank(bytes::trimmed(raw), &address, &rest, spillRest))
            return;
        if (!cutAtBlank(bytes::trimmed(rest), &order, &product, spillProduct))
            return;
        address = bytes::trimmed(address);
        order = bytes::trimmed(order);
        product = bytes::trimmed(product);
        if (address.isEmpty() || order.isEmpty() || product.isEmpty())
            return;
        admitted_.append(address);
        orders_.append(order);
        shops_.append(product);
    });
    for (LineBlock* b : {&admitted_, &orders_, &shops_})
        b->squeeze();
    admittedIndex_.build(admitted_);
}

void CustomerLists::load(const QString& folder)
{
    clear();
    folder_ = folder;
    try {
        readFiles(folder);
    } catch (...) {
        rebuildAnyList(); // for the lists read before the one that failed
        throw;
    }
    rebuildAnyList();
}

void CustomerLists::readFiles(const QString& folder)
{
    const QDir dir(folder);
    using Setter = void (CustomerLists::*)(const QByteArray&);
    const std::pair<QString, Setter> files[] = {
        {blockedFileName(), &CustomerLists::setBlocked},
        {changedFileName(), &CustomerLists::setChanged},
        {admittedFileName(), &CustomerLists::setAdmitted},
    };
    for (const auto& [name, setter] : files) {
        const QString path = dir.filePath(name);
        QByteArray bytes;
        QString reason;
        bool valid = false;
        switch (readRegularFile(path, &bytes, &reason, &valid)) {
        case FileRead::Missing:
            missing_.append(name);
            continue;
        case FileRead::Failed:
            throw ListReadError(QStringLiteral("Unable to read %1: %2").arg(path, reason).toStdString());
        case FileRead::Read:
            break;
        }
        (this->*setter)(toValidUtf8(std::move(bytes), valid));
    }
    QString reason;
    bounced_ = SuppressionList::read(dir.filePath(QLatin1String(bouncedFileName)), &reason);
    if (!reason.isEmpty())
        throw ListReadError(QStringLiteral("Unable to read %1: %2")
                                .arg(dir.filePath(QLatin1String(bouncedFileName)), reason)
                                .toStdString());
}

void CustomerLists::loadTexts(const QString& blocked, const QString& changed, const QString& admitted)
{
    clear();
    setBlocked(blocked.toUtf8());
    setChanged(changed.toUtf8());
    setAdmitted(admitted.toUtf8());
    rebuildAnyList();
}

bool CustomerLists::isBlocked(QStringView address) const
{
    return isBlockedUtf8(QByteArrayView(address.toUtf8()));
}

bool CustomerLists::isBlockedUtf8(QByteArrayView address) const
{
    // Empty entries (blank lines of the file) match no address.
    return !address.isEmpty() && blockedIndex_.contains(address);
}

bool CustomerLists::isBlocked(const FoldedKey& address) const
{
    return !address.text.empty() && blockedIndex_.firstIndexOf(address) >= 0;
}

qsizetype CustomerLists::updateIndexUtf8(QByteArrayView address) const
{
    return address.isEmpty() ? -1 : oldIndex_.firstIndexOf(address);
}

qsizetype CustomerLists::updateIndex(const FoldedKey& address) const
{
    return address.text.empty() ? -1 : oldIndex_.firstIndexOf(address);
}

QString CustomerLists::updatedAddress(QStringView address, bool* updated) const
{
    const qsizetype k = updateIndexUtf8(QByteArrayView(address.toUtf8()));
    if (updated)
        *updated = k >= 0;
    return k >= 0 ? new_.at(k) : address.toString();
}

qsizetype CustomerLists::admittedIndexUtf8(QByteArrayView address) const
{
    return admittedIndex_.firstIndexOf(address);
}

qsizetype CustomerLists::admittedIndex(const FoldedKey& address) const
{
    return admittedIndex_.firstIndexOf(address);
}

QByteArray CustomerLists::upperProduct(QStringView product)
{
    QByteArray upper = product.toUtf8();
    upperInPlace(upper);
    return upper;
}

bool CustomerLists::admitsUpperProduct(qsizetype i, QByteArrayView wanted) const
{
    QByteArray shop = shops_.bytesAt(i).toByteArray();
    upperInPlace(shop);
    return shop == wanted || wanted == "ALL" || shop == "ALL";
}

bool CustomerLists::admitsProduct(qsizetype i, QStringView product) const
{
    return admitsUpperProduct(i, upperProduct(product));
}

} // namespace og
