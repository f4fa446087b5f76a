// The windows of an installed copy. This executable is built into bin/ of a
// tree that the install rules fill (the install_layout fixture), so the help
// page lies in share/ordergate/ and not beside the executable.

#include "AppTestSupport.h"

#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"
#include "app/mailer/EmailForm.h"
#include "tests/support/ScriptedPlatform.h"

#include <QPushButton>
#include <QTest>
#include <QUrl>

using namespace og;
using namespace og::test;
using Call = ScriptedPlatform::Call;

class InstalledLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { isolateRuntimeFolder(); }

    void helpButtonsOpenTheInstalledPage()
    {
        const QString bin = QCoreApplication::applicationDirPath();
        const QString page = QDir::cleanPath(bin + QLatin1String("/../share/ordergate/index.html"));
        QVERIFY2(QFile::exists(page), qPrintable(page));
        QVERIFY(!QFile::exists(bin + QLatin1String("/index.html")));

        QTemporaryDir folder; // the program folder, without a help page
        ScriptedPlatform platform;
        Ordergate program(platform);
        program.Form1().setProgramFolder(slashed(folder));
        program.Form1().BitBtn2->click();
        program.Herald().BitBtn3->click();
        program.emailForm().findChild<QPushButton*>(QStringLiteral("BitBtn4"))->click();

        const QString url = QUrl::fromLocalFile(page).toString();
        QCOMPARE(platform.texts(Call::OpenUrl),
            QStringList({url + QLatin1String("#guide"), url + QLatin1String("#swreg"), url + QLatin1String("#send")}));
    }

    void windowsCarryTheProgramIcon()
    {
        Ordergate::initApplication();
        ScriptedPlatform platform;
        Ordergate program(platform);
        for (QWidget* window : {static_cast<QWidget*>(&program.Form1()), static_cast<QWidget*>(&program.Herald()),
                 static_cast<QWidget*>(&program.emailForm())})
            QCOMPARE(window->windowIcon().availableSizes().size(), 7);
    }
};

QTEST_MAIN(InstalledLayoutTest)
#include "test_app_installed.moc"
