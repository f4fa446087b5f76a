#pragma once
// The vendor's three customer lists and the questions a run asks of them.

#include "orders/FoldedIndex.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace og {

// A list file that exists but could not be read. The message names the file.
class ListReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ExtraCustomer {
    QString address;
    QString orderNumber;
};

class CustomerLists {
public:
    static QString blockedFileName() { return QStringLiteral("bozos.txt"); }
    static QString changedFileName() { return QStringLiteral("Address.txt"); }
    static QString admittedFileName() { return QStringLiteral("goodguys.txt"); }

    // Empties all lists, then reads bozos.txt, Address.txt and goodguys.txt
    // from folder, in this order. A missing file leaves its lists empty. A
    // file that exists but cannot be read throws ListReadError; the lists of
    // the files before it stay loaded, those of it and after it stay empty.
    void load(const QString& folder);
    // The same from texts already in memory (the lists' file contents).
    void loadTexts(const QString& blocked, const QString& changed, const QString& admitted);
    void clear();

    // Letter case is ignored; the address is compared as it stands.
    bool isBlocked(QStringView address) const;
    bool isBlockedUtf8(QByteArrayView address) const;
    // The new address for an old one (first match), or the address itself.
    QString updatedAddress(QStringView address, bool* updated) const;
    // Index into newAddresses() of the update for address, or -1.
    qsizetype updateIndexUtf8(QByteArrayView address) const;

    // Extra customers for product, in file order: those whose entry is for
    // product or for "All" (or every entry when product is "All"), leaving
    // out addresses already written. alreadyWritten answers for an address
    // whether the run wrote it.
    template <typename Written>
    QList<ExtraCustomer> extraCustomers(QStringView product, Written alreadyWritten) const
    {
        QList<ExtraCustomer> out;
        for (qsizetype i = 0; i < admitted_.size(); ++i) {
            if (!admitsProduct(i, product))
                continue;
            if (alreadyWritten(admitted_[i]))
                continue;
            out.append({admitted_[i], orders_[i]});
        }
        return out;
    }
    // Whether entry i of goodguys.txt is for product (rules above).
    bool admitsProduct(qsizetype i, QStringView product) const;
    // Index of the first goodguys.txt entry with this address, or -1.
    qsizetype admittedIndexUtf8(QByteArrayView address) const;

    const QStringList& blocked() const { return blocked_; }
    const QStringList& oldAddresses() const { return old_; }
    const QStringList& newAddresses() const { return new_; }
    const QStringList& admitted() const { return admitted_; }
    const QStringList& admittedOrders() const { return orders_; }
    const QStringList& admittedProducts() const { return shops_; }

private:
    void setBlocked(const QStringList& lines);
    void setChanged(const QStringList& lines);
    void setAdmitted(const QStringList& lines);

    QStringList blocked_, old_, new_, admitted_, orders_, shops_;
    FoldedIndex blockedIndex_, oldIndex_, admittedIndex_;
};

// The letters a to z made upper case, everything else kept: how product names
// of goodguys.txt are compared.
QString upperAsciiLetters(QStringView text);

}  // namespace og
