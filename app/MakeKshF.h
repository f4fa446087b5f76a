#pragma once

#include "orders/Options.h"
#include "orders/Report.h"

#include <QString>
#include <QWidget>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QToolButton;

namespace og {

class AccountOptions;
class Platform;
class THerald;
class TSingleInstance;
class TemailForm;

// The main window: the options of the batch file and the address file, the
// product list of the sales report, and the way to the results window and the
// mailer. It owns the settings file's [options] keys.
//
// The controls are public because the other windows read them directly, as
// the results window reads the options and the product list.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(Platform& platform, QWidget* parent = nullptr);
    ~TForm1() override;

    // The windows the buttons open; created after this one at start-up.
    void setWindows(THerald* herald, TemailForm* emailForm);
    // Take the report from this file instead of the clipboard.
    void setReportFile(const QString& path) { reportFile_ = path; }
    // Reads the report in that file now (or at the first activation).
    void openReportFile(const QString& path);
    // The folder the settings file and the made files live in (ends in "/").
    // Set from the program folder at creation; tests point it elsewhere
    // before the first activation.
    void setProgramFolder(const QString& folder);
    const QString& programFolder() const { return programFolder_; }
    // The folder the customer lists are read from (ends in "/"): the one
    // chosen (kept in the settings), else the working folder.
    QString listsFolder() const;

    // The options as the controls hold them now.
    Options options() const;
    void setOptions(const Options& options);

    const Report& report() const { return report_; }
    bool isActivated() const { return activated_; }

    // Controls, in the order of the window.
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QLineEdit* protectMask;
    QGroupBox* GroupBox3;
    QLabel* Label4;
    QLineEdit* ProtectMod;
    QLabel* Label5;
    QLineEdit* AccessMod;
    QLabel* Label6;
    QLineEdit* PassMod;
    QLabel* Label2;
    QLineEdit* TestUser;
    QLabel* Label8;
    QLineEdit* TestPass;
    QGroupBox* GroupBox4;
    QCheckBox* IncOrder;
    QCheckBox* IncDate;
    QCheckBox* IncName;
    // The password hash, hidden passwords and missing customers.
    AccountOptions* Accounts;
    QLabel* Label9;
    QListWidget* StoreBox;
    // Which layout read the report ("Report read as Shopify").
    QLabel* ReadAs = nullptr;
    QPushButton* ReadClipboard;
    QPushButton* OpenReport;
    QPushButton* OpenAdjustments;
    QPushButton* MapColumns;
    QPushButton* Button2;
    QPushButton* Button1;
    QToolButton* SpeedButton1;
    QPushButton* BitBtn4;
    QPushButton* BitBtn2;
    QPushButton* BitBtn1;
    // Kept empty and hidden: the report's lines live in report().
    QPlainTextEdit* Memo2;
    QPushButton* BitBtn3;
    QGroupBox* GroupBox1;
    QPushButton* VHS;
    QPushButton* DVD;
    QPushButton* MUSIC;
    QPushButton* BOOKS;
    QPushButton* TOYS;
    QPushButton* APPAREL;
    QPushButton* ZINES;
    QMenu* PopupMenu1;
    QAction* Createfiles1;
    QAction* Emailer1;
    QAction* About1;
    QAction* Help1;
    QAction* Exit1;
    TSingleInstance* SingleInstance1;
    // Names the folder the customer lists are read from.
    QStatusBar* StatusBar;
    QLabel* ListsFolder;
    QPushButton* ChooseListsFolder;

    QString SettingsPath;
    // An option was edited since the settings were loaded.
    bool OptionsChanged = false;
    // The product the files are made for, or "All".
    QString SelectedProduct;

public slots:
    void FormActivate();
    // Every edit of an option marks the options as changed; IncOrderClick
    // serves all three check boxes.
    void protectMaskChange();
    void ProtectModChange();
    void AccessModChange();
    void PassModChange();
    void TestUserChange();
    void TestPassChange();
    void IncOrderClick();
    void StoreBoxClick();
    // Map columns…: the dialog for the report's header row; the report is
    // read again with the layout it saved.
    void MapColumnsClick();
    void Button1Click();
    // Both refill the product list by the rules of the start.
    void ReadClipboardClick();
    void OpenReportClick();
    // A second report whose refunds and chargebacks exclude their orders.
    void OpenAdjustmentsClick();
    void ChooseListsFolderClick();
    void SpeedButton1Click();
    void BitBtn2Click();
    void BitBtn4Click();
    void Button2Click();
    void BitBtn3Click();
    void VHSClick();
    void DVDClick();
    void MUSICClick();
    void BOOKSClick();
    void TOYSClick();
    void APPARELClick();
    void ZINESClick();

signals:
    // FormActivate has loaded the settings and read the report.
    void activatedOnce();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Opens Map columns…; true when a layout was saved and the report read
    // again.
    bool mapColumns();
    void FormCreate();
    void buildControls();
    void createOptionControls();
    void createProductControls();
    void layOutControls();
    void createMenu();
    void connectControls();
    QString takeReportText(bool* ok);
    void readReport();

    Platform& platform_;
    THerald* herald_ = nullptr;
    TemailForm* emailForm_ = nullptr;
    Report report_;
    QString reportFile_;
    std::optional<OrderAdjustments> adjustments_; // belong to the report read with them
    QString programFolder_;
    QString listsFolder_; // chosen; empty: the working folder
    bool activated_ = false;
};

} // namespace og
