// The main window driven offscreen with a scripted platform: settings, the
// report intake, the save question and the buttons.

#include "AppTestSupport.h"

#include "app/AccountOptions.h"
#include "app/DMcsv.h"
#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"
#include "app/mailer/EmailForm.h"
#include "common/ProfileFile.h"
#include "platform/ScreenFit.h"
#include "platform/VendorLinks.h"
#include "tests/support/ScriptedPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QToolButton>

using namespace og;
using namespace og::test;
using Call = ScriptedPlatform::Call;

namespace {

const QString SaveQuestion = QStringLiteral("Save changes to properties?");

QString twoProductReport()
{
    return QStringList {swregLine("5001", "Tool", "a@example.com"), swregLine("5002", "Widget", "b@example.com"),
               swregLine("5003", "Tool", "c@example.com")}
               .join(QLatin1String("\r\n")) +
        QLatin1String("\r\n");
}

// One start of the program in private folders.
struct Start {
    QTemporaryDir folder; // the program folder: settings and made files
    QTemporaryDir work;   // the working folder: the customer lists
    ScriptedPlatform platform;
    QStringList faults;
    std::unique_ptr<Ordergate> program;

    Start()
    {
        QDir::setCurrent(work.path());
        platform.setFailureHandler([this](const QString& m) { faults << m; });
        program = std::make_unique<Ordergate>(platform);
        form().setProgramFolder(slashed(folder));
    }
    ~Start() { QDir::setCurrent(QDir::tempPath()); }

    TForm1& form() { return program->Form1(); }
    QString ini() const { return slashed(folder) + QLatin1String("ordergate.ini"); }
    void activate(const QString& clipboard)
    {
        platform.setClipboardText(clipboard);
        program->showMainWindow();
        form().FormActivate(); // no-op when the window's activation came first
    }
    // Closes the results window as soon as its run has ended.
    void closeResultsAfterRun()
    {
        QObject::connect(&program->Herald(), &THerald::runFinished, &program->Herald(),
            [this] { QTimer::singleShot(0, program->Herald().BitBtn1, &QPushButton::click); });
    }
};

#define VERIFY_NO_FAULTS(start) QVERIFY2((start).faults.isEmpty(), qPrintable((start).faults.join("; ")))

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { isolateRuntimeFolder(); }

    void firstRunShowsDefaultsAndClosesWithoutAsking()
    {
        Start s;
        TForm1& f = s.form();
        QVERIFY(!f.Button1->isEnabled());
        s.activate(twoProductReport());
        QCOMPARE(f.protectMask->text(), QStringLiteral("*.*"));
        QCOMPARE(f.ProtectMod->text(), QStringLiteral("777"));
        QCOMPARE(f.AccessMod->text(), QStringLiteral("644"));
        QCOMPARE(f.PassMod->text(), QStringLiteral("644"));
        QCOMPARE(f.TestUser->text(), QStringLiteral("ChangeMe"));
        QCOMPARE(f.TestPass->text(), QStringLiteral("ReplaceMeToo"));
        QVERIFY(f.IncOrder->isChecked());
        QVERIFY(!f.IncDate->isChecked());
        QVERIFY(!f.IncName->isChecked());
        QVERIFY(f.Button1->isEnabled());
        QVERIFY(f.close());
        QCOMPARE(s.platform.count(Call::Ask), 0);
        QVERIFY(!QFile::exists(s.ini()));
        VERIFY_NO_FAULTS(s);
    }

