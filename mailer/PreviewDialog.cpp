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
    const QString first = source_(0, &addresses_);
    display(0, first);
}

void PreviewDialog::showCustomer(int index)
{
    index = std::clamp(index, 0, std::max(int(addresses_.size()) - 1, 0));
    try {
        display(index, source_(index, nullptr));
    } catch (const std::exception& error) {
        display(index, QString::fromUtf8(error.what()));
    }
}

void PreviewDialog::display(int index, const QString& text)
{
    const int count = int(addresses_.size());
    index_ = index;
    view_->setPlainText(text);
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
