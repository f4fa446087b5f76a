// Map columns…: a report whose header row no layout knows is mapped in the
// dialog, its preview shows the orders as they will be read, and the saved
// layout reads the report in the main window.

#include "AppTestSupport.h"
#include "app/MakeKshF.h"
#include "app/MapColumnsDialog.h"
#include "app/Ordergate.h"
#include "orders/SavedLayouts.h"
#include "orders/ScriptRun.h"
#include "tests/support/ScriptedPlatform.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace og;
using namespace og::test;

class MapColumnsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { isolateRuntimeFolder(); }

    void choicesPreviewSaveAndRun()
    {
        QTemporaryDir folder, work;
        QDir::setCurrent(work.path());
        ScriptedPlatform platform;
        const QString ini = slashed(folder) + "ordergate.ini", reportPath = slashed(work) + "report.csv";
        const QByteArray report = "Ref;Kunde;Artikel;Mail box;Tag\r\n"
                                  "1001;Ann Lee;Tool;ann@example.com;2026-03-02T10:00:00Z\r\n"
                                  "1002;Bo Bell;\"Tool; Pro\";bo@example.org;2026-03-03\r\n";
        writeFile(reportPath, report);

        MapColumnsDialog dialog(platform, report, ini, reportPath);
        QCOMPARE(dialog.Preview->rowCount(), 0);
        QVERIFY(!dialog.SaveButton->isEnabled());
        QCOMPARE(dialog.Problem->text(), QString()); // nothing chosen, nothing wrong yet
        QCOMPARE(dialog.NameEdit->text(), QStringLiteral("report"));
        QVERIFY(dialog.Preview->minimumHeight() >= 6 * dialog.Preview->verticalHeader()->defaultSectionSize());
        const std::pair<HeaderField, const char*> choices[] = {{HeaderField::Order, "Ref"},
            {HeaderField::Email, "Mail box"}, {HeaderField::Product, "Artikel"}, {HeaderField::Name, "Kunde"},
            {HeaderField::Date, "Tag"}};
        for (const auto& [field, column] : choices)
            dialog.fieldBox(field)->setCurrentText(column);
        QCOMPARE(dialog.Preview->rowCount(), 2);
        const QStringList second = {"1002", "bo@example.org", "Tool; Pro", "Bo Bell", "2026-03-03"};
        for (int c = 0; c < second.size(); ++c)
            QCOMPARE(dialog.Preview->item(1, c)->text(), second[c]);
        QCOMPARE(dialog.Preview->item(0, 4)->text(), QStringLiteral("2026-03-02"));
        dialog.NameEdit->setText("Kasse");
        QVERIFY(dialog.SaveButton->isEnabled());
        dialog.SaveButton->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(loadSavedLayouts(ini).size(), size_t(1));

        // The same name again is asked about: No keeps the dialog open.
        MapColumnsDialog again(platform, report, ini, reportPath);
        for (const auto& [field, column] : choices)
            again.fieldBox(field)->setCurrentText(column);
        again.NameEdit->setText("kasse");
        platform.queueConfirm(false);
        again.SaveButton->click();
        QCOMPARE(again.result(), int(QDialog::Rejected));
        QVERIFY(platform.texts(ScriptedPlatform::Call::Confirm).last().startsWith("A layout named \"Kasse\" is saved"));
        platform.queueConfirm(true);
        again.SaveButton->click();
        QCOMPARE(again.result(), int(QDialog::Accepted));
        QCOMPARE(loadSavedLayouts(ini).size(), size_t(1));

        // the main window reads the report with the saved layout
        Ordergate program(platform);
        TForm1& form = program.Form1();
        form.setProgramFolder(slashed(folder));
        form.setReportFile(reportPath);
        program.showMainWindow();
        form.FormActivate();
        QCOMPARE(form.StoreBox->count(), 3);
        QCOMPARE(form.report().storeName(), QStringLiteral("Kasse"));
        QCOMPARE(form.ReadAs->text(), QStringLiteral("Report read as Kasse"));
        RunRequest request;
        request.report = &form.report();
        request.allProducts = true;
        request.selectedProduct = "All";
        const RunResult run = buildRun(request);
        QCOMPARE(run.written, 2);
        QVERIFY(run.script.bytesAt(3).startsWith("htpasswd -bc .htpasswd ann@example.com 1001"));
        QDir::setCurrent(QDir::tempPath());
    }

    void theProposedNameComesFromTheReport_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << "/orders/Kasse März.csv" << QStringList {"Ref"} << "Kasse März";
        QTest::newRow("first unrepeated") << "" << QStringList {"", "Ref", "Ref", "Kunde"} << "Kunde";
        QTest::newRow("nothing") << "" << QStringList {"Ref", "Ref"} << "My store";
    }
    void theProposedNameComesFromTheReport()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, columns);
        QFETCH(QString, name);
        QCOMPARE(MapColumnsDialog::proposedName(file, columns), name);
    }

    // A header row no layout knows opens the dialog; cancelled, the window
    // says which columns it saw.
    void anUnknownHeaderRowOpensTheDialog()
    {
        QTemporaryDir folder;
        ScriptedPlatform platform;
        // comma-separated, with rows an old report's rules would take as orders
        platform.setClipboardText("Receipt,Buyer Mail,Item Title,Purchaser,Sold On,Amount\r\n"
                                  "R1,zoe@example.net,Tool,Zoe,2026-03-01,9\r\n");
        Ordergate program(platform);
        program.Form1().setProgramFolder(slashed(folder));
        // the dialog exists only once the report is read: looked for until then
        bool opened = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                dialog && qobject_cast<MapColumnsDialog*>(dialog)) {
                opened = true;
                dialog->reject();
            }
        });
        poll.start(20);
        program.showMainWindow();
        program.Form1().FormActivate();
        QVERIFY(opened);
        poll.stop();
        const QStringList errors = platform.texts(ScriptedPlatform::Call::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("\"Buyer Mail\""), qPrintable(errors[0]));
    }
};

QTEST_MAIN(MapColumnsTest)
#include "test_app_mapcolumns.moc"
