#include "app/HeraldF.h"

#include "app/LineListModel.h"
#include "app/MakeKshF.h"
#include "app/PublishDialog.h"
#include "app/mailer/EmailForm.h"
#include "common/Trim.h"
#include "platform/Contrast.h"
#include "platform/KeyboardAccess.h"
#include "platform/NamedWidget.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"
#include "platform/Version.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace og {

namespace {

// A one-column table rather than a list view: a list view lays out every row
// whenever its model is reset (a noticeable pause with a million lines), while
// a table with fixed row heights and no headers only places what it paints.
QTableView* lineView(const char* name, LineListModel* model, const QFont& font)
{
    auto* view = named(new QTableView, name);
    view->setModel(model);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideNone);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the view (a table's Tab would only move the highlight).
    view->setTabKeyNavigation(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setFont(font);
    // Every row is as high and as wide as the model says one row is, so the
    // widest line is never cut off.
    auto fitRows = [view, model] {
        const QSize row = model->rowSize();
        if (row.height() > 0)
            view->verticalHeader()->setDefaultSectionSize(row.height());
        if (row.width() > 0)
            view->horizontalHeader()->setDefaultSectionSize(row.width());
    };
    QObject::connect(model, &QAbstractItemModel::modelReset, view, fitRows);
    fitRows();
    return view;
}

// The statistics are blue; on a background where blue is hard to read (a
// dark palette) the blue is lightened, or darkened, until it reads.
QColor statisticsColour(const QColor& background)
{
    return readableOn(QColor(Qt::blue), background);
}

} // namespace

THerald::THerald(Platform& platform, TForm1& form1, QWidget* parent)
    : QDialog(parent),
      platform_(platform),
      form1_(form1)
{
    setObjectName(QStringLiteral("Herald"));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    scriptModel_ = new LineListModel(this);
    addressModel_ = new LineListModel(this);
    scriptModel_->setFont(fixed);
    addressModel_->setFont(fixed);

    Results = named(new QFrame, "Results");
    Results->setFrameShape(QFrame::StyledPanel);
    Label2 = named(new QLabel(QStringLiteral("ksh batch file  MakePass.ksh")), "Label2");
    Memo1 = lineView("Memo1", scriptModel_, fixed);
    Label1 = named(new QLabel(QStringLiteral("e-mail list: email.txt")), "Label1");
    emailBox = lineView("emailBox", addressModel_, fixed);
    Label3 = named(new QLabel(QStringLiteral("run statistics:")), "Label3");
    RichEdit1 = named(new QTextEdit, "RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The seven statistics lines where there is room, half of them on a
    // short screen (the view scrolls).
    RichEdit1->setMinimumHeight(RichEdit1->fontMetrics().lineSpacing() * 4 + 12);
    RichEdit1->setMaximumHeight(RichEdit1->fontMetrics().lineSpacing() * 8 + 12);
    RunNotes = named(new QPlainTextEdit, "RunNotes");
    RunNotes->setReadOnly(true);
    RunNotes->setLineWrapMode(QPlainTextEdit::NoWrap);
    RunNotes->setMinimumHeight(RunNotes->fontMetrics().lineSpacing() * 2 + 12);
    RunNotes->setMaximumHeight(RunNotes->fontMetrics().lineSpacing() * 4 + 12);
    RunNotes->setVisible(false);
    RunProgress = named(new QProgressBar, "RunProgress");
    RunProgress->setRange(0, 0); // busy, without a known end
    RunProgress->setTextVisible(false);
    RunProgress->setVisible(false);
    BitBtn2 = named(new QPushButton(QStringLiteral("Prepare notification message")), "BitBtn2");
    BitBtn2->setToolTip(QStringLiteral("Create and send message to customers"));
    OpenFolder = named(
        new QPushButton(style()->standardIcon(QStyle::SP_DirOpenIcon), QStringLiteral("Open folder")), "OpenFolder");
    OpenFolder->setToolTip(QStringLiteral("Open the folder of MakePass.ksh and the address file"));
    OpenFolder->setAutoDefault(false);
    PublishButton = named(new QPushButton(QStringLiteral("Publish to server…")), "Publish");
    PublishButton->setToolTip(QStringLiteral("Bring these accounts to the web server's .htpasswd over SSH"));
    PublishButton->setAutoDefault(false);
    PublishButton->setEnabled(false);
    BitBtn3 =
        named(new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Help")), "BitBtn3");
    BitBtn1 =
        named(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close")), "BitBtn1");
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);
    BitBtn3->setAutoDefault(false);
    Label2->setBuddy(Memo1);
    Label1->setBuddy(emailBox);
    Label3->setBuddy(RichEdit1);

    layOut();

    connect(BitBtn2, &QPushButton::clicked, this, &THerald::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &THerald::BitBtn3Click);
    connect(PublishButton, &QPushButton::clicked, this, &THerald::PublishClick);
    connect(OpenFolder, &QPushButton::clicked, this, [this] { platform_.openFileOrSay(this, form1_.programFolder()); });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    connect(&watcher_, &QFutureWatcher<Outcome>::finished, this, &THerald::finishRun);
    connect(&listsWatcher_, &QFutureWatcher<void>::finished, this, &THerald::collectLists);

    FormCreate();
    assignShortcuts(this);
    showFocusFrames(this);
}

// On a small screen the lists and views shrink, each scrolling on its own
// (no scroll area around them); the buttons stay in view.
void THerald::layOut()
{
    auto* panel = new QVBoxLayout(Results);
    panel->addWidget(Label2);
    panel->addWidget(Memo1, 3);
    panel->addWidget(Label1);
    panel->addWidget(emailBox, 2);
    panel->addWidget(Label3);
    panel->addWidget(RichEdit1, 2);
    panel->addWidget(RunNotes, 1);
    panel->addWidget(RunProgress);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn2);
    buttons->addWidget(OpenFolder);
    buttons->addWidget(PublishButton);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn1);

    auto* top = new QVBoxLayout(this);
    top->addWidget(Results, 1);
    top->addLayout(buttons);
    resize(760, 700);
}

THerald::~THerald()
{
    // The workers read the report and the lists; never leave them running.
    watcher_.waitForFinished();
}

void THerald::FormCreate()
{
    setWindowTitle(u' ' + VersionString(QStringLiteral("ProductName")) + QLatin1String(" - Results"));
    // A big shop's lists hold hundreds of thousands of entries: they are read
    // beside the rest of the start-up (the main window appearing, the report
    // being read), from the main window's lists folder. Whatever needs them
    // first, the first run or the load's end, collects them and shows a
    // failure in the standard error box; the program goes on either way.
    setListsFolder(form1_.listsFolder());
}

void THerald::setListsFolder(const QString& folder)
{
    if (listLoad_ && listLoad_->folder() == folder)
        return;
    listsWatcher_.setFuture(QFuture<void>());
    listLoad_ = std::make_unique<ListLoad>(folder);
    listsCollected_ = false;
    listsWatcher_.setFuture(listLoad_->future());
}

void THerald::collectLists()
{
    if (listsCollected_)
        return;
    listsCollected_ = true;
    const QString error = listLoad_->wait();
    if (!error.isEmpty())
        platform_.showException(this, error);
}

const CustomerLists& THerald::lists()
{
    collectLists();
    return listLoad_->lists();
}

const LineBlock& THerald::scriptLines() const
{
    return scriptModel_->lines();
}
const LineBlock& THerald::addressLines() const
{
    return addressModel_->lines();
}

void THerald::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!activatedThisShowing_) {
        fitIntoScreen(this);
        activatedThisShowing_ = true;
        // Queued, so the window is on screen (with its busy bar) first.
        QMetaObject::invokeMethod(this, &THerald::FormActivate, Qt::QueuedConnection);
    }
}

