#pragma once
// The vendor's three customer lists and the questions a run asks of them.

#include "common/SuppressionList.h"
#include "orders/FoldedIndex.h"
#include "orders/LineBlock.h"

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
    qsizetype entry; // index into admitted()
};

class CustomerLists {
public:
    static QString blockedFileName() { return QStringLiteral("bozos.txt"); }
    static QString changedFileName() { return QStringLiteral("Address.txt"); }
    static QString admittedFileName() { return QStringLiteral("goodguys.txt"); }

    // Empties all lists, then reads bozos.txt, Address.txt and goodguys.txt
    // from folder, in this order, then bounced.txt (common/SuppressionList.h;
    // none is no note, since the mailbox check makes it). A missing file leaves its lists empty and
    // is named by missingFiles(). A file that cannot be read, is not a
    // regular file or is a link to nothing throws ListReadError; the lists of
    // the files before it stay loaded, those of it and after it stay empty.
    void load(const QString& folder);
    // The addresses mail came back from: named in the change report, so the
    // vendor can look for a new one.
    const SuppressionList& bounced() const { return bounced_; }
    // The file names of the lists the last load() did not find.
    const QStringList& missingFiles() const { return missing_; }
    // The folder of the last load(), as given.
    const QString& folder() const { return folder_; }
    // The same from the files' texts.
    void loadTexts(const QString& blocked, const QString& changed, const QString& admitted);
    void clear();

    // False when no list holds address: one quick test for the many
    // customers that are on no list. True says only "maybe".
    bool mayHold(const FoldedKey& address) const { return anyList_.mayContain(address.hash); }
    // Asks early for what mayHold(address) will read.
    [[gnu::always_inline]] void prefetch(const FoldedKey& address) const { anyList_.prefetch(address.hash); }

    // Letter case is ignored; the address is compared as it stands.
    bool isBlocked(QStringView address) const;
    bool isBlockedUtf8(QByteArrayView address) const;
    bool isBlocked(const FoldedKey& address) const;
    // The new address for an old one (first match), or the address itself.
    QString updatedAddress(QStringView address, bool* updated) const;
    // Index into newAddresses() of the update for address, or -1.
    qsizetype updateIndexUtf8(QByteArrayView address) const;
    qsizetype updateIndex(const FoldedKey& address) const;

    // Extra customers for product, in file order: those whose entry is for
    // product or for "All" (or every entry when product is "All"), leaving
    // out addresses already written. alreadyWritten(QString address) tells
    // whether the run wrote an address.
    template <typename Written>
    QList<ExtraCustomer> extraCustomers(QStringView product, Written alreadyWritten) const
    {
        QList<ExtraCustomer> out;
        const QByteArray wanted = upperProduct(product);
        for (qsizetype i = 0; i < admitted_.size(); ++i) {
            if (!admitsUpperProduct(i, wanted))
                continue;
            const QString address = admitted_.at(i);
            if (alreadyWritten(address))
                continue;
            out.append({address, orders_.at(i), i});
        }
        return out;
    }
    // Whether entry i of goodguys.txt is for product (rules above).
    bool admitsProduct(qsizetype i, QStringView product) const;
    // product with a-z made upper case, for admitsUpperProduct.
    static QByteArray upperProduct(QStringView product);
    bool admitsUpperProduct(qsizetype i, QByteArrayView upper) const;
    // Index of the first goodguys.txt entry with this address, or -1.
    qsizetype admittedIndexUtf8(QByteArrayView address) const;
    // Index of the first goodguys.txt entry with entry i's address.
    qsizetype firstAdmittedLike(qsizetype i) const { return admittedIndex_.firstIndexAt(i); }
    qsizetype admittedIndex(const FoldedKey& address) const;

    // The six lists, as lines (sizes, and the entries for display).
    const LineBlock& blocked() const { return blocked_; }
    const LineBlock& oldAddresses() const { return old_; }
    const LineBlock& newAddresses() const { return new_; }
    const LineBlock& admitted() const { return admitted_; }
    const LineBlock& admittedOrders() const { return orders_; }
    const LineBlock& admittedProducts() const { return shops_; }

private:
    void setBlocked(const QByteArray& text);
    void setChanged(const QByteArray& text);
    void setAdmitted(const QByteArray& text);

    LineBlock blocked_, old_, new_, admitted_, orders_, shops_;
    SuppressionList bounced_;
    QStringList missing_;
    QString folder_;
    // made once all files are read (or one failed)
    void rebuildAnyList();
    void readFiles(const QString& folder);

    FoldedIndex blockedIndex_, oldIndex_, admittedIndex_;
    KeyFilter anyList_;
};

// The letters a to z made upper case, everything else kept: how product names
// of goodguys.txt are compared.
QString upperAsciiLetters(QStringView text);

} // namespace og
