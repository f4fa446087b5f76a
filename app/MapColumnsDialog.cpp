#include "app/MapColumnsDialog.h"

#include "common/ProfileFile.h"
#include "orders/Report.h"
#include "orders/SavedLayouts.h"
#include "platform/KeyboardAccess.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace og {

namespace {

constexpr int kPreviewOrders = 5;

// The fields offered, in the order of the dialog; a whole name or its two
// parts.
constexpr HeaderField kFields[] = {HeaderField::Order, HeaderField::Email, HeaderField::Product, HeaderField::Name,
    HeaderField::FirstName, HeaderField::LastName, HeaderField::Date};

} // namespace

QString MapColumnsDialog::proposedName(const QString& reportFile, const QStringList& columns)
{
    if (const QString base = QFileInfo(reportFile).completeBaseName().trimmed(); !base.isEmpty())
        return base;
    for (const QString& column : columns) {
        if (!column.trimmed().isEmpty() && columns.count(column) == 1)
            return column.trimmed();
    }
    return QStringLiteral("My store");
}

MapColumnsDialog::MapColumnsDialog(
    Platform& platform, const QByteArray& text, const QString& settingsPath, const QString& reportFile, QWidget* parent)
    : QDialog(parent),
      platform_(platform),
      text_(text),
      settingsPath_(settingsPath)
{
    setWindowTitle(QStringLiteral("Map columns"));
    const qsizetype end = text_.indexOf('\n');
    const QByteArrayView header = QByteArrayView(text_).first(end < 0 ? text_.size() : end);
    separator_ = headerSeparator(header);
    columns_ = headerColumns(bytes::trimmed(header), separator_);

    auto* form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    for (const HeaderField field : kFields) {
        auto* box = new QComboBox;
        box->setObjectName(QStringLiteral("field%1").arg(int(field)));
        box->addItem(QStringLiteral("(none)"));
        box->addItems(columns_);
        boxes_[int(field)] = box;
        QString label = headerFieldName(field);
        label[0] = label[0].toUpper();
        form->addRow(label + u':', box);
        connect(box, &QComboBox::currentIndexChanged, this, &MapColumnsDialog::updatePreview);
    }
    NameEdit = new QLineEdit(proposedName(reportFile, columns_));
    NameEdit->setObjectName(QStringLiteral("NameEdit"));
    form->addRow(QStringLiteral("Save as &layout:"), NameEdit);

    Preview = new QTableWidget(0, 5);
    Preview->setHorizontalHeaderLabels({QStringLiteral("Order number"), QStringLiteral("E-mail"),
        QStringLiteral("Product"), QStringLiteral("Name"), QStringLiteral("Date")});
    Preview->horizontalHeader()->setStretchLastSection(true);
    Preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Room for every order the preview shows, its header and a scroll bar,
    // at any scale.
    Preview->setMinimumHeight(Preview->verticalHeader()->defaultSectionSize() * kPreviewOrders +
        Preview->horizontalHeader()->sizeHint().height() + Preview->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
        2 * Preview->frameWidth());
    Problem = new QLabel;
    Problem->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    SaveButton = buttons->addButton(QStringLiteral("Save and read"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &MapColumnsDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(NameEdit, &QLineEdit::textChanged, this, &MapColumnsDialog::updatePreview);

    auto* layout = new QVBoxLayout(this);
    auto* intro =
        new QLabel(QStringLiteral("Choose the column of each field; the first orders are shown as they will be read."));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(Preview, 1);
    layout->addWidget(Problem);
    layout->addWidget(buttons);
    updatePreview();
    assignShortcuts(this);
    showFocusFrames(this);
    fitWhenShown(this);
}

HeaderRowLayout MapColumnsDialog::layout() const
{
    HeaderRowLayout l;
    l.name = NameEdit->text().trimmed();
    l.separator = separator_;
    for (const HeaderField field : kFields) {
        if (const int k = boxes_[int(field)]->currentIndex(); k > 0)
            l[field] = {columns_[k - 1]};
    }
    return l;
}

void MapColumnsDialog::updatePreview()
{
    Report report;
    report.setReading({{}, layout()});
    report.readBytes(text_);
    Preview->setRowCount(0);
    const ReportLayout& r = report.layout();
    QByteArray spill, spill2;
    for (qsizetype i = 0; i < report.lineCount() && Preview->rowCount() < kPreviewOrders; ++i) {
        if (!report.isOrderLine(i))
            continue;
        const QByteArrayView row = report.lineBytes(i), own = report.lineBytes(report.orderFieldsLine(i));
        QByteArrayView first, last;
        r.names(own, spill, spill2, &first, &last);
        const QString name = (QString::fromUtf8(first) + u' ' + QString::fromUtf8(last)).trimmed();
        const QStringList cells = {QString::fromUtf8(r.field(row, r.order, spill)),
            QString::fromUtf8(r.orderAddress(own, spill)), QString::fromUtf8(r.field(row, r.product, spill)), name,
            QString::fromUtf8(r.orderDate(own, spill))};
        const int at = Preview->rowCount();
        Preview->insertRow(at);
        for (int c = 0; c < cells.size(); ++c)
            Preview->setItem(at, c, new QTableWidgetItem(cells[c]));
    }
    const bool readable = Preview->rowCount() > 0;
    // Nothing is wrong before anything is chosen.
    const bool chosen = std::any_of(
        std::begin(kFields), std::end(kFields), [this](HeaderField f) { return boxes_[int(f)]->currentIndex() > 0; });
    Problem->setText(readable || !chosen ? QString()
            : report.headerProblem().isEmpty()
            ? QStringLiteral("No order is read with these columns: choose the order number and the e-mail.")
            : report.headerProblem());
    SaveButton->setEnabled(readable && !NameEdit->text().trimmed().isEmpty());
}

void MapColumnsDialog::save()
{
    const HeaderRowLayout chosen = layout();
    for (const HeaderRowLayout& saved : loadSavedLayouts(settingsPath_)) {
        if (saved.name.compare(chosen.name, Qt::CaseInsensitive) == 0 &&
            !platform_.confirm(this,
                QStringLiteral("A layout named \"%1\" is saved already. Replace it with these columns?\r\r"
                               "No: choose another name.")
                    .arg(saved.name))) {
            NameEdit->setFocus();
            NameEdit->selectAll();
            return;
        }
    }
    try {
        saveLayout(settingsPath_, layout());
    } catch (const ProfileWriteError& e) {
        platform_.showException(this, QString::fromUtf8(e.what()));
        return;
    }
    accept();
}

} // namespace og
