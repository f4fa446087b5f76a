// The single-instance guard: in one process with two guards, and with the
// real program started twice.

#include "AppTestSupport.h"

#include "app/SingleInstance.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <csignal>

using namespace og;
using namespace og::test;

namespace {

// A started program whose stdout is watched for trace lines.
struct Instance {
    QProcess process;
    QByteArray out;

    Instance(const QString& runtime, const QString& work)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("OG_TRACE_INSTANCE", "1");
        env.remove("OG_SCREENSHOTS");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(work);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        const QString report = work + "/report.csv";
        process.start(QCoreApplication::applicationDirPath() + "/ordergate", {report});
    }
    ~Instance()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Waits (at most timeoutMs) for a line on stdout.
    bool waitFor(const QByteArray& line, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!out.contains(line)) {
            if (clock.elapsed() > timeoutMs)
                return false;
            if (process.state() == QProcess::NotRunning) {
                out += process.readAllStandardOutput();
                return out.contains(line);
            }
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        return true;
    }
};

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;
    QTemporaryDir work_;

private slots:
    void initTestCase()
    {
        isolateRuntimeFolder();
        QGuiApplication::setApplicationDisplayName("OrdergateTest");
        QFile::setPermissions(
            runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        writeFile(work_.path() + "/report.csv", swregLine("1", "Tool", "a@example.com").toUtf8() + "\r\n");
    }

    void secondGuardFindsTheFirstAndRaisesItsWindow()
    {
        QWidget firstWindow;
        firstWindow.show();
        firstWindow.showMinimized();
        TSingleInstance first(&firstWindow);
        QVERIFY(first.SwitchToPrevious());
        QVERIFY(!first.Loaded());
        QVERIFY(!first.anotherInstanceFound());
        QSignalSpy raised(&first, &TSingleInstance::raiseRequested);

        QWidget secondWindow;
        TSingleInstance second(&secondWindow);
        QSignalSpy found(&second, &TSingleInstance::AlreadyExist);
        QVERIFY(second.Loaded());
        QVERIFY(second.anotherInstanceFound());
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0][0].value<QObject*>(), &second);
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 1, 10000);
        QVERIFY(!firstWindow.isMinimized());
        QVERIFY(firstWindow.isVisible());
    }

    void aSecondStartHandsItsReportToTheFirst()
    {
        QWidget firstWindow;
        TSingleInstance first(&firstWindow);
        QVERIFY(!first.Loaded());
        QSignalSpy handed(&first, &TSingleInstance::reportHandedOver);
        QWidget secondWindow;
        TSingleInstance second(&secondWindow);
        second.setSwitchToPrevious(false);
        QVERIFY(second.Loaded());
        const QString path = work_.path() + QStringLiteral("/März report.csv");
        second.handOverReport(path);
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 1, 10000);
        QCOMPARE(handed[0][0].toString(), path);
    }

    void withoutSwitchingTheFirstIsLeftAlone()
    {
        QWidget firstWindow;
        TSingleInstance first(&firstWindow);
        QVERIFY(!first.Loaded());
        QSignalSpy raised(&first, &TSingleInstance::raiseRequested);
        QWidget secondWindow;
        TSingleInstance second(&secondWindow);
        second.setSwitchToPrevious(false);
        QVERIFY(second.Loaded());
        QTest::qWait(300);
        QCOMPARE(raised.size(), 0);
    }

    void theMarkerGoesWithTheFirstInstance()
    {
        {
            QWidget w;
            TSingleInstance first(&w);
            QVERIFY(!first.Loaded());
            QVERIFY(QFile::exists(TSingleInstance::lockFilePath("OrdergateTest")));
        }
        QVERIFY(!QFile::exists(TSingleInstance::lockFilePath("OrdergateTest")));
        QWidget w;
        TSingleInstance next(&w);
        QVERIFY(!next.Loaded());
    }

    void startingTheProgramTwiceRaisesTheFirst()
    {
        Instance first(runtime_.path(), work_.path());
        QVERIFY2(first.waitFor("single-instance: first\n"), first.out.constData());
        QVERIFY2(first.waitFor("main window: shown\n"), first.out.constData());

        Instance second(runtime_.path(), work_.path());
        QVERIFY(second.process.waitForFinished(20000));
        second.out += second.process.readAllStandardOutput();
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY2(second.out.contains("single-instance: second\n"), second.out.constData());
        QVERIFY2(!second.out.contains("main window: shown"), second.out.constData());

        QVERIFY2(first.waitFor("single-instance: raised\n"), first.out.constData());
        QCOMPARE(first.process.state(), QProcess::Running);
    }

    void aCrashedInstanceDoesNotBlockTheNextStart()
    {
        {
            Instance crashed(runtime_.path(), work_.path());
            QVERIFY2(crashed.waitFor("single-instance: first\n"), crashed.out.constData());
            ::kill(pid_t(crashed.process.processId()), SIGKILL);
            QVERIFY(crashed.process.waitForFinished(10000));
        }
        Instance next(runtime_.path(), work_.path());
        QVERIFY2(next.waitFor("main window: shown\n"), next.out.constData());
        QVERIFY(next.out.contains("single-instance: first\n"));
        // And it still answers a third start.
        Instance third(runtime_.path(), work_.path());
        QVERIFY(third.process.waitForFinished(20000));
        QCOMPARE(third.process.exitCode(), 0);
        QVERIFY2(next.waitFor("single-instance: raised\n"), next.out.constData());
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "test_app_singleinstance.moc"
