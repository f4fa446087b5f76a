#include "orders/CustomerLists.h"

#include "orders/ReportFields.h"
#include "orders/TextFiles.h"

#include <QDir>

namespace og {

namespace {

// Parts after a cut keep at most this many characters.
constexpr qsizetype kPartLimit = 999;

// Cuts text at its first blank: the part before, and at most kPartLimit
// characters after it. False when there is no blank.
bool cutAtBlank(QStringView text, QStringView* before, QStringView* after)
{
    const qsizetype blank = text.indexOf(u' ');
    if (blank < 0)
        return false;
    *before = text.first(blank);
    QStringView rest = text.sliced(blank + 1);
    *after = rest.first(std::min(rest.size(), kPartLimit));
    return true;
}

}  // namespace

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
    blocked_.clear();
    old_.clear();
    new_.clear();
    admitted_.clear();
    orders_.clear();
    shops_.clear();
    blockedIndex_.clear();
    oldIndex_.clear();
    admittedIndex_.clear();
}

void CustomerLists::setBlocked(const QStringList& lines)
{
    for (const QString& line : lines)
        blocked_.append(trimmed(line));
    blockedIndex_.build(blocked_);
}

void CustomerLists::setChanged(const QStringList& lines)
{
    for (const QString& raw : lines) {
        const QString line = trimmed(raw);
        QStringView oldAddress, newAddress;
        if (!cutAtBlank(line, &oldAddress, &newAddress))
            continue;
        old_.append(trimmed(oldAddress));
        new_.append(trimmed(newAddress));
    }
    oldIndex_.build(old_);
}

void CustomerLists::setAdmitted(const QStringList& lines)
{
    for (const QString& raw : lines) {
        const QString line = trimmed(raw);
        QStringView address, rest, order, product;
        if (!cutAtBlank(line, &address, &rest))
            continue;
        const QString restTrimmed = trimmed(rest);
        if (!cutAtBlank(restTrimmed, &order, &product))
            continue;
        const QString a = trimmed(address), o = trimmed(order), p = trimmed(product);
        if (a.isEmpty() || o.isEmpty() || p.isEmpty())
            continue;
        admitted_.append(a);
        orders_.append(o);
        shops_.append(p);
    }
    admittedIndex_.build(admitted_);
}

void CustomerLists::load(const QString& folder)
{
    clear();
    const QDir dir(folder);
    using Setter = void (CustomerLists::*)(const QStringList&);
    const std::pair<QString, Setter> files[] = {
        {blockedFileName(), &CustomerLists::setBlocked},
        {changedFileName(), &CustomerLists::setChanged},
        {admittedFileName(), &CustomerLists::setAdmitted},
    };
    for (const auto& [name, setter] : files) {
        const QString path = dir.filePath(name);
        QStringList lines;
        bool exists = false;
        QString reason;
        if (!readListFile(path, &lines, &exists, &reason))
            throw ListReadError(QStringLiteral("Unable to read %1: %2").arg(path, reason).toStdString());
        (this->*setter)(lines);
    }
}

void CustomerLists::loadTexts(const QString& blocked, const QString& changed, const QString& admitted)
{
    clear();
    setBlocked(splitListLines(blocked));
    setChanged(splitListLines(changed));
    setAdmitted(splitListLines(admitted));
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

qsizetype CustomerLists::updateIndexUtf8(QByteArrayView address) const
{
    if (address.isEmpty())
        return -1;
    return oldIndex_.firstIndexOf(address);
}

QString CustomerLists::updatedAddress(QStringView address, bool* updated) const
{
    const qsizetype k = updateIndexUtf8(QByteArrayView(address.toUtf8()));
    if (updated)
        *updated = k >= 0;
    return k >= 0 ? new_[k] : address.toString();
}

qsizetype CustomerLists::admittedIndexUtf8(QByteArrayView address) const
{
    return admittedIndex_.firstIndexOf(address);
}

bool CustomerLists::admitsProduct(qsizetype i, QStringView product) const
{
    static const QString all = QStringLiteral("ALL");
    const QString wanted = upperAsciiLetters(product);
    const QString shop = upperAsciiLetters(shops_[i]);
    return shop == wanted || wanted == all || shop == all;
}

}  // namespace og
