#pragma once

#include "orders/CustomerLists.h"
#include "orders/InputFiles.h"
#include "orders/ScriptRun.h"

#include <QDialog>
#include <QFutureWatcher>
#include <memory>

class QFrame;
class QLabel;
class QTableView;
class QProgressBar;
class QPushButton;
class QPlainTextEdit;
class QTextEdit;

namespace og {

class LineListModel;
class Platform;
class TForm1;
class TemailForm;

// The results window: each showing makes one run for the product chosen on
// the main window, writes the batch file and the address file, and shows
// both with the run statistics.
//
// The run itself works on a worker thread while the window shows a busy
// bar, so a report of a million lines never freezes the window; the main
// window is blocked behind this modal one meanwhile, so nothing the run
// reads can change under it.
class THerald : public QDialog {
    Q_OBJECT
public:
    // Reads the customer lists from the current working folder.
    THerald(Platform& platform, TForm1& form1, QWidget* parent = nullptr);
    ~THerald() override;

    void setMailer(TemailForm* emailForm) { emailForm_ = emailForm; }
    // Reads the customer lists from this folder from now on (again, when
    // another than the one read).
    void setListsFolder(const QString& folder);

    // The customer lists, once the load begun at creation has ended (its
    // error, if any, has then been shown).
    const CustomerLists& lists();
    bool isRunning() const { return running_; }
    // Lines of the last run, as the two views show them.
    const LineBlock& scriptLines() const;
    const LineBlock& addressLines() const;

    QFrame* Results;
    QLabel* Label2;
    QTableView* Memo1;
    QLabel* Label1;
    QTableView* emailBox;
    QLabel* Label3;
    QTextEdit* RichEdit1;
    // What the last run could not use (skipped report lines, lists not
    // found); hidden when there is nothing to say.
    QPlainTextEdit* RunNotes;
    QProgressBar* RunProgress;
    QPushButton* BitBtn2;
    // Opens the program folder (the batch file, the address files, the
    // settings) in the file manager.
    QPushButton* OpenFolder;
    QPushButton* BitBtn3;
    QPushButton* BitBtn1;

public slots:
    // Starts a run (once per showing; showing the window calls it).
    void FormActivate();
    void BitBtn2Click();
    void BitBtn3Click();

    void done(int result) override;

signals:
    // The run has ended: its files are written and shown, or its error has
    // been reported.
    void runFinished(bool succeeded);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Outcome {
        RunResult result;
        QString error; // empty on success
    };

    void FormCreate();
    void layOut();
    void collectLists();
    void startRun(const RunRequest& request);
    void finishRun();
    // Asks what becomes of earlier customers missing from the report, and
    // makes the run again with the answer; false when the vendor cancelled.
    bool askAboutMissing(qsizetype keepable);
    // The address file the mailer is to take: the whole one or, when the
    // vendor chooses, the new customers' one. Empty when cancelled.
    QString notificationFile();

    Platform& platform_;
    TForm1& form1_;
    TemailForm* emailForm_ = nullptr;
    std::unique_ptr<ListLoad> listLoad_;
    LineListModel* scriptModel_;
    LineListModel* addressModel_;
    QFutureWatcher<Outcome> watcher_;
    QFutureWatcher<void> listsWatcher_;
    bool listsCollected_ = false;
    bool activatedThisShowing_ = false;
    bool running_ = false;
    RunRequest request_; // of the run going on or last made
    // The last run's address files, and how many new customers of how many.
    QString wholeFile_, newFile_;
    qsizetype newCustomers_ = 0, customers_ = 0;
};

} // namespace og
