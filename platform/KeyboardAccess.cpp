#include "platform/KeyboardAccess.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QBoxLayout>
#include <QFocusFrame>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QSet>
#include <QVariant>

#include <algorithm>
#include <functional>

namespace og {

namespace {

const char* const LetterProperty = "ogShortcutLetter";

bool takesFocus(const QWidget* widget)
{
    return widget && (widget->focusPolicy() & Qt::TabFocus) && !qobject_cast<const QLabel*>(widget);
}

// The first control that takes focus in a layout item (a nested layout
// gives its first).
QWidget* controlIn(QLayoutItem* item)
{
    if (!item)
        return nullptr;
    if (QWidget* widget = item->widget())
        return takesFocus(widget) ? widget : nullptr;
    if (QLayout* layout = item->layout()) {
        for (int i = 0; i < layout->count(); ++i) {
            if (QWidget* found = controlIn(layout->itemAt(i)))
                return found;
        }
    }
    return nullptr;
}

// The control a label stands beside: to its right in a grid (below it when
// it spans the row), its field in a form, the next item in a box.
QWidget* neighbourOf(QLabel* label, QLayout* layout)
{
    const int index = layout->indexOf(label);
    if (index < 0)
        return nullptr;
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(index, &row, &column, &rows, &columns);
        for (int c = column + columns; c < grid->columnCount(); ++c) {
            if (QWidget* found = controlIn(grid->itemAtPosition(row, c)))
                return found;
        }
        return controlIn(grid->itemAtPosition(row + rows, column));
    }
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        int row = 0;
        QFormLayout::ItemRole role {};
        form->getItemPosition(index, &row, &role);
        return role == QFormLayout::LabelRole ? controlIn(form->itemAt(row, QFormLayout::FieldRole)) : nullptr;
    }
    return controlIn(layout->itemAt(index + 1));
}

// A label beside a field stands for it; one beside a button (which has
// its own letter) or a status text stands for nothing.
void findBuddy(QWidget* window, QLabel* label)
{
    if (label->buddy() || label->text().isEmpty() || label->wordWrap())
        return;
    for (QLayout* layout : window->findChildren<QLayout*>()) {
        if (layout->indexOf(label) < 0)
            continue;
        QWidget* buddy = neighbourOf(label, layout);
        if (buddy && !qobject_cast<QAbstractButton*>(buddy))
            label->setBuddy(buddy);
        return;
    }
}

QString textOf(QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return {};
}

void setTextOf(QWidget* widget, const QString& text)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
}

// Where a free letter is in text: a word's first letter before any other.
qsizetype freeLetter(const QString& text, const QSet<char16_t>& used)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            const bool wordStart = i == 0 || !text[i - 1].isLetterOrNumber();
            if (c.unicode() < 128 && c.isLetterOrNumber() && (pass == 1 || wordStart) &&
                !used.contains(c.toLower().unicode()))
                return i;
        }
    }
    return -1;
}

} // namespace

char16_t shortcutLetter(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toLower().unicode();
        ++i; // "&&" is an ampersand
    }
    return 0;
}

void assignShortcuts(QWidget* window)
{
    QList<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        // A window of its own (a dialog the window owns) has its own letters.
        if (widget->window() != window)
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            findBuddy(window, label);
            if (label->buddy() && label->textFormat() != Qt::RichText)
                controls << label;
        } else if (qobject_cast<QAbstractButton*>(widget) && !textOf(widget).isEmpty() &&
            widget->focusPolicy() != Qt::NoFocus) {
            controls << widget;
        }
    }
    // What is shown now comes first, then what the window puts last (the
    // property of ShortcutLast, on the control or a label's field): where the letters do not go round, those go
    // without.
    const auto last = [](QWidget* c) {
        const auto* label = qobject_cast<QLabel*>(c);
        return c->property(ShortcutLast).toBool() || (label && label->buddy()->property(ShortcutLast).toBool());
    };
    const auto rank = [&](QWidget* c) { return (c->isVisibleTo(window) ? 0 : 2) + (last(c) ? 1 : 0); };
    std::stable_sort(controls.begin(), controls.end(), [&](QWidget* a, QWidget* b) { return rank(a) < rank(b); });
    // Letters already written stay; the others are matched to the free
    // letters of their texts so that as many get one as can, earlier ones
    // first (a matching by augmenting paths: a control once matched stays
    // matched, perhaps to another of its letters).
    QHash<char16_t, int> owner;
    QList<QList<char16_t>> choices(controls.size());
    for (int i = 0; i < controls.size(); ++i) {
        const QString text = textOf(controls[i]);
        if (const char16_t letter = shortcutLetter(text)) {
            owner.insert(letter, -1);
            continue;
        }
        const QChar kept = controls[i]->property(LetterProperty).toChar();
        if (!kept.isNull() && text.contains(kept, Qt::CaseInsensitive))
            choices[i] << kept.unicode();
        for (qsizetype at = 0; at >= 0 && at < text.size();) {
            at = freeLetter(text, {choices[i].begin(), choices[i].end()});
            if (at >= 0)
                choices[i] << text[at].toLower().unicode();
        }
    }
    QList<char16_t> matched(controls.size(), 0);
    std::function<bool(int, QSet<char16_t>&)> place = [&](int i, QSet<char16_t>& seen) {
        for (const char16_t letter : choices[i]) {
            if (seen.contains(letter))
                continue;
            seen.insert(letter);
            const int other = owner.value(letter, -2);
            if (other == -1)
                continue; // written into a text
            if (other == -2 || place(other, seen)) {
                owner.insert(letter, i);
                matched[i] = letter;
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < controls.size(); ++i) {
        QSet<char16_t> seen;
        if (!choices[i].isEmpty())
            place(i, seen);
    }
    for (int i = 0; i < controls.size(); ++i) {
        if (!matched[i])
            continue;
        QString text = textOf(controls[i]);
        // The letter at a word's start where the text has one there.
        qsizetype at = -1;
        for (qsizetype k = 0; k < text.size(); ++k) {
            if (text[k].toLower().unicode() != matched[i])
                continue;
            if (at < 0)
                at = k;
            if (k == 0 || !text[k - 1].isLetterOrNumber()) {
                at = k;
                break;
            }
        }
        controls[i]->setProperty(LetterProperty, QChar(matched[i]));
        text.insert(at, u'&');
        setTextOf(controls[i], text);
    }
}

void showFocusFrames(QWidget* window)
{
    auto* frame = new QFocusFrame(window);
    frame->setObjectName(QStringLiteral("FocusFrame"));
    QPointer<QFocusFrame> guard(frame);
    QObject::connect(qApp, &QApplication::focusChanged, frame, [guard, window](QWidget*, QWidget* now) {
        if (!guard)
            return;
        const bool framed = now && now->window() == window && qobject_cast<QAbstractScrollArea*>(now) &&
            !qobject_cast<QScrollArea*>(now);
        guard->setWidget(framed ? now : nullptr);
    });
}

} // namespace og
