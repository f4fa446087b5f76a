// The results window: one run per showing, its views and statistics, its
// errors, and the end of the program that follows it.

#include "AppTestSupport.h"

#include "app/HeraldF.h"
#include "app/LineListModel.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"
#include "app/mailer/EmailForm.h"
#include "orders/BatchFile.h"
#include "tests/support/ScriptedPlatform.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

using namespace og;
using namespace og::test;
using Call = ScriptedPlatform::Call;

namespace {

QStringList viewLines(QAbstractItemView* view)
{
    QStringList out;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        out << view->model()->index(i, 0).data().toString();
    return out;
}

QStringList fileLines(const QString& path)
{
    const QString text = QString::fromUtf8(readFile(path));
    if (text.isEmpty() || !text.endsWith(QLatin1String("\r\n")))
        return {QStringLiteral("<file missing or without CR LF at its end>")};
    return text.chopped(2).split(QLatin1String("\r\n"));
}

struct Start {
    QTemporaryDir folder;
    QTemporaryDir work;
    ScriptedPlatform platform;
    QStringList faults;
    std::unique_ptr<Ordergate> program;

    // lists: file name -> contents, written into the working folder before
    // the windows are created (the results window reads them then).
    explicit Start(const QMap<QString, QByteArray>& lists = {})
    {
        QDir::setCurrent(work.path());
        for (auto it = lists.begin(); it != lists.end(); ++it)
            writeFile(slashed(work) + it.key(), it.value());
        platform.setFailureHandler([this](const QString& m) { faults << m; });
        program = std::make_unique<Ordergate>(platform);
        form().setProgramFolder(slashed(folder));
    }
    ~Start() { QDir::setCurrent(QDir::tempPath()); }

    TForm1& form() { return program->Form1(); }
    THerald& herald() { return program->Herald(); }
    void activate(const QStringList& reportLines)
    {
        platform.setClipboardText(reportLines.join(QLatin1String("\r\n")));
        program->showMainWindow();
        form().FormActivate();
    }
    // Shows the results window modally and closes it once its run has
    // ended; returns whether the run succeeded.
    bool showResults()
    {
        bool succeeded = false;
        auto c = QObject::connect(&herald(), &THerald::runFinished, &herald(), [&](bool ok) {
            succeeded = ok;
            QTimer::singleShot(0, herald().BitBtn1, &QPushButton::click);
        });
        herald().exec();
        QObject::disconnect(c);
        return succeeded;
    }
};

#define VERIFY_NO_FAULTS(start) QVERIFY2((start).faults.isEmpty(), qPrintable((start).faults.join("; ")))

} // namespace

class ResultsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { isolateRuntimeFolder(); }

    void fullRunShowsAndWritesBothFilesThenEndsTheProgram()
    {
        Start s({{"bozos.txt", "blocked@example.com\r\n"}, {"Address.txt", "zed@example.com new.zed@example.com\r\n"},
            {"goodguys.txt", "friend@example.com F-1 All\r\n"}});
        s.activate({swregLine("11", "Tool", "zed@example.com"), swregLine("12", "Tool", "Blocked@Example.com"),
            swregLine("13", "Widget", "amy@example.com"), swregLine("14", "Tool", "Bob@example.com")});
        s.form().IncName->setChecked(true);
        s.form().TestUser->setText(QStringLiteral("tester"));

        QStringList shownScript, shownAddresses, statistics;
        QString label;
        QColor colour;
        QObject::connect(&s.herald(), &THerald::runFinished, &s.herald(), [&](bool) {
            shownScript = viewLines(s.herald().Memo1);
            shownAddresses = viewLines(s.herald().emailBox);
            statistics = s.herald().RichEdit1->toPlainText().split(u'\n');
            colour = s.herald().RichEdit1->document()->begin().begin().fragment().charFormat().foreground().color();
            label = s.herald().Label1->text().remove(u'&'); // as shown, its Alt+letter aside
            QTimer::singleShot(0, s.herald().BitBtn1, &QPushButton::click);
        });
        s.platform.queueAnswer(Platform::Answer::No); // the edits above make closing ask
        s.form().Button1Click();

        const QString dir = slashed(s.folder);
        const QStringList script {"echo batch file for product: All", kBinaryUploadGuard[0], kBinaryUploadGuard[1],
            "htpasswd -bc .htpasswd zed@example.com 11", "htpasswd -b .htpasswd amy@example.com 13",
            "htpasswd -b .htpasswd Bob@example.com 14", "htpasswd -b .htpasswd friend@example.com F-1",
            "htpasswd -b .htpasswd tester ReplaceMeToo", "chmod 644 .htpasswd", "chmod 777 *.*", "chmod 644 .htaccess",
            "rm MakePass.ksh"};
        QCOMPARE(shownScript, script);
        QCOMPARE(fileLines(dir + "MakePass.ksh"), script);
        const QStringList addresses {"amy@example.com , 13 , Ann Lee", "Bob@example.com , 14 , Ann Lee",
            "friend@example.com , F-1", "new.zed@example.com , 11 , Ann Lee"};
        QCOMPARE(shownAddresses, addresses);
        QCOMPARE(fileLines(dir + "email_All.txt"), addresses);
        QCOMPARE(label, QStringLiteral("e-mail list: email_All.txt"));
        QCOMPARE(statistics,
            (QStringList {"processed 3 entries for Store: All", "1 bozos blocked",
                "1 email addresses updated in email_All.txt", "1 added from goodguys.txt file", "4 Total",
                "MakePass.ksh and email_All.txt placed in directory: " + dir, "Used report from SWREG"}));
        QCOMPARE(colour, QColor(Qt::blue));

        // Closing the results window closed the main window: the program ends.
        QVERIFY(!s.herald().isVisible());
        QVERIFY(!s.form().isVisible());
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        QCOMPARE(s.platform.texts(Call::Ask), QStringList {"Save changes to properties?"});
        VERIFY_NO_FAULTS(s);
    }

    void eachShowingRunsOnceAndAppendsItsStatistics()
    {
        Start s;
        s.activate({swregLine("1", "Tool", "a@example.com"), swregLine("2", "Gadget", "b@example.com")});
        const QString workFolder = QDir::currentPath();
        s.form().StoreBox->setCurrentRow(1); // Tool
        QSignalSpy runs(&s.herald(), &THerald::runFinished);
        QVERIFY(s.showResults());
        QCOMPARE(viewLines(s.herald().emailBox), QStringList {"a@example.com , 1"});
        s.form().StoreBox->setCurrentRow(2); // Gadget
        QVERIFY(s.showResults());
        QCOMPARE(runs.size(), 2);
        QCOMPARE(viewLines(s.herald().emailBox), QStringList {"b@example.com , 2"});
        const QStringList stats = s.herald().RichEdit1->toPlainText().split(u'\n');
        QCOMPARE(stats.size(), 14);
        QCOMPARE(stats[0], QStringLiteral("processed 1 entries for Store: Tool"));
        QCOMPARE(stats[7], QStringLiteral("processed 1 entries for Store: Gadget"));
        // no lists in the working folder: said below the statistics
        QCOMPARE(s.herald().RunNotes->toPlainText().split(u'\n').value(0),
            "bozos.txt not found in " + workFolder + "/: no customer blocked");
        QVERIFY(QFile::exists(slashed(s.folder) + "email_Tool.txt"));
        QVERIFY(QFile::exists(slashed(s.folder) + "email_Gadget.txt"));
        VERIFY_NO_FAULTS(s);
    }

    void aFileThatCannotBeWrittenStopsTheRun()
    {
        Start s;
        s.activate({swregLine("1", "Tool", "a@example.com")});
        s.form().setProgramFolder(slashed(s.folder) + "missing/");
        QVERIFY(!s.showResults());
        const QStringList errors = s.platform.texts(Call::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(QLatin1String("MakePass.ksh")), qPrintable(errors[0]));
        QVERIFY(errors[0].endsWith(u'.'));
        QVERIFY(s.herald().RichEdit1->toPlainText().isEmpty());
        QCOMPARE(s.herald().emailBox->model()->rowCount(), 0);
        QCOMPARE(s.herald().Label1->text().remove(u'&'), QStringLiteral("e-mail list: email_Tool.txt"));
        VERIFY_NO_FAULTS(s);
    }

    void anUnreadableListIsReportedAndTheProgramGoesOn()
    {
        QTemporaryDir work;
        // A folder where a list file is expected exists but cannot be read.
        QVERIFY(QDir(work.path()).mkdir("Address.txt"));
        writeFile(slashed(work) + "bozos.txt", "a@example.com\r\n");
        writeFile(slashed(work) + "goodguys.txt", "g@example.com G-1 All\r\n");
        QDir::setCurrent(work.path());
        ScriptedPlatform platform;
        Ordergate program(platform);
        QDir::setCurrent(QDir::tempPath());
        // The lists load beside the start-up; taking them waits for the load.
        const CustomerLists& lists = program.Herald().lists();
        const QStringList errors = platform.texts(Call::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(QLatin1String("Address.txt")), qPrintable(errors[0]));
        // The list before the failing one is used, those after it are not.
        QCOMPARE(lists.blocked().size(), 1);
        QCOMPARE(lists.blocked().at(0), QStringLiteral("a@example.com"));
        QVERIFY(lists.admitted().isEmpty());
    }

    void prepareNotificationOpensTheMailerThenCloses()
    {
        Start s;
        s.activate({swregLine("1", "Tool", "a@example.com")});
        bool mailerShown = false;
        QObject::connect(&s.herald(), &THerald::runFinished, &s.herald(), [&] {
            whenModal(&s.program->emailForm(), [&](QWidget* w) {
                mailerShown = true;
                w->close();
            });
            QTimer::singleShot(0, s.herald().BitBtn2, &QPushButton::click);
        });
        QCOMPARE(s.herald().exec(), int(QDialog::Accepted));
        QVERIFY(mailerShown);
    }

    // Run 2 lost a customer of run 1 and gained one: asked about the one,
    // offered a message to the other.
    void missingCustomersAreAskedAboutAndNewOnesOffered()
    {
        Start s;
        s.activate({swregLine("1", "Tool", "a@example.com"), swregLine("2", "Tool", "b@example.com")});
        QVERIFY(s.showResults());
        QCOMPARE(s.platform.count(Call::Ask), 0);
        s.platform.setClipboardText(
            QStringList {swregLine("1", "Tool", "a@example.com"), swregLine("3", "Tool", "c@example.com")}.join(
                "\r\n"));
        s.form().ReadClipboardClick();
        const QString batch = slashed(s.folder) + "MakePass.ksh";
        const QByteArray first = readFile(batch);

        s.platform.queueAnswer(Platform::Answer::Cancel);
        QVERIFY(!s.showResults());
        QCOMPARE(s.platform.texts(Call::Ask),
            QStringList {"1 customers of the last run are not in this report and will lose access."});
        QCOMPARE(readFile(batch), first);

        s.platform.queueAnswer(Platform::Answer::Yes); // keep their accounts
        s.platform.queueAnswer(Platform::Answer::Yes); // then notify the new customers only
        QObject::connect(&s.herald(), &THerald::runFinished, &s.herald(), [&] {
            whenModal(&s.program->emailForm(), [](QWidget* w) { w->close(); });
            QTimer::singleShot(0, s.herald().BitBtn2, &QPushButton::click);
        });
        QCOMPARE(s.herald().exec(), int(QDialog::Accepted));
        QVERIFY(readFile(batch).contains("htpasswd -b .htpasswd b@example.com 2\r\n"));
        QVERIFY2(s.herald().RunNotes->toPlainText().contains("1 new, 2 kept, 0 removed, 0 changed"),
            qPrintable(s.herald().RunNotes->toPlainText()));
        QVERIFY(s.platform.texts(Call::Ask).last().startsWith("1 of the 2 customers are new in this run"));
        QVERIFY(readFile(s.form().SettingsPath).contains("email_Tool_new.txt"));
        QCOMPARE(fileLines(slashed(s.folder) + "email_Tool_new.txt"), QStringList {"c@example.com , 3"});
        VERIFY_NO_FAULTS(s);
    }

    void helpOpensTheStoreTopic()
    {
        Start s;
        s.herald().BitBtn3->click();
        QVERIFY(s.platform.texts(Call::OpenUrl).value(0).endsWith(QLatin1String("/index.html#swreg")));
    }

    void viewsShowLargeBlocksWithoutMeasuringEachRow()
    {
        Start s;
        QTableView* memo = s.herald().Memo1;
        // Rows are never measured one by one: every row has the fixed height.
        QCOMPARE(memo->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        LineBlock lines;
        for (int i = 0; i < 200000; ++i)
            lines.append(QByteArrayView(i == 777 ? QByteArray(300, 'x') : QByteArray("short line")));
        auto* model = qobject_cast<LineListModel*>(memo->model());
        QVERIFY(model);
        model->setLines(std::move(lines));
        QCOMPARE(model->rowCount(), 200000);
        QCOMPARE(model->index(777).data().toString(), QString(300, u'x'));
        QCOMPARE(model->index(199999).data().toString(), QStringLiteral("short line"));
        // Every row is as wide as the widest line, so nothing is cut off.
        const QSize size = model->index(0).data(Qt::SizeHintRole).toSize();
        const int needed = QFontMetrics(memo->font()).horizontalAdvance(QString(300, u'x'));
        QVERIFY2(size.width() >= needed,
            qPrintable(QStringLiteral("%1 < %2 (%3)").arg(size.width()).arg(needed).arg(memo->font().toString())));
        QCOMPARE(model->index(199999).data(Qt::SizeHintRole).toSize(), size);
        QVERIFY(!model->index(200000).data().isValid());
    }
};

QTEST_MAIN(ResultsWindowTest)
#include "test_app_results.moc"
