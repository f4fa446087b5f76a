#include "app/Ordergate.h"

#include "app/DMcsv.h"
#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/ScreenshotTour.h"
#include "app/SingleInstance.h"
#include "app/Trace.h"
#include "app/mailer/EmailForm.h"
#include "platform/ScreenFit.h"

#include "platform/Version.h"
#include <QFileInfo>

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QStyle>

namespace og {

void Ordergate::initApplication()
{
    const QString title = QString::fromUtf8(ApplicationTitle);
    QCoreApplication::setApplicationName(title);
    QGuiApplication::setApplicationDisplayName(title);
    QCoreApplication::setApplicationVersion(VersionString(QStringLiteral("ProductVersion")));
    // Every window takes the application's icon unless it sets its own.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/ordergate-%1.png").arg(size), QSize(size, size));
    QGuiApplication::setWindowIcon(icon);
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("ordergate"));
}

Ordergate::Ordergate(Platform& platform)
{
    form1_ = std::make_unique<TForm1>(platform);
    herald_ = std::make_unique<THerald>(platform, *form1_);
    emailForm_ = std::make_unique<TemailForm>(platform, nullptr);
    dm_ = std::make_unique<TDM>();
    form1_->setWindows(herald_.get(), emailForm_.get());
    herald_->setMailer(emailForm_.get());
}

Ordergate::~Ordergate()
{
    // In reverse order of creation, so the main window's guard (the instance
    // marker) goes last.
    dm_.reset();
    emailForm_.reset();
    herald_.reset();
    form1_.reset();
}

bool Ordergate::isSecondInstance() const
{
    return form1_->SingleInstance1->anotherInstanceFound();
}

void Ordergate::showMainWindow()
{
    form1_->adjustSize();
    fitIntoScreen(form1_.get());
    form1_->show();
    form1_->raise();
    form1_->activateWindow();
    traceLine("main window: shown");
}

int Ordergate::run(Platform& platform, const QString& reportFile)
{
    Ordergate program(platform);
    if (!reportFile.isEmpty())
        program.Form1().setReportFile(reportFile);
    if (program.isSecondInstance()) {
        if (!reportFile.isEmpty())
            program.Form1().SingleInstance1->handOverReport(QFileInfo(reportFile).absoluteFilePath());
        // Never shown: the quit request is waiting when the loop starts.
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return QApplication::exec();
    }
    std::unique_ptr<ScreenshotTour> tour = ScreenshotTour::fromEnvironment(program);
    program.showMainWindow();
    return QApplication::exec();
}

} // namespace og
