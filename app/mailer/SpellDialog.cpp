#include "app/mailer/SpellDialog.h"

#include "platform/KeyboardAccess.h"
#include "platform/ScreenFit.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace og {

namespace {
// How much text either side of the word gives enough context without
// flooding the dialog with a long body.
constexpr qsizetype ContextChars = 160;
} // namespace

SpellDialog::SpellDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SpellDialog"));
    setWindowTitle(QStringLiteral("Spell Check"));

    context_ = new QTextEdit(this);
    context_->setObjectName(QStringLiteral("SpellContext"));
    context_->setReadOnly(true);
    changeTo_ = new QLineEdit(this);
    changeTo_->setObjectName(QStringLiteral("SpellChangeTo"));
    suggestions_ = new QListWidget(this);
    suggestions_->setObjectName(QStringLiteral("SpellSuggestions"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Not in dictionary:"), this), 0, 0, 1, 2);
    grid->addWidget(context_, 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Change to:"), this), 2, 0);
    grid->addWidget(changeTo_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Suggestions:"), this), 3, 0, 1, 2);
    grid->addWidget(suggestions_, 4, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    const auto addButton = [&](const char* name, const QString& caption, SpellAnswer::Action action) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QLatin1String(name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, action] { finish(action); });
        buttons->addWidget(button);
        return button;
    };
    // Replace is no default: a Return meant for the text must not change it.
    addButton("SpellReplace", QStringLiteral("&Replace"), SpellAnswer::Action::Replace);
    addButton("SpellReplaceAll", QStringLiteral("Replace &all"), SpellAnswer::Action::ReplaceAll);
    addButton("SpellIgnore", QStringLiteral("&Ignore"), SpellAnswer::Action::Ignore);
    addButton("SpellIgnoreAll", QStringLiteral("I&gnore all"), SpellAnswer::Action::IgnoreAll);
    addButton("SpellCancel", QStringLiteral("Cancel"), SpellAnswer::Action::Cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 5, 1);

    connect(suggestions_, &QListWidget::currentTextChanged, changeTo_, &QLineEdit::setText);
    connect(suggestions_, &QListWidget::itemDoubleClicked, this, [this] { finish(SpellAnswer::Action::Replace); });
    assignShortcuts(this);
    showFocusFrames(this);
    resize(520, 360);
    fitWhenShown(this);
}

void SpellDialog::finish(SpellAnswer::Action action)
{
    action_ = action;
    accept();
}

SpellAnswer SpellDialog::ask(const SpellQuestion& question)
{
    // The context begins and ends at a word's edge, never inside a word.
    const QString& text = question.text;
    qsizetype from = qMax<qsizetype>(0, question.position - ContextChars);
    while (from > 0 && from < question.position && !text[from - 1].isSpace())
        ++from;
    const qsizetype wordEnd = question.position + question.word.size();
    qsizetype to = qMin(text.size(), wordEnd + ContextChars);
    while (to < text.size() && to > wordEnd && !text[to].isSpace())
        --to;
    const QString before = question.text.mid(from, question.position - from);
    const QString after = question.text.mid(wordEnd, to - wordEnd);
    const auto html = [](const QString& text) { return text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")); };
    context_->setHtml(QStringLiteral("<p>%1<b><font color=\"red\">%2</font></b>%3</p>")
                          .arg(html(before), html(question.word), html(after)));

    suggestions_->clear();
    suggestions_->addItems(question.suggestions);
    changeTo_->setText(question.suggestions.isEmpty() ? question.word : question.suggestions.first());
    if (!question.suggestions.isEmpty())
        suggestions_->setCurrentRow(0);
    changeTo_->setFocus();

    action_ = SpellAnswer::Action::Cancel;
    const int result = exec();
    // The next word's question opens where this one was left (the vendor
    // may have moved it off the text), not centred again.
    setAttribute(Qt::WA_Moved);
    if (result != QDialog::Accepted)
        return {SpellAnswer::Action::Cancel, {}};
    return {action_, changeTo_->text()};
}

} // namespace og
