#pragma once
// The names of the files a run writes for one product beside the batch
// file: the address file, the new customers' address file, the change
// report and the account ledger. One rule makes every product name safe.

#include <QString>

namespace og {

// prefix + product + suffix, with "/" and control characters in product
// replaced by "_" and product cut to a length every file system takes.
QString productFileName(const QString& prefix, const QString& product, const QString& suffix);

// "email_" + product + ".txt"
inline QString addressFileName(const QString& product)
{
    return productFileName(QStringLiteral("email_"), product, QStringLiteral(".txt"));
}
// The customers new in a run, in the address file's format.
inline QString newCustomersFileName(const QString& product)
{
    return productFileName(QStringLiteral("email_"), product, QStringLiteral("_new.txt"));
}
// What changed since the last run, for the vendor to read.
inline QString changesFileName(const QString& product)
{
    return productFileName(QStringLiteral("changes_"), product, QStringLiteral(".txt"));
}
// The accounts the batch file made so far.
inline QString ledgerFileName(const QString& product)
{
    return productFileName(QStringLiteral("accounts_"), product, QStringLiteral(".txt"));
}

} // namespace og
