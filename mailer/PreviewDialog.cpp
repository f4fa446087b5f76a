#include "mailer/PreviewDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace og {

PreviewDialog::PreviewDialog(QWidget* parent, const QFont& font)
    : QDialog(parent),
      view_(new QPlainTextEdit(this)),
      where_(new QLabel(this)),
      address_(new QLineEdit(this)),
      previous_(new QPushButton(QStringLiteral("Previous"), this)),
      next_(new QPushButton(QStringLiteral("Next"), this))
{
    setObjectName(QStringLiteral("PreviewDialog"));
    setWindowTitle(QStringLiteral("Preview: each customer's message"));
    view_->setObjectName(QStringLiteral("PreviewText"));
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(font);
    where_->setObjectName(QStringLiteral("PreviewWhere"));
    address_->setObjectName(QStringLiteral("PreviewAddress"));
    address_->setPlaceholderText(QStringLiteral("Show the customer with this address"));
    previous_->setObjectName(QStringLiteral("PreviewPrevious"));
    next_->setObjectName(QStringLiteral("PreviewNext"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(previous_, &QPushButton::clicked, this, [this] { showCustomer(index_ - 1); });
    connect(next_, &QPushButton::clicked, this, [this] { showCustomer(index_ + 1); });
    connect(address_, &QLineEdit::returnPressed, this, [this] {
        if (!showAddress(address_->text()))
            where_->setText(QStringLiteral("No customer %1 in the address file").arg(address_->text().trimmed()));
    });
    auto* steps = new QHBoxLayout;
    steps->addWidget(previous_);
    steps->addWidget(next_);
    steps->addWidget(where_, 1);
    steps->addWidget(address_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(steps);
    layout->addWidget(view_);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(640, 480);
}

void PreviewDialog::start(Source source)
{
    source_ = std::move(source);
    index_ = 0;
    view_->setPlainText(source_(0, &addresses_));
    showCustomer(0);
}

void PreviewDialog::showCustomer(int index)
{
    const int count = int(addresses_.size());
    index_ = std::clamp(index, 0, std::max(count - 1, 0));
    try {
        view_->setPlainText(source_(index_, nullptr));
    } catch (const std::exception& error) {
        view_->setPlainText(QString::fromUtf8(error.what()));
    }
    where_->setText(count ? QStringLiteral("Customer %1 of %2: %3").arg(index_ + 1).arg(count).arg(addresses_[index_])
                          : QStringLiteral("No customers: the copy to the sender"));
    previous_->setEnabled(index_ > 0);
    next_->setEnabled(index_ + 1 < count);
}

bool PreviewDialog::showAddress(const QString& address)
{
    for (int i = 0; i < addresses_.size(); ++i)
        if (addresses_[i].compare(address.trimmed(), Qt::CaseInsensitive) == 0) {
            showCustomer(i);
            return true;
        }
    return false;
}

} // namespace og