void THerald::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // A minimised window is hidden too, without being closed.
    if (!isMinimized() && !running_)
        activatedThisShowing_ = false;
}

void THerald::FormActivate()
{
    if (running_)
        return;
    collectLists();
    RunRequest request;
    request.report = &form1_.report();
    QListWidget* products = form1_.StoreBox;
    request.allProducts = products->count() > 0 && products->item(0)->isSelected();
    const QList<QListWidgetItem*> selected = products->selectedItems();
    const QString itemText = selected.isEmpty() ? form1_.SelectedProduct : selected.first()->text();
    request.selectedProduct = trimmed(itemText);
    form1_.SelectedProduct = request.selectedProduct;
    request.options = form1_.options();
    request.lists = &listLoad_->lists();
    request.folder = form1_.programFolder();
    Label1->setText(QLatin1String("e-mail list: ") + addressFileName(request.selectedProduct));
    assignShortcuts(this); // the label's letter again
    startRun(request);
}

void THerald::startRun(const RunRequest& request)
{
    request_ = request;
    wholeFile_.clear();
    PublishButton->setEnabled(false);
    scriptModel_->clear();
    addressModel_->clear();
    running_ = true;
    RunProgress->setVisible(true);
    BitBtn2->setEnabled(false);

    watcher_.setFuture(QtConcurrent::run([request]() {
        Outcome outcome;
        try {
            outcome.result = performRun(request);
        } catch (const std::exception& e) {
            outcome.error = QString::fromUtf8(e.what());
        }
        return outcome;
    }));
}

