#include "mailer/PreviewDialog.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

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

PreviewDialog::PreviewDialog(const QFont& textFont, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PreviewDialog"));
    setWindowTitle(QStringLiteral("Preview: the first customer's message"));
    html_ = new ClosedTextBrowser(this);
    html_->setObjectName(QStringLiteral("PreviewHtml"));
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("PreviewText"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(textFont);
    tabs_ = new QTabWidget(this);
    tabs_->addTab(html_, QStringLiteral("As customers see it"));
    tabs_->addTab(text_, QStringLiteral("Message and text"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(640, 480);
}

void PreviewDialog::showMessage(const QString& message, const QString& html)
{
    text_->setPlainText(message);
    html_->setHtml(html);
    tabs_->setTabVisible(tabs_->indexOf(html_), !html.isEmpty());
    tabs_->setCurrentWidget(html.isEmpty() ? static_cast<QWidget*>(text_) : html_);
    QDialog::show();
    raise();
}

} // namespace og