    void savingAfterAnEditWritesEveryKey()
    {
        Start s;
        s.activate(twoProductReport());
        s.form().protectMask->setText(QStringLiteral("*.zip"));
        s.form().Accounts->PassHash->setCurrentIndex(1);
        s.form().Accounts->HidePasswords->setChecked(true);
        s.form().Accounts->KeepAccounts->setCurrentIndex(2);
        s.platform.queueAnswer(Platform::Answer::Yes);
        QVERIFY(s.form().close());
        QCOMPARE(s.platform.texts(Call::Ask), QStringList {SaveQuestion});
        const QString ini = QString::fromUtf8(readFile(s.ini()));
        for (const char* line : {"Pmask=*.zip", "chmodProtect=777", "chmodAccess=644", "chmodPasswd=644",
                 "user=ChangeMe", "passwd=ReplaceMeToo", "orderNr=1", "orderDate=0", "names=0", "passhash=bcrypt",
                 "hidepasswords=1", "keepaccounts=0"})
            QVERIFY2(ini.contains(QLatin1String(line)), line);
        QVERIFY(ini.contains(QLatin1String("[options]")));
        VERIFY_NO_FAULTS(s);
    }

    void answeringNoWritesNothing()
    {
        Start s;
        s.activate(twoProductReport());
        s.form().IncName->click();
        s.platform.queueAnswer(Platform::Answer::No);
        QVERIFY(s.form().close());
        QCOMPARE(s.platform.texts(Call::Ask), QStringList {SaveQuestion});
        QVERIFY(!QFile::exists(s.ini()));
        VERIFY_NO_FAULTS(s);
    }

    void anEditSurvivesAVisitToTheMailer()
    {
        Start s;
        s.activate(twoProductReport());
        s.form().TestPass->setText(QStringLiteral("secret"));
        whenModal(&s.program->emailForm(), [](QWidget* w) { w->close(); });
        s.form().SpeedButton1Click();
        QVERIFY(!s.program->emailForm().isVisible());
        QVERIFY(s.form().isVisible());
        s.platform.queueAnswer(Platform::Answer::No);
        QVERIFY(s.form().close());
        QCOMPARE(s.platform.texts(Call::Ask), QStringList {SaveQuestion});
        // The mailer's visit read nothing again.
        QCOMPARE(s.platform.count(Call::Clipboard), 1);
    }

