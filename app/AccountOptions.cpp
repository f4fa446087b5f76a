#include "app/AccountOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

namespace og {

AccountOptions::AccountOptions(QWidget* parent)
    : QGroupBox(QStringLiteral(" Accounts "), parent)
{
    setObjectName(QStringLiteral("AccountOptions"));
    PassHash = new QComboBox;
    PassHash->setObjectName(QStringLiteral("PassHash"));
    // the item data is the [options] passhash value
    PassHash->setToolTip(QStringLiteral("Password hash of the account lines"));
    PassHash->addItem(QStringLiteral("Server default"), QString());
    PassHash->addItem(QStringLiteral("bcrypt"), QStringLiteral("bcrypt"));
    HidePasswords = new QCheckBox(QStringLiteral("Keep passwords out of the server's process list"));
    HidePasswords->setObjectName(QStringLiteral("HidePasswords"));
    KeepAccounts = new QComboBox;
    KeepAccounts->setObjectName(QStringLiteral("KeepAccounts"));
    // in the order of MissingAccounts
    KeepAccounts->addItems(
        {QStringLiteral("Ask each time"), QStringLiteral("Keep their accounts"), QStringLiteral("Remove them")});
    KeepAccounts->setToolTip(QStringLiteral("Customers of the last run who are not in this report"));

    // One field a row: the options column stays narrow enough for a small
    // or scaled screen, and the window never scrolls sideways.
    auto* grid = new QGridLayout(this);
    auto* hashLabel = new QLabel(QStringLiteral("Password hash:"));
    hashLabel->setBuddy(PassHash);
    auto* keepLabel = new QLabel(QStringLiteral("Missing customers:"));
    keepLabel->setBuddy(KeepAccounts);
    grid->addWidget(hashLabel, 0, 0);
    grid->addWidget(PassHash, 0, 1);
    grid->addWidget(keepLabel, 1, 0);
    grid->addWidget(KeepAccounts, 1, 1);
    grid->addWidget(HidePasswords, 2, 0, 1, 2);

    connect(PassHash, &QComboBox::currentIndexChanged, this, &AccountOptions::edited);
    connect(HidePasswords, &QCheckBox::toggled, this, &AccountOptions::edited);
    connect(KeepAccounts, &QComboBox::currentIndexChanged, this, &AccountOptions::edited);
}

void AccountOptions::showOptions(const Options& o)
{
    PassHash->setCurrentIndex(o.bcrypt() ? 1 : 0);
    HidePasswords->setChecked(o.hidepasswords);
    KeepAccounts->setCurrentIndex(int(o.keepaccounts));
}

void AccountOptions::readOptions(Options& o) const
{
    o.passhash = PassHash->currentData().toString();
    o.hidepasswords = HidePasswords->isChecked();
    o.keepaccounts = MissingAccounts(KeepAccounts->currentIndex());
}

} // namespace og
