#pragma once
// "Map columns…": for a report whose header row no layout knows (or on
// request), one choice per field among the header's columns, a preview of
// the first orders as they will be read, and the mapping saved as a layout
// under a name ([layout NAME] in the settings file).

#include "orders/StoreLayouts.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace og {

class Platform;

class MapColumnsDialog : public QDialog {
    Q_OBJECT
public:
    // text: the start of the report, its header row first; reportFile: the
    // file it was read from (empty: the clipboard), which names the layout
    // proposed.
    MapColumnsDialog(Platform& platform, const QByteArray& text, const QString& settingsPath,
        const QString& reportFile = {}, QWidget* parent = nullptr);

    // The name first proposed: the report file's name, else the header's
    // first column that no other repeats.
    static QString proposedName(const QString& reportFile, const QStringList& columns);

    // The layout as chosen now.
    HeaderRowLayout layout() const;
    // Shown again after every choice.
    void updatePreview();
    // Saves the layout and closes the dialog; replacing a saved layout of
    // the same name is asked first. A failed write is shown and the dialog
    // stays.
    void save();

    // The choice for a field; its first entry is "(none)".
    QComboBox* fieldBox(HeaderField field) const { return boxes_[int(field)]; }
    QLineEdit* NameEdit;
    QTableWidget* Preview;
    QLabel* Problem;
    QPushButton* SaveButton;

private:
    Platform& platform_;
    QByteArray text_;
    QString settingsPath_;
    QStringList columns_;
    char separator_;
    QComboBox* boxes_[int(HeaderField::Count)] {};
};

} // namespace og