    void booleanSettingsFollowTheProfileRules_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("hex one checks") << "0x1" << false << true;
        QTest::newRow("hex zero clears") << "0x0" << true << false;
        QTest::newRow("any other number checks") << "12" << false << true;
        QTest::newRow("zero clears") << "0" << true << false;
        QTest::newRow("a word keeps it unchecked") << "yes" << false << false;
        QTest::newRow("a word keeps it checked") << "yes" << true << true;
    }

    void booleanSettingsFollowTheProfileRules()
    {
        QFETCH(QString, value);
        QFETCH(bool, before);
        QFETCH(bool, after);
        Start s;
        writeFile(s.ini(), QStringLiteral("[options]\r\norderNr=%1\r\nuser=Tester\r\n").arg(value).toUtf8());
        s.form().IncOrder->setChecked(before);
        s.activate(twoProductReport());
        QCOMPARE(s.form().IncOrder->isChecked(), after);
        QCOMPARE(s.form().TestUser->text(), QStringLiteral("Tester"));
        QCOMPARE(s.form().TestPass->text(), QStringLiteral("ReplaceMeToo"));
        // Loading is not an edit: closing asks nothing.
        QVERIFY(s.form().close());
        QCOMPARE(s.platform.count(Call::Ask), 0);
        VERIFY_NO_FAULTS(s);
    }

    void emptyClipboardReportsNoRecordsAndKeepsTheButton()
    {
        Start s;
        s.activate(QString());
        QCOMPARE(s.platform.texts(Call::Error),
            QStringList {"No records processed\rDid you copy the CSV report file to the clipboard?\rA report whose "
                         "columns are not known is read after \"Map columns…\" says which column is which."});
        QCOMPARE(s.form().StoreBox->count(), 0);
        QVERIFY(s.form().Button1->isEnabled());
        s.form().Button1->click();
        QCOMPARE(s.platform.texts(Call::Error).value(1), QStringLiteral("No records processed"));
        QVERIFY(!s.program->Herald().isVisible());
        QVERIFY(!QFile::exists(s.ini()));
        QVERIFY(s.form().isVisible());
        VERIFY_NO_FAULTS(s);
    }

    void productListOffersAllFirstAndSelectsIt()
    {
        Start s;
        s.activate(twoProductReport());
        QListWidget* box = s.form().StoreBox;
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->item(0)->text(), QStringLiteral("All"));
        QCOMPARE(box->item(1)->text(), QStringLiteral("Tool"));
        QCOMPARE(box->item(2)->text(), QStringLiteral("Widget"));
        QVERIFY(box->item(0)->isSelected());
        QCOMPARE(s.form().SelectedProduct, QStringLiteral("All"));
        box->setCurrentRow(2);
        QCOMPARE(s.form().SelectedProduct, QStringLiteral("Widget"));
    }

    void createFilesStoresTheAddressFilePath_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("All") << 0 << "email_All.txt";
        QTest::newRow("one product") << 2 << "email_Widget.txt";
    }

    void createFilesStoresTheAddressFilePath()
    {
        QFETCH(int, row);
        QFETCH(QString, fileName);
        Start s;
        s.activate(twoProductReport());
        s.form().StoreBox->setCurrentRow(row);
        s.closeResultsAfterRun();
        s.form().Button1Click();
        QCOMPARE(ProfileFile::readString(s.ini(), "options", "efile", "?"), slashed(s.folder) + fileName);
        QVERIFY(QFile::exists(slashed(s.folder) + fileName));
        // The results window returned, so the main window has closed.
        QVERIFY(!s.form().isVisible());
        VERIFY_NO_FAULTS(s);
    }

    void settingsAndReportAreReadOncePerStart()
    {
        Start s;
        s.activate(twoProductReport());
        QTRY_VERIFY(s.form().isActivated());
        s.form().protectMask->setText(QStringLiteral("*.pdf"));
        s.platform.setClipboardText(QString());
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&s.form(), &activate);
        s.form().FormActivate();
        QCOMPARE(s.platform.count(Call::Clipboard), 1);
        QCOMPARE(s.form().StoreBox->count(), 3);
        QCOMPARE(s.form().protectMask->text(), QStringLiteral("*.pdf"));
        QVERIFY(s.form().OptionsChanged);
        s.platform.queueAnswer(Platform::Answer::No);
        s.form().close();
    }

    void reportCanComeFromAFile()
    {
        Start s;
        const QString report = slashed(s.work) + QLatin1String("report.csv");
        // A saved report with LF line ends and a Windows-1252 name.
        QByteArray line = swregLine("7", "Gadget", "z@example.com", "Rene", "Roe").toLatin1();
        line.replace("Rene", "Ren\xe9");
        writeFile(report, line + "\n");
        s.form().setReportFile(report);
        s.program->showMainWindow();
        s.form().FormActivate();
        QCOMPARE(s.platform.count(Call::Clipboard), 0);
        QCOMPARE(s.form().StoreBox->count(), 1);
        QCOMPARE(s.form().StoreBox->item(0)->text(), QStringLiteral("Gadget"));
        QCOMPARE(s.form().SelectedProduct, QStringLiteral("Gadget"));
        QVERIFY(s.form().report().line(0).contains(QStringLiteral("Ren\u00e9")));
        VERIFY_NO_FAULTS(s);
    }

    void missingReportFileIsReported()
    {
        Start s;
        s.form().setReportFile(slashed(s.work) + QLatin1String("nowhere.csv"));
        s.program->showMainWindow();
        s.form().FormActivate();
        const QStringList errors = s.platform.texts(Call::Error);
        QCOMPARE(errors.size(), 2);
        QVERIFY(errors[0].startsWith(QLatin1String("Unable to read ")));
        QVERIFY(errors[0].contains(QLatin1String("nowhere.csv")));
        QVERIFY(errors[0].endsWith(u'.'));
        QVERIFY(errors[1].startsWith(QLatin1String("No records processed\r")));
    }

    void failedSettingsWriteKeepsTheWindowOpen()
    {
        Start s;
        s.activate(twoProductReport());
        const QString missing = slashed(s.folder) + QLatin1String("gone/");
        s.form().setProgramFolder(missing);
        // Create files: efile cannot be written, so no results window.
        s.form().Button1Click();
        QCOMPARE(s.platform.texts(Call::Error),
            QStringList {"Unable to write to " + missing + "ordergate.ini: No such file or directory."});
        QVERIFY(!s.program->Herald().isVisible());
        QVERIFY(s.form().isVisible());

        s.form().protectMask->setText(QStringLiteral("*.iso"));
        s.platform.queueAnswer(Platform::Answer::Yes);
        QVERIFY(!s.form().close());
        QCOMPARE(s.platform.texts(Call::Error).size(), 2);
        QVERIFY(s.form().isVisible());
        QCOMPARE(s.form().protectMask->text(), QStringLiteral("*.iso"));

        s.platform.queueAnswer(Platform::Answer::No);
        QVERIFY(s.form().close());
        VERIFY_NO_FAULTS(s);
    }

    void captionsAndAboutBoxUseTheVersionStrings()
    {
        Start s;
        QVERIFY(s.form().windowTitle().startsWith(QLatin1String(" Ordergate - ")));
        QVERIFY(s.form().windowTitle().size() > 13);
        QCOMPARE(s.program->Herald().windowTitle(), QStringLiteral(" Ordergate - Results"));
        s.form().BitBtn4->click();
        const QStringList info = s.platform.texts(Call::Information);
        QCOMPARE(info.size(), 1);
        static const QRegularExpression about(
            QStringLiteral("^Ordergate\rVersion \\d+\\.\\d+\\.\\d+\r[^\r]+\r[^\r]+$"));
        QVERIFY2(about.match(info[0]).hasMatch(), qPrintable(info[0]));
    }

    void helpOpensTheLocalPageOrTheHomePage()
    {
        Start s;
        s.form().BitBtn2->click();
        writeFile(slashed(s.folder) + QLatin1String("index.html"), "<html></html>");
        s.form().BitBtn2->click();
        const QStringList urls = s.platform.texts(Call::OpenUrl);
        QCOMPARE(urls.size(), 2);
        QCOMPARE(urls[0], QString::fromUtf8(VendorLinks::HomePageBase) + QLatin1String("index.html#guide"));
        QCOMPARE(urls[1], QLatin1String("file://") + slashed(s.folder) + QLatin1String("index.html#guide"));
    }

    void shopAndAdvertisingButtonsOpenTheirPages()
    {
        Start s;
        TForm1& f = s.form();
        const QList<QPushButton*> buttons {f.VHS, f.DVD, f.MUSIC, f.BOOKS, f.TOYS, f.APPAREL, f.ZINES, f.BitBtn3};
        for (QPushButton* b : buttons)
            b->click();
        const QStringList urls = s.platform.texts(Call::OpenUrl);
        QCOMPARE(urls.size(), buttons.size());
        QCOMPARE(QSet<QString>(urls.begin(), urls.end()).size(), buttons.size());
        QCOMPARE(urls.last(), QString::fromUtf8(VendorLinks::Advertising));
        for (const QString& url : urls)
            QVERIFY2(QUrl(url).isValid() && url.startsWith(QLatin1String("https://")), qPrintable(url));
    }

    void enterPressesTheDefaultButton()
    {
        Start s;
        s.activate(twoProductReport());
        s.form().protectMask->setFocus();
        QTest::keyClick(s.form().protectMask, Qt::Key_Return);
        QCOMPARE(s.platform.texts(Call::OpenUrl), QStringList {QString::fromUtf8(VendorLinks::Advertising)});
    }

    void contextMenuRepeatsTheButtons()
    {
        Start s;
        s.activate(QString());
        s.platform.clearCalls();
        s.form().Createfiles1->trigger();
        s.form().About1->trigger();
        s.form().Help1->trigger();
        QTRY_COMPARE(s.platform.calls().size(), 3);
        QCOMPARE(s.platform.calls()[0].text, QStringLiteral("No records processed"));
        QCOMPARE(s.platform.calls()[1].kind, Call::Information);
        QVERIFY(s.platform.calls()[2].text.endsWith(QLatin1String("index.html#guide")));
        s.form().Exit1->trigger();
        QTRY_VERIFY(!s.form().isVisible());
    }

    void saveQuestionCancelKeepsTheWindowAndTheEdits()
    {
        Start s;
        s.activate(twoProductReport());
        s.form().protectMask->setText(QStringLiteral("*.iso"));
        s.platform.queueAnswer(Platform::Answer::Cancel);
        QVERIFY(!s.form().close());
        QVERIFY(s.form().isVisible());
        QCOMPARE(s.form().protectMask->text(), QStringLiteral("*.iso"));
        QVERIFY(!QFile::exists(s.ini()));
        s.platform.queueAnswer(Platform::Answer::Yes);
        QVERIFY(s.form().close());
        QVERIFY(QString::fromUtf8(readFile(s.ini())).contains(QLatin1String("Pmask=*.iso")));
        QCOMPARE(s.platform.texts(Call::Ask), (QStringList {SaveQuestion, SaveQuestion}));
        VERIFY_NO_FAULTS(s);
    }

    void reportCanBeReadAgainFromClipboardOrFile()
    {
        Start s;
        s.activate(QString());
        QCOMPARE(s.form().StoreBox->count(), 0);
        s.form().protectMask->setText(QStringLiteral("*.iso")); // an edit survives a new report
        s.platform.setClipboardText(twoProductReport());
        s.form().ReadClipboard->click();
        QCOMPARE(s.form().StoreBox->count(), 3);
        const QString report = slashed(s.work) + QLatin1String("saved.csv");
        writeFile(report, swregLine("9", "Gadget", "g@example.com").toUtf8());
        s.platform.queueFileName(report);
        s.form().OpenReport->click();
        QCOMPARE(s.form().StoreBox->count(), 1);
        QCOMPARE(s.form().SelectedProduct, QStringLiteral("Gadget"));
        s.platform.queueFileName(QString()); // cancelled: the report stays
        s.form().OpenReport->click();
        QCOMPARE(s.form().StoreBox->count(), 1);
        QVERIFY(s.form().OptionsChanged);
        QVERIFY(s.form().ListsFolder->text().endsWith(QDir::currentPath() + u'/'));
        s.platform.queueAnswer(Platform::Answer::No);
        QVERIFY(s.form().close());
        VERIFY_NO_FAULTS(s);
    }

    // Paddle's adjustments report takes back orders of the report read with
    // it; a file that is no such report changes nothing and says so.
    void adjustmentsReportExcludesWhatItTakesBack()
    {
        Start s;
        s.activate(QString());
        s.platform.queueFileName(QStringLiteral(OG_EXAMPLES "/paddle-transactions.csv"));
        s.form().OpenReport->click();
        const qsizetype alone = s.form().report().excludedCount();
        QVERIFY(s.form().StoreBox->count() > 0);
        const qsizetype errors = s.platform.texts(Call::Error).size();
        s.platform.queueFileName(QStringLiteral(OG_EXAMPLES "/swreg-report.csv"));
        s.form().OpenAdjustments->click();
        QCOMPARE(s.platform.texts(Call::Error).size(), errors + 1);
        QCOMPARE(s.form().report().excludedCount(), alone);
        s.platform.queueFileName(QStringLiteral(OG_EXAMPLES "/paddle-adjustments.csv"));
        s.form().OpenAdjustments->click();
        QVERIFY(s.form().report().excludedCount() > alone);
        s.platform.queueFileName(QStringLiteral(OG_EXAMPLES "/paddle-transactions.csv"));
        s.form().OpenReport->click(); // a new report starts without them
        QCOMPARE(s.form().report().excludedCount(), alone);
        s.platform.queueAnswer(Platform::Answer::No);
        s.form().close();
    }

    void failedLaunchesAreShown()
    {
        Start s;
        s.platform.failLaunches(QStringLiteral("no browser"));
        s.form().VHS->click();
        s.form().BitBtn2->click();
        const QStringList errors = s.platform.texts(Call::Error);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0], "Unable to open " + QString::fromUtf8(VendorLinks::ShopVhs) + ": no browser.");
        QVERIFY(errors[1].endsWith(QLatin1String("index.html#guide: no browser.")));
    }

    void listsFolderIsChosenRememberedAndRead()
    {
        Start s;
        s.activate(twoProductReport());
        const QString working = QDir::currentPath() + u'/';
        QCOMPARE(s.form().listsFolder(), working); // none chosen
        QTemporaryDir lists;
        writeFile(slashed(lists) + QLatin1String("bozos.txt"), "a@example.com\r\n");
        s.platform.queueFileName(QString()); // cancelled: nothing changes
        s.form().ChooseListsFolder->click();
        QCOMPARE(s.form().listsFolder(), working);
        s.platform.queueFileName(lists.path());
        s.form().ChooseListsFolder->click();
        QVERIFY(s.form().ListsFolder->text().endsWith(slashed(lists)));
        s.form().setProgramFolder(slashed(s.work)); // a folder whose settings chose none
        QCOMPARE(s.form().listsFolder(), working);
        s.form().setProgramFolder(slashed(s.folder)); // read back from the settings
        QCOMPARE(s.form().listsFolder(), slashed(lists));

        s.program->Herald().OpenFolder->click();
        QCOMPARE(s.platform.texts(Call::OpenFile), QStringList {slashed(s.folder)});
        s.closeResultsAfterRun();
        s.form().Button1Click();
        const QByteArray addresses = readFile(slashed(s.folder) + QLatin1String("email_All.txt"));
        QVERIFY2(!addresses.contains("a@example.com") && addresses.contains("b@example.com"), addresses.constData());
        VERIFY_NO_FAULTS(s);
    }

    void windowsFitASmallScreen()
    {
        Start s;
        s.activate(twoProductReport());
        s.closeResultsAfterRun();
        QWidget* windows[] = {&s.form(), &s.program->Herald(), &s.program->emailForm()};
        for (QWidget* w : windows) {
            const QSize least = w->minimumSizeHint();
            QVERIFY2(least.width() <= 1366 && least.height() <= 768 - 60, qPrintable(w->objectName()));
            w->resize(1366, 768);
            fitIntoScreen(w); // an offscreen screen of 800 x 600
            const QRect area = w->screen()->availableGeometry();
            QVERIFY2(w->width() <= area.width() && w->height() <= area.height(), qPrintable(w->objectName()));
        }
        // the results window's buttons stay inside it
        THerald& h = s.program->Herald();
        h.resize(h.minimumSizeHint());
        h.show();
        for (QPushButton* b : {h.BitBtn1, h.BitBtn2, h.BitBtn3})
            QVERIFY(h.rect().contains(QRect(b->mapTo(&h, QPoint()), b->size())));
        h.done(0);
    }

    void onlyTheOldHiddenControlsAreHidden()
    {
        Start s;
        s.program->showMainWindow();
        QVERIFY(!s.form().Button2->isVisible());
        QVERIFY(!s.form().Memo2->isVisible());
        for (QWidget* account : {s.form().Accounts->PassHash, s.form().Accounts->KeepAccounts})
            QVERIFY(account->isVisible()); // among the window's options, no box to open
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_app_mainwindow.moc"
