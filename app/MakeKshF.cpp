#include "app/MakeKshF.h"

#include "app/AccountOptions.h"
#include "app/MapColumnsDialog.h"
#include "orders/SavedLayouts.h"

#include "app/HeraldF.h"
#include "app/SingleInstance.h"
#include "app/mailer/EmailForm.h"
#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "orders/AdjustmentsReport.h"
#include "orders/InputFiles.h"
#include "orders/ScriptRun.h"
#include "platform/KeyboardAccess.h"
#include "platform/NamedWidget.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"
#include "platform/VendorLinks.h"
#include "platform/Version.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace og {

namespace {

const QString NoRecordsOnRead =
    QStringLiteral("No records processed\rDid you copy the CSV report file to the clipboard?\rA report whose "
                   "columns are not known is read after \"Map columns…\" says which column is which.");
const QString NoRecords = QStringLiteral("No records processed");
const QString SaveQuestion = QStringLiteral("Save changes to properties?");

QLineEdit* edit(const char* name, const char* text)
{
    auto* e = named(new QLineEdit(QString::fromLatin1(text)), name);
    e->setMinimumWidth(120);
    return e;
}

} // namespace

TForm1::TForm1(Platform& platform, QWidget* parent)
    : QWidget(parent),
      platform_(platform)
{
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    // The guard acts while the window's contents load, before FormCreate.
    SingleInstance1->Loaded();
    FormCreate();
    // The shop links go without a letter where the letters do not go round.
    for (QWidget* link : std::initializer_list<QWidget*> {VHS, DVD, MUSIC, BOOKS, TOYS, APPAREL, ZINES, BitBtn3})
        link->setProperty(ShortcutLast, true);
    assignShortcuts(this);
    showFocusFrames(this);
}

TForm1::~TForm1() = default;

void TForm1::buildControls()
{
    createOptionControls();
    createProductControls();
    layOutControls();
    createMenu();
    connectControls();
}

// The options' controls: the file mask, the chmod modes, the test account,
// the extra fields of the address file and the accounts' choices.
void TForm1::createOptionControls()
{
    GroupBox2 = named(new QGroupBox(QStringLiteral(" Properties and Options ")), "GroupBox2");
    Label3 = named(new QLabel(QStringLiteral("Protected file or file mask:")), "Label3");
    protectMask = edit("protectMask", "*.*");
    GroupBox3 = named(new QGroupBox(QStringLiteral(" chmod numbers for: ")), "GroupBox3");
    Label4 = named(new QLabel(QStringLiteral("Protected file(s)")), "Label4");
    ProtectMod = edit("ProtectMod", "777");
    Label5 = named(new QLabel(QStringLiteral(".htaccess file")), "Label5");
    AccessMod = edit("AccessMod", "644");
    Label6 = named(new QLabel(QStringLiteral(".htpasswd file")), "Label6");
    PassMod = edit("PassMod", "644");
    Label2 = named(new QLabel(QStringLiteral("Test User ID:")), "Label2");
    TestUser = edit("TestUser", "ChangeMe");
    Label8 = named(new QLabel(QStringLiteral("Test Password:")), "Label8");
    TestPass = edit("TestPass", "ReplaceMeToo");
    GroupBox4 =
        named(new QGroupBox(QStringLiteral(" Include these extra fields in email address text file (CSV format)  ")),
            "GroupBox4");
    IncOrder = named(new QCheckBox(QStringLiteral("Include Order/Reg. # ")), "IncOrder");
    IncOrder->setChecked(true);
    IncDate = named(new QCheckBox(QStringLiteral("Include Order Date ")), "IncDate");
    IncName = named(new QCheckBox(QStringLiteral("Include Customer Name")), "IncName");
    Accounts = new AccountOptions;
}

