#include "app/mailer/PreviewDialog.h"

#include "platform/Contrast.h"
#include "platform/KeyboardAccess.h"
#include "platform/ScreenFit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace og {

ClosedTextBrowser::ClosedTextBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant ClosedTextBrowser::loadResource(int, const QUrl&)
{
    return {};
}

PreviewDialog::PreviewDialog(QWidget* parent, const QFont& font)
    : QDialog(parent),
      tabs_(new QTabWidget(this)),
      view_(new QPlainTextEdit(this)),
      html_(new ClosedTextBrowser(this)),
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
    html_->setObjectName(QStringLiteral("PreviewHtml"));
    tabs_->addTab(html_, QStringLiteral("As customers see it"));
    tabs_->addTab(view_, QStringLiteral("Message and text"));
    where_->setObjectName(QStringLiteral("PreviewWhere"));
    where_->setWordWrap(true); // a long address wraps rather than widening the window
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
    layout->addWidget(tabs_);
    layout->addWidget(close, 0, Qt::AlignRight);
    // Return in the address box shows that customer and nothing else: no
    // button may take it as the default one's.
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    assignShortcuts(this);
    showFocusFrames(this);
    resize(640, 480);
    fitWhenShown(this);
}

void PreviewDialog::start(Source source)
{
    source_ = std::move(source);
    QString html;
    const QString first = source_(0, &addresses_, &html);
    display(0, first, html);
}

void PreviewDialog::showCustomer(int index)
{
    index = std::clamp(index, 0, std::max(int(addresses_.size()) - 1, 0));
    try {
        QString html;
        const QString text = source_(index, nullptr, &html);
        display(index, text, html);
    } catch (const std::exception& error) {
        display(index, QString::fromUtf8(error.what()), QString());
    }
}

void PreviewDialog::display(int index, const QString& text, const QString& html)
{
    const int count = int(addresses_.size());
    index_ = index;
    view_->setPlainText(text);
    html_->document()->setDefaultStyleSheet(
        QStringLiteral("a { color: %1; }").arg(readableLinkColour(html_->palette()).name()));
    html_->setHtml(html);
    tabs_->setTabVisible(tabs_->indexOf(html_), !html.isEmpty());
    if (html.isEmpty())
        tabs_->setCurrentWidget(view_);
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

QColor readableLinkColour(const QPalette& palette)
{
    return readableOn(palette.color(QPalette::Link), palette.color(QPalette::Base));
}

} // namespace og