void THerald::finishRun()
{
    if (!running_)
        return;
    running_ = false;
    RunProgress->setVisible(false);
    BitBtn2->setEnabled(true);
    // Taken, not copied: the lines of a large run are a few hundred MB.
    QFuture<Outcome> future = watcher_.future();
    Outcome outcome = future.takeResult();
    watcher_.setFuture(QFuture<Outcome>());
    if (!outcome.error.isEmpty()) {
        platform_.showException(this, outcome.error);
        emit runFinished(false);
        return;
    }
    if (outcome.result.decisionNeeded) {
        if (!askAboutMissing(outcome.result.keepable))
            emit runFinished(false);
        return;
    }
    wholeFile_ = request_.folder + addressFileName(outcome.result.product);
    newFile_ = request_.folder + newCustomersFileName(outcome.result.product);
    product_ = outcome.result.product;
    PublishButton->setEnabled(true);
    newCustomers_ = outcome.result.newAddressLines().size();
    customers_ = outcome.result.addresses.size();
    scriptModel_->setLines(std::move(outcome.result.script));
    addressModel_->setLines(std::move(outcome.result.addresses));
    // Appended, in blue: each showing adds its seven lines below the last.
    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat blue;
    blue.setForeground(statisticsColour(RichEdit1->palette().color(QPalette::Base)));
    for (const QString& line : std::as_const(outcome.result.statistics)) {
        if (!RichEdit1->document()->isEmpty())
            cursor.insertBlock();
        cursor.insertText(line, blue);
    }
    RichEdit1->setTextCursor(cursor);
    const QStringList notes = outcome.result.notes + outcome.result.changes;
    RunNotes->setPlainText(notes.join(u'\n'));
    RunNotes->setVisible(!notes.isEmpty());
    emit runFinished(true);
}

void THerald::done(int result)
{
    // Closing while the run works waits for it, so its outcome (or error)
    // is not lost and nothing it reads goes away under it.
    // An answer about earlier customers starts the run again.
    while (running_) {
        watcher_.waitForFinished();
        finishRun();
    }
    QDialog::done(result);
}

bool THerald::askAboutMissing(qsizetype keepable)
{
    const Platform::Answer answer = platform_.choose(this,
        QStringLiteral("%1 customers of the last run are not in this report and will lose access.").arg(keepable),
        QStringLiteral("Keep their accounts"), QStringLiteral("Remove them"));
    if (answer == Platform::Answer::Cancel) {
        RunNotes->setPlainText(QStringLiteral("Cancelled: no file was written."));
        RunNotes->setVisible(true);
        return false;
    }
    RunRequest again = request_;
    again.options.keepaccounts = answer == Platform::Answer::Yes ? MissingAccounts::Keep : MissingAccounts::Drop;
    startRun(again);
    return true;
}

QString THerald::notificationFile()
{
    // Everyone is new on a first run: nothing to choose.
    if (newCustomers_ == 0 || newCustomers_ == customers_)
        return wholeFile_;
    const Platform::Answer answer = platform_.choose(this,
        QStringLiteral("%1 of the %2 customers are new in this run (%3). Notify only the new customers?")
            .arg(newCustomers_)
            .arg(customers_)
            .arg(QFileInfo(newFile_).fileName()),
        QStringLiteral("New customers only"), QStringLiteral("Everyone"));
    return answer == Platform::Answer::Cancel ? QString() : answer == Platform::Answer::Yes ? newFile_ : wholeFile_;
}

void THerald::BitBtn2Click()
{
    if (!wholeFile_.isEmpty()) {
        const QString file = notificationFile();
        if (file.isEmpty())
            return;
        try {
            writeAddressFilePath(form1_.SettingsPath, file);
        } catch (const std::exception& e) {
            platform_.showException(this, QString::fromUtf8(e.what()));
            return;
        }
    }
    if (emailForm_) {
        emailForm_->ListsFolder = form1_.listsFolder();
        emailForm_->exec();
    }
    accept();
}

void THerald::PublishClick()
{
    PublishDialog dialog(platform_, {form1_.SettingsPath, request_.folder, product_, request_.options}, this);
    dialog.exec();
}

void THerald::BitBtn3Click()
{
    OpenHelpPage(platform_, QStringLiteral("index.html#swreg"), form1_.programFolder(), this);
}

} // namespace og
