#pragma once
// The main window's account options: the password hash of the batch file's
// lines, keeping passwords out of the server's process list, and what
// becomes of earlier customers the report no longer holds.

#include "orders/Options.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;

namespace og {

class AccountOptions : public QGroupBox {
    Q_OBJECT
public:
    explicit AccountOptions(QWidget* parent = nullptr);

    // Only the account keys of o are read or set.
    void showOptions(const Options& o);
    void readOptions(Options& o) const;

    QComboBox* PassHash;
    QCheckBox* HidePasswords;
    QComboBox* KeepAccounts;

signals:
    void edited();
};

} // namespace og