// The product list, the report's sources and the buttons of the window.
void TForm1::createProductControls()
{
    Label9 = named(new QLabel(QStringLiteral("Product:")), "Label9");
    StoreBox = named(new QListWidget, "StoreBox");
    StoreBox->setSelectionMode(QAbstractItemView::SingleSelection);
    // The selected product is highlighted whether the list has the focus or
    // not; the frame shows where the keyboard is.
    StoreBox->setStyleSheet(QStringLiteral("QListWidget:focus { border: 2px solid palette(highlight); }"));
    Label9->setBuddy(StoreBox);
    Button2 = named(new QPushButton(QStringLiteral("Button2")), "Button2");
    Button2->setVisible(false);
    ReadClipboard = named(new QPushButton(QStringLiteral("Read clipboard again")), "ReadClipboard");
    OpenReport = named(new QPushButton(QStringLiteral("Open report...")), "OpenReport");
    OpenAdjustments = named(new QPushButton(QStringLiteral("Adjustments report...")), "OpenAdjustments");
    OpenAdjustments->setToolTip(QStringLiteral(
        "Paddle's adjustments report: the orders its approved refunds and chargebacks take back are left out"));
    MapColumns = named(new QPushButton(QStringLiteral("Map columns…")), "MapColumns");
    Button1 = named(new QPushButton(QStringLiteral("Create script && address files")), "Button1");
    Button1->setEnabled(false);
    SpeedButton1 = named(new QToolButton, "SpeedButton1");
    SpeedButton1->setIcon(
        QIcon::fromTheme(QStringLiteral("mail-send"), style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    SpeedButton1->setIconSize(QSize(24, 24));
    SpeedButton1->setToolTip(QStringLiteral("Use existing email file to send notification"));
    SpeedButton1->setAccessibleName(SpeedButton1->toolTip());
    BitBtn4 = named(new QPushButton(QStringLiteral("About")), "BitBtn4");
    BitBtn2 =
        named(new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Help")), "BitBtn2");
    BitBtn1 =
        named(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Exit")), "BitBtn1");
    Memo2 = named(new QPlainTextEdit, "Memo2");
    Memo2->setVisible(false);
    BitBtn3 = named(new QPushButton(QStringLiteral(" Click here if you could use more memory ")), "BitBtn3");
    BitBtn3->setDefault(true);
    GroupBox1 = named(new QGroupBox(QStringLiteral("  Click below to check out today's top 100:  ")), "GroupBox1");
    VHS = named(new QPushButton(QStringLiteral("VHS Video")), "VHS");
    DVD = named(new QPushButton(QStringLiteral("DVD Video")), "DVD");
    MUSIC = named(new QPushButton(QStringLiteral("Music")), "MUSIC");
    BOOKS = named(new QPushButton(QStringLiteral("Books")), "BOOKS");
    TOYS = named(new QPushButton(QStringLiteral("Toys && Games")), "TOYS");
    APPAREL = named(new QPushButton(QStringLiteral("Tools etc.")), "APPAREL");
    ZINES = named(new QPushButton(QStringLiteral("Zines")), "ZINES");
}

void TForm1::layOutControls()
{
    // Layout: the options on the left, the products and the actions on the
    // right, the advertising and shop buttons below.
    auto* chmodGrid = new QGridLayout(GroupBox3);
    chmodGrid->addWidget(Label4, 0, 0);
    chmodGrid->addWidget(ProtectMod, 0, 1);
    chmodGrid->addWidget(Label5, 1, 0);
    chmodGrid->addWidget(AccessMod, 1, 1);
    chmodGrid->addWidget(Label6, 2, 0);
    chmodGrid->addWidget(PassMod, 2, 1);

    auto* extras = new QVBoxLayout(GroupBox4);
    extras->addWidget(IncOrder);
    extras->addWidget(IncDate);
    extras->addWidget(IncName);

    auto* options = new QGridLayout(GroupBox2);
    options->addWidget(Label3, 0, 0);
    options->addWidget(protectMask, 0, 1);
    options->addWidget(GroupBox3, 1, 0, 1, 2);
    options->addWidget(Label2, 2, 0);
    options->addWidget(TestUser, 2, 1);
    options->addWidget(Label8, 3, 0);
    options->addWidget(TestPass, 3, 1);
    options->addWidget(GroupBox4, 4, 0, 1, 2);
    options->addWidget(Accounts, 5, 0, 1, 2);
    for (QLabel* label : {Label3, Label2, Label8}) {
        label->setBuddy(label == Label3 ? protectMask : label == Label2 ? TestUser : TestPass);
    }

    // Two by two: the column stays narrow enough for a small or scaled screen.
    auto* sources = new QGridLayout;
    sources->addWidget(ReadClipboard, 0, 0);
    sources->addWidget(OpenReport, 0, 1);
    sources->addWidget(OpenAdjustments, 1, 0);
    sources->addWidget(MapColumns, 1, 1);
    auto* actions = new QHBoxLayout;
    actions->addWidget(Button2);
    actions->addWidget(Button1, 1);
    actions->addWidget(SpeedButton1);
    auto* smallButtons = new QHBoxLayout;
    smallButtons->addWidget(BitBtn4);
    smallButtons->addWidget(BitBtn2);
    smallButtons->addWidget(BitBtn1);

    auto* right = new QVBoxLayout;
    right->addWidget(Label9);
    right->addWidget(StoreBox, 1);
    ReadAs = named(new QLabel, "ReadAs");
    ReadAs->setWordWrap(true);
    right->addWidget(ReadAs);
    right->addLayout(sources);
    right->addLayout(actions);
    right->addLayout(smallButtons);
    right->addWidget(Memo2);

    auto* body = new QHBoxLayout;
    // No stretch factors: the options get the width they ask for first.
    body->addWidget(new FormScrollArea(GroupBox2));
    body->addLayout(right);

    auto* shops = new QGridLayout(GroupBox1);
    const QList<QPushButton*> shopButtons {VHS, DVD, MUSIC, BOOKS, TOYS, APPAREL, ZINES};
    for (int i = 0; i < shopButtons.size(); ++i)
        shops->addWidget(shopButtons[i], i / 4, i % 4);

    auto* top = new QVBoxLayout(this);
    top->addLayout(body, 1);
    top->addWidget(BitBtn3);
    top->addWidget(GroupBox1);
    StatusBar = named(new QStatusBar, "StatusBar");
    StatusBar->setSizeGripEnabled(false);
    ListsFolder = named(new QLabel, "ListsFolder");
    StatusBar->addWidget(ListsFolder, 1);
    ChooseListsFolder = named(new QPushButton(QStringLiteral("Lists folder...")), "ChooseListsFolder");
    ChooseListsFolder->setToolTip(QStringLiteral("Choose the folder of bozos.txt, Address.txt and goodguys.txt"));
    StatusBar->addPermanentWidget(ChooseListsFolder);
    top->addWidget(StatusBar);
}

// The context menu and the guard that hands a second start's report over.
void TForm1::createMenu()
{
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    Createfiles1 = named(PopupMenu1->addAction(QStringLiteral("Create files")), "Createfiles1");
    Emailer1 = named(PopupMenu1->addAction(QStringLiteral("Emailer")), "Emailer1");
    About1 = named(PopupMenu1->addAction(QStringLiteral("About")), "About1");
    Help1 = named(PopupMenu1->addAction(QStringLiteral("Help")), "Help1");
    Exit1 = named(PopupMenu1->addAction(QStringLiteral("Exit")), "Exit1");
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { PopupMenu1->popup(mapToGlobal(pos)); });

    SingleInstance1 = new TSingleInstance(this);
    connect(SingleInstance1, &TSingleInstance::reportHandedOver, this, &TForm1::openReportFile);
}

void TForm1::connectControls()
{
    connect(protectMask, &QLineEdit::textChanged, this, &TForm1::protectMaskChange);
    connect(ProtectMod, &QLineEdit::textChanged, this, &TForm1::ProtectModChange);
    connect(AccessMod, &QLineEdit::textChanged, this, &TForm1::AccessModChange);
    connect(PassMod, &QLineEdit::textChanged, this, &TForm1::PassModChange);
    connect(TestUser, &QLineEdit::textChanged, this, &TForm1::TestUserChange);
    connect(TestPass, &QLineEdit::textChanged, this, &TForm1::TestPassChange);
    for (QCheckBox* box : {IncOrder, IncDate, IncName})
        connect(box, &QCheckBox::toggled, this, &TForm1::IncOrderClick);
    connect(Accounts, &AccountOptions::edited, this, &TForm1::IncOrderClick);
    connect(StoreBox, &QListWidget::itemSelectionChanged, this, &TForm1::StoreBoxClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(ReadClipboard, &QPushButton::clicked, this, &TForm1::ReadClipboardClick);
    connect(OpenReport, &QPushButton::clicked, this, &TForm1::OpenReportClick);
    connect(OpenAdjustments, &QPushButton::clicked, this, &TForm1::OpenAdjustmentsClick);
    connect(MapColumns, &QPushButton::clicked, this, &TForm1::MapColumnsClick);
    connect(ChooseListsFolder, &QPushButton::clicked, this, &TForm1::ChooseListsFolderClick);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn1, &QPushButton::clicked, this, &QWidget::close);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(VHS, &QPushButton::clicked, this, &TForm1::VHSClick);
    connect(DVD, &QPushButton::clicked, this, &TForm1::DVDClick);
    connect(MUSIC, &QPushButton::clicked, this, &TForm1::MUSICClick);
    connect(BOOKS, &QPushButton::clicked, this, &TForm1::BOOKSClick);
    connect(TOYS, &QPushButton::clicked, this, &TForm1::TOYSClick);
    connect(APPAREL, &QPushButton::clicked, this, &TForm1::APPARELClick);
    connect(ZINES, &QPushButton::clicked, this, &TForm1::ZINESClick);
    // Queued, so a menu item's modal window opens after the menu has gone.
    connect(Createfiles1, &QAction::triggered, this, &TForm1::Button1Click, Qt::QueuedConnection);
    connect(Emailer1, &QAction::triggered, this, &TForm1::SpeedButton1Click, Qt::QueuedConnection);
    connect(About1, &QAction::triggered, this, &TForm1::BitBtn4Click, Qt::QueuedConnection);
    connect(Help1, &QAction::triggered, this, &TForm1::BitBtn2Click, Qt::QueuedConnection);
    connect(Exit1, &QAction::triggered, this, &TForm1::Button2Click, Qt::QueuedConnection);
}

void TForm1::FormCreate()
{
    setWindowTitle(u' ' + VersionString(QStringLiteral("ProductName")) + QLatin1String(" - ") +
        VersionString(QStringLiteral("FileDescription")));
    setProgramFolder(og::programFolder());
    // The report is empty until the first activation, and an empty report
    // counts as SWREG.
}

void TForm1::setProgramFolder(const QString& folder)
{
    programFolder_ = folder;
    SettingsPath = settingsPathIn(folder);
    listsFolder_ = readListsFolder(SettingsPath);
    ListsFolder->setText(QStringLiteral("Customer lists are read from ") + listsFolder());
    if (herald_)
        herald_->setListsFolder(listsFolder());
}

QString TForm1::listsFolder() const
{
    return listsFolder_.isEmpty() ? customerListsFolder() : listsFolder_;
}

void TForm1::ChooseListsFolderClick()
{
    const QString folder =
        platform_.chooseFolder(this, QStringLiteral("Choose the folder of the customer lists"), listsFolder());
    if (folder.isEmpty())
        return;
    try {
        writeListsFolder(SettingsPath, folder);
    } catch (const std::exception& e) {
        platform_.showException(this, QString::fromUtf8(e.what()));
        return;
    }
    setProgramFolder(programFolder_);
}

void TForm1::setWindows(THerald* herald, TemailForm* emailForm)
{
    herald_ = herald;
    emailForm_ = emailForm;
}

Options TForm1::options() const
{
    Options o;
    o.Pmask = protectMask->text();
    o.chmodProtect = ProtectMod->text();
    o.chmodAccess = AccessMod->text();
    o.chmodPasswd = PassMod->text();
    o.user = TestUser->text();
    o.passwd = TestPass->text();
    o.orderNr = IncOrder->isChecked();
    o.orderDate = IncDate->isChecked();
    o.names = IncName->isChecked();
    Accounts->readOptions(o);
    return o;
}

void TForm1::setOptions(const Options& o)
{
    protectMask->setText(o.Pmask);
    ProtectMod->setText(o.chmodProtect);
    AccessMod->setText(o.chmodAccess);
    PassMod->setText(o.chmodPasswd);
    TestUser->setText(o.user);
    TestPass->setText(o.passwd);
    IncOrder->setChecked(o.orderNr);
    IncDate->setChecked(o.orderDate);
    IncName->setChecked(o.names);
    Accounts->showOptions(o);
}

bool TForm1::event(QEvent* event)
{
    // Only the first activation after start-up counts: coming back from a
    // modal window or another program reads nothing again.
    if (event->type() == QEvent::WindowActivate && !activated_)
        FormActivate();
    return QWidget::event(event);
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Where the desktop does not hand the focus to a new window (focus
    // stealing prevention), the activation may never come; the report is
    // then read right after the window first appears, so the window is
    // never left without its report and with "Create" disabled.
    if (!activated_)
        QTimer::singleShot(0, this, &TForm1::FormActivate);
}

void TForm1::FormActivate()
{
    if (activated_)
        return;
    activated_ = true;
    if (ProfileFile::exists(SettingsPath))
        setOptions(loadOptions(SettingsPath, options()));
    readReport();
    // Loading the settings fired the change handlers; that was no edit.
    OptionsChanged = false;
    emit activatedOnce();
}

void TForm1::readReport()
{
    QByteArray fileBytes;
    bool validUtf8 = false;
    QString clipboard;
    if (reportFile_.isEmpty()) {
        clipboard = platform_.clipboardText();
    } else {
        QString error;
        if (!readReportFile(reportFile_, &fileBytes, &error, &validUtf8))
            platform_.showException(this, error);
    }
    StoreBox->clear();
    ReadAs->clear();
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        report_.setReading({loadSavedLayouts(SettingsPath), std::nullopt, adjustments_});
        if (reportFile_.isEmpty())
            report_.read(clipboard);
        else
            report_.readBytes(std::move(fileBytes), validUtf8);
        QApplication::restoreOverrideCursor();
    }
    const QStringList products = report_.products();
    StoreBox->addItems(products);
    if (products.isEmpty() && !report_.headerProblem().isEmpty() && mapColumns()) {
        return; // read again with the saved layout
    } else if (products.isEmpty()) {
        const QString problem = report_.headerProblem();
        platform_.showError(this, problem.isEmpty() ? NoRecordsOnRead : NoRecords + u'\r' + problem);
    } else {
        StoreBox->setCurrentRow(0);
        SelectedProduct = StoreBox->item(0)->text();
        // Which layout read it, before anything is made from it.
        ReadAs->setText(QStringLiteral("Report read as %1").arg(report_.storeName()));
    }
    Button1->setEnabled(true);
}

bool TForm1::mapColumns()
{
    // the report's first lines, as the dialog's preview reads them
    QByteArray text;
    for (qsizetype i = 0; i < std::min<qsizetype>(report_.lineCount(), 200); ++i)
        text += report_.lineBytes(i).toByteArray() + '\n';
    MapColumnsDialog dialog(platform_, text, SettingsPath, reportFile_, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    readReport();
    return true;
}

void TForm1::MapColumnsClick()
{
    mapColumns();
}

void TForm1::ReadClipboardClick()
{
    reportFile_.clear();
    readReport();
}

void TForm1::openReportFile(const QString& path)
{
    reportFile_ = path;
    adjustments_.reset();
    // Before the first activation the report is read there, with the settings.
    if (activated_)
        readReport();
}

void TForm1::OpenReportClick()
{
    const QString path = platform_.openFileName(this,
        {QStringLiteral("Open report"), QStringLiteral("Sales reports (*.csv;*.txt)|*.csv;*.txt|All files (*.*)|*")});
    if (path.isEmpty())
        return;
    reportFile_ = path;
    adjustments_.reset();
    readReport();
}

void TForm1::OpenAdjustmentsClick()
{
    const QString path = platform_.openFileName(this,
        {QStringLiteral("Open adjustments report"),
            QStringLiteral("Adjustments reports (*.csv)|*.csv|All files (*.*)|*")});
    if (path.isEmpty())
        return;
    QByteArray bytes;
    QString error;
    if (!readReportFile(path, &bytes, &error)) {
        platform_.showException(this, error);
        return;
    }
    std::optional<OrderAdjustments> adjustments = readAdjustments(bytes, &error);
    if (!adjustments) {
        platform_.showError(this, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    adjustments_ = std::move(adjustments);
    readReport();
}

void TForm1::protectMaskChange()
{
    OptionsChanged = true;
}
void TForm1::ProtectModChange()
{
    OptionsChanged = true;
}
void TForm1::AccessModChange()
{
    OptionsChanged = true;
}
void TForm1::PassModChange()
{
    OptionsChanged = true;
}
void TForm1::TestUserChange()
{
    OptionsChanged = true;
}
void TForm1::TestPassChange()
{
    OptionsChanged = true;
}
void TForm1::IncOrderClick()
{
    OptionsChanged = true;
}

void TForm1::StoreBoxClick()
{
    if (QListWidgetItem* item = StoreBox->currentItem(); item && item->isSelected())
        SelectedProduct = item->text();
}

void TForm1::Button1Click()
{
    if (StoreBox->count() == 0) {
        platform_.showError(this, NoRecords);
        return;
    }
    try {
        writeAddressFilePath(SettingsPath, programFolder_ + addressFileName(SelectedProduct));
    } catch (const std::exception& e) {
        platform_.showException(this, QString::fromUtf8(e.what()));
        return;
    }
    if (herald_)
        herald_->exec();
    close();
}

void TForm1::SpeedButton1Click()
{
    if (emailForm_) {
        emailForm_->ListsFolder = listsFolder();
        emailForm_->exec();
    }
}

void TForm1::BitBtn2Click()
{
    OpenHelpPage(platform_, QStringLiteral("index.html#guide"), programFolder_, this);
}

void TForm1::BitBtn4Click()
{
    const QChar cr = u'\r';
    platform_.showInformation(this,
        VersionString(QStringLiteral("ProductName")) + cr + QLatin1String("Version ") +
            VersionString(QStringLiteral("ProductVersion")) + cr + VersionString(QStringLiteral("CompanyName")) + cr +
            VersionString(QStringLiteral("Comments")));
}

void TForm1::Button2Click()
{
    close();
}

void TForm1::BitBtn3Click()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::Advertising));
}
void TForm1::VHSClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopVhs));
}
void TForm1::DVDClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopDvd));
}
void TForm1::MUSICClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopMusic));
}
void TForm1::BOOKSClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopBooks));
}
void TForm1::TOYSClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopToys));
}
void TForm1::APPARELClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopTools));
}
void TForm1::ZINESClick()
{
    platform_.openUrlOrSay(this, QString::fromUtf8(VendorLinks::ShopZines));
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (OptionsChanged) {
        const Platform::Answer answer = platform_.ask(this, SaveQuestion);
        if (answer == Platform::Answer::Cancel) {
            // back to the window, the edits kept
            event->ignore();
            return;
        }
        if (answer == Platform::Answer::No) {
            event->accept();
            return;
        }
        try {
            saveOptions(SettingsPath, options());
        } catch (const std::exception& e) {
            // The edits are not lost: the window stays open.
            platform_.showException(this, QString::fromUtf8(e.what()));
            event->ignore();
            return;
        }
        OptionsChanged = false;
    }
    event->accept();
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // Enter presses the focused button, or else the window's default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        else if (BitBtn3->isEnabled())
            BitBtn3->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace og
