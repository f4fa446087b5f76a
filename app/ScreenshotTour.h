#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QWidget;

namespace og {

class Ordergate;

// Pictures of the windows for the documentation. When OG_SCREENSHOTS names a
// folder, the program walks through its windows by itself once the main
// window has read the report: it saves the main window, the about box, the
// mailer window (only when OG_SCREENSHOT_MAILER is set, for the mailer's own
// picture) and the results window after its run, each as a PNG of the
// window's own pixels, and then ends the way a user would, through the
// results window's "Close". Used by tools/screenshots; nobody else sets it.
class ScreenshotTour : public QObject {
    Q_OBJECT
public:
    static std::unique_ptr<ScreenshotTour> fromEnvironment(Ordergate& program);

    ScreenshotTour(Ordergate& program, const QString& folder, bool withMailer);

private:
    void start();
    void save(QWidget* window, const QString& fileName);
    // Saves the modal window that opens next, then closes it.
    void captureNextModal(const QString& fileName, int attemptsLeft = 50);

    Ordergate& program_;
    QString folder_;
    bool withMailer_;
};

} // namespace og
