// Drives the real windows offscreen through one whole run of a report file,
// the way a vendor does it: start, read the report, "Create script &&
// address files", wait for the results window to show the files and the
// statistics. Prints the phases' times in milliseconds as key=value lines.
//
//   og_bench_gui REPORT PROGRAM_FOLDER
// The customer lists are read from the current working folder.

#include "app/HeraldF.h"
#include "app/LineListModel.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <cstdio>

namespace {

// Answers like a vendor who does not want to be asked: No to questions;
// every box is printed, since none is expected.
class UnattendedPlatform : public og::Platform {
public:
    int boxes = 0;
    void showError(QWidget*, const QString& text) override { note("error", text); }
    bool confirm(QWidget*, const QString& text) override
    {
        note("question", text);
        return false;
    }
    void showInformation(QWidget*, const QString& text) override { note("information", text); }
    void showWarning(QWidget*, const QString& text) override { note("warning", text); }
    QString openFileName(QWidget*, const og::FileDialogRequest&) override { return {}; }
    QStringList openFileNames(QWidget*, const og::FileDialogRequest&) override { return {}; }
    QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
    QString clipboardText() override { return {}; }
    void copyToClipboard(const QString&) override { }
    Answer ask(QWidget*, const QString& text) override
    {
        note("question", text);
        return Answer::No;
    }
    bool openUrl(const QString&, QString* = nullptr) override { return true; }
    bool openFile(const QString&, QString* = nullptr) override { return true; }
    KeyringReply readPassword(const QString&) override { return {KeyringStatus::NoKeyring, {}, {}}; }
    KeyringReply writePassword(const QString&, const QString&) override { return {KeyringStatus::NoKeyring, {}, {}}; }
    KeyringReply deletePassword(const QString&) override { return {KeyringStatus::NoKeyring, {}, {}}; }
    bool askPassword(QWidget*, const QString& text, QString*) override
    {
        note("password", text);
        return false;
    }

private:
    void note(const char* kind, const QString& text)
    {
        ++boxes;
        std::fprintf(stderr, "unexpected %s box: %s\n", kind, qPrintable(text));
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    og::Ordergate::initApplication();
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: og_bench_gui REPORT PROGRAM_FOLDER\n");
        return 2;
    }
    QString folder = args[2];
    if (!folder.endsWith(u'/'))
        folder += u'/';

    UnattendedPlatform platform;
    og::Ordergate program(platform);
    og::TForm1& form = program.Form1();
    og::THerald& herald = program.Herald();
    form.setReportFile(args[1]);
    form.setProgramFolder(folder);

    qint64 started = clock.elapsed(), read = 0, ran = 0, shown = 0;
    int lines = 0, addresses = 0;
    const int jumps = 50;
    double jumpMs = 0;
    QObject::connect(&form, &og::TForm1::activatedOnce, &form, [&] {
        read = clock.elapsed();
        QTimer::singleShot(0, &form, &og::TForm1::Button1Click);
    });
    QObject::connect(&herald, &og::THerald::runFinished, &herald, [&](bool ok) {
        ran = clock.elapsed();
        if (!ok)
            std::fprintf(stderr, "the run failed\n");
        // Paint both views at their ends, as a user scrolling down would.
        herald.Memo1->scrollToBottom();
        herald.emailBox->scrollToBottom();
        herald.grab();
        shown = clock.elapsed();
        // Responsiveness: jump around both views and repaint, as a user
        // dragging the scroll bars does; the mean time per jump.
        QElapsedTimer scrolling;
        scrolling.start();
        for (int i = 1; i <= jumps; ++i) {
            for (QTableView* view : {herald.Memo1, herald.emailBox}) {
                QScrollBar* bar = view->verticalScrollBar();
                bar->setValue(int(qint64(bar->maximum()) * ((i * 37) % jumps) / jumps));
                view->viewport()->repaint();
            }
        }
        jumpMs = double(scrolling.nsecsElapsed()) / 1e6 / jumps;
        lines = herald.Memo1->model()->rowCount();
        addresses = herald.emailBox->model()->rowCount();
        QTimer::singleShot(0, herald.BitBtn1, &QPushButton::click);
    });
    program.showMainWindow();
    const int code = QApplication::exec();

    std::printf("startup_ms=%lld\nread_ms=%lld\nrun_ms=%lld\nshow_ms=%lld\nwindow_total_ms=%lld\n"
                "scroll_jump_ms=%.2f\nscript_lines=%d\naddress_lines=%d\nboxes=%d\n",
        started, read - started, ran - read, shown - ran, shown, jumpMs, lines, addresses, platform.boxes);
    return code == 0 && shown > 0 && platform.boxes == 0 ? 0 : 1;
}
