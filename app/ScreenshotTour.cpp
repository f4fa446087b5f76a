#include "app/ScreenshotTour.h"

#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace og {

namespace {
constexpr int SettleMs = 400; // lets the window finish painting before the grab
} // namespace

std::unique_ptr<ScreenshotTour> ScreenshotTour::fromEnvironment(Ordergate& program)
{
    const QString folder = qEnvironmentVariable("OG_SCREENSHOTS");
    if (folder.isEmpty())
        return nullptr;
    return std::make_unique<ScreenshotTour>(program, folder, qEnvironmentVariableIsSet("OG_SCREENSHOT_MAILER"));
}

ScreenshotTour::ScreenshotTour(Ordergate& program, const QString& folder, bool withMailer)
    : program_(program),
      folder_(folder),
      withMailer_(withMailer)
{
    QDir().mkpath(folder_);
    connect(&program_.Form1(), &TForm1::activatedOnce, this,
        [this] { QTimer::singleShot(SettleMs, this, &ScreenshotTour::start); });
}

void ScreenshotTour::save(QWidget* window, const QString& fileName)
{
    const QString path = folder_ + u'/' + fileName;
    if (!window->grab().save(path))
        std::fprintf(stderr, "ordergate: could not save %s\n", qPrintable(path));
    else
        std::fprintf(stderr, "ordergate: saved %s\n", qPrintable(path));
}

void ScreenshotTour::captureNextModal(const QString& fileName, int attemptsLeft)
{
    QTimer::singleShot(SettleMs, this, [this, fileName, attemptsLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (attemptsLeft > 0)
                captureNextModal(fileName, attemptsLeft - 1);
            return;
        }
        save(modal, fileName);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
}

void ScreenshotTour::start()
{
    TForm1& form1 = program_.Form1();
    save(&form1, QStringLiteral("main-window.png"));

    captureNextModal(QStringLiteral("about-box.png"));
    form1.BitBtn4Click();

    if (withMailer_) {
        captureNextModal(QStringLiteral("mailer-window.png"));
        form1.SpeedButton1Click();
    }

    THerald& herald = program_.Herald();
    connect(&herald, &THerald::runFinished, this, [this, &herald] {
        QTimer::singleShot(SettleMs, this, [this, &herald] {
            save(&herald, QStringLiteral("results-window.png"));
            herald.BitBtn1->click();
        });
    });
    form1.Button1Click();
}

} // namespace og
