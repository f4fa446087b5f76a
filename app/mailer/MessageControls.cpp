#include "app/mailer/MessageControls.h"

#include "mailer/message/MessageHeaders.h"
#include "platform/ReflowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace og {

MessageControls::MessageControls(QWidget* window)
    : QObject(window)
{
    Format = new QComboBox(window);
    Format->setObjectName(QStringLiteral("Format"));
    Format->addItem(QStringLiteral("Plain text"), int(MessageFormat::Plain));
    Format->addItem(QStringLiteral("Markdown (adds HTML)"), int(MessageFormat::Markdown));
    Format->setToolTip(QStringLiteral(
        "Markdown: **bold**, # headings, [links](https://...) are shown formatted; the text goes along as typed"));
    ReplyTo = new QLineEdit(window);
    ReplyTo->setObjectName(QStringLiteral("ReplyTo"));
    ReplyTo->setToolTip(QStringLiteral("where customers' replies go; empty: to your email address"));
    AutoSubmitted = new QCheckBox(QStringLiteral("Mark as automatic (no vacation replies)"), window);
    AutoSubmitted->setObjectName(QStringLiteral("AutoSubmitted"));
    AutoSubmitted->setToolTip(QStringLiteral("adds \"Auto-Submitted: auto-generated\""));
    Unsubscribe = new QLineEdit(window);
    Unsubscribe->setObjectName(QStringLiteral("Unsubscribe"));
    Unsubscribe->setPlaceholderText(QStringLiteral("mailto:... and/or https://..."));
    Unsubscribe->setToolTip(
        QStringLiteral("for news to past buyers: adds List-Unsubscribe; an https: address also allows one-click"));

    connect(Format, &QComboBox::currentIndexChanged, this, &MessageControls::changed);
    connect(ReplyTo, &QLineEdit::textChanged, this, &MessageControls::changed);
    connect(AutoSubmitted, &QCheckBox::toggled, this, &MessageControls::changed);
    connect(Unsubscribe, &QLineEdit::textChanged, this, &MessageControls::changed);
}

int MessageControls::placeInto(ReflowForm* grid, int row)
{
    QWidget* window = Format->parentWidget();
    grid->addWidget(new QLabel(QStringLiteral("Format:"), window), row, 0);
    grid->addWidget(Format, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Reply to:"), window), row, 2);
    grid->addWidget(ReplyTo, row, 3);
    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Unsubscribe:"), window), row, 0);
    grid->addWidget(Unsubscribe, row, 1, 1, 2);
    grid->addWidget(AutoSubmitted, row, 3);
    return row + 1;
}

void MessageControls::load(const MailerSettings& settings)
{
    if (const int index = Format->findData(int(settings.format)); index != Format->currentIndex())
        Format->setCurrentIndex(index);
    if (ReplyTo->text() != settings.replyTo)
        ReplyTo->setText(settings.replyTo);
    AutoSubmitted->setChecked(settings.autoSubmitted);
    if (Unsubscribe->text() != settings.unsubscribe)
        Unsubscribe->setText(settings.unsubscribe);
}

void MessageControls::apply(MailerSettings& settings) const
{
    settings.format = MessageFormat(Format->currentData().toInt());
    settings.replyTo = ReplyTo->text().trimmed();
    settings.autoSubmitted = AutoSubmitted->isChecked();
    settings.unsubscribe = Unsubscribe->text().trimmed();
}

QWidget* MessageControls::fieldInError() const
{
    MailerSettings replyOnly;
    replyOnly.replyTo = ReplyTo->text().trimmed();
    return checkMessageHeaders(replyOnly).isEmpty() ? static_cast<QWidget*>(Unsubscribe) : ReplyTo;
}

QList<QWidget*> MessageControls::controls() const
{
    return {Format, ReplyTo, Unsubscribe, AutoSubmitted};
}

} // namespace og
