#pragma once

#include "platform/VSSpell.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QTextEdit;

namespace og {

// The spelling dialog: shows the unknown word in its context with the
// dictionary's suggestions and lets the vendor replace or ignore it, once or
// everywhere, or cancel the check.
class SpellDialog : public QDialog, public SpellDialogue {
    Q_OBJECT
public:
    explicit SpellDialog(QWidget* parent = nullptr);

    SpellAnswer ask(const SpellQuestion& question) override;

private:
    void finish(SpellAnswer::Action action);

    QTextEdit* context_;
    QLineEdit* changeTo_;
    QListWidget* suggestions_;
    SpellAnswer::Action action_ = SpellAnswer::Action::Cancel;
};

} // namespace og
