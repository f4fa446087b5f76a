#pragma once

#include "app/mailer/MailerPassword.h"
#include "mailer/MessageDraft.h"
#include "mailer/send/SendRun.h"
#include "platform/Platform.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QThread;

namespace og {

class ReflowForm;

class LoginControls;
class MessageControls;
class PreviewDialog;
class SpellDialog;
class SpellDialogue;
class TTlsContext;
class TVSSpell;

// The notification mailer window. Shown modally from the main window and from
// the results window; "Send Now" sends one message per customer of an address
// file, off the GUI thread; Stop ends the run at once, closing the
// connections under way.
class TemailForm : public QDialog {
    Q_OBJECT
public:
    explicit TemailForm(Platform& platform, QWidget* parent = nullptr);
    ~TemailForm() override;

    // Full path of ordergate.ini, and the folder message.txt is written to
    // (ending in "/"). Both default to the program's own folder.
    QString SettingsPath;
    QString ProgramFolder;
    // The folder of the vendor's lists: its unsubscribed.txt and bounced.txt
    // name the customers a run leaves out, and "Check for bounces..." adds
    // to them. Empty: the working folder.
    QString ListsFolder;

    // Program-wide: set by any change of the sender's settings, never reset.
    bool SettingsChanged() const { return settingsChanged_; }

    // The spelling checker and who it asks about unknown words (the spelling
    // dialog unless a test hands in a script).
    TVSSpell& VSSpell1() { return *speller_; }
    void setSpellDialogue(SpellDialogue* dialogue);
    // Replaces the spelling checker (another language or word list).
    void setSpellChecker(std::unique_ptr<TVSSpell> speller);

    // The body as the lines the field shows (wrapped paragraphs as several
    // lines, a final empty line not counted), with where the vendor broke
    // the lines.
    MessageBody body() const;
    QStringList bodyLines() const { return body().lines(); }

    bool isSending() const { return sending_; }
    // Processes events until the send run under way has ended; false when it
    // is still running after timeoutMs.
    bool waitForRunEnd(int timeoutMs);

    // Handlers.
    void FormCreate();
    void FormActivate();
    void Button1Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn4Click();
    void AttAddClick();
    void AttMinusClick();
    void SigCheckClick();
    void UpdateSigControls();
    void SigLoadClick();
    void SigViewClick();
    void SpellerClick();
    void StopClick();
    // Shows the first customer's message as the run would send it.
    void PreviewClick();
    // Reads the mailbox of the [mailbox] settings for bounces and unsubscribe
    // requests, adds to the lists, and shows what it found.
    void BouncesClick();
    void MyAddressChange() { settingsChanged_ = true; }
    void OrganChange() { settingsChanged_ = true; }
    void MyServerChange() { settingsChanged_ = true; }
    void CheckYourselfClick() { settingsChanged_ = true; }
    void WantLogClick() { settingsChanged_ = true; }
    void SecurityChange() { settingsChanged_ = true; }
    void UserNameChange() { settingsChanged_ = true; }
    // Another user or server has another remembered password, unless the
    // vendor has typed one since the last look-up.
    void LoginKeyChange();

    static constexpr const char* PlaceholderFile = "click button to select -->>>";

signals:
    // Every text the status bar is given during a run, in order.
    void statusShown(const QString& text);
    // The send run has ended (completed, failed or stopped).
    void runFinished();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    int addServerRows(ReflowForm* grid, int row);
    int addMessageRows(ReflowForm* grid, int row);
    int addRunRows(ReflowForm* grid, int row);
    void layOut(ReflowForm* grid);
    void connectControls();
    void setTabOrder();
    void showStatus(const QString& text);
    void openExternally(const QString& path, const QString& missingText);
    void setRunning(bool running);
    void runEnded();
    // Asks whether to stop a run under way; true when the window may close.
    bool stopBeforeClosing();
    // The unsent message (EmailFormDraft.cpp): as the fields hold it; the
    // kept one filled in when the fields are empty; when it was edited since
    // shown, the question whether to keep it (false: Cancel, stay); sent or
    // discarded, gone from the fields and the file.
    MessageDraft currentDraft() const;
    QString draftPath() const;
    void restoreDraft();
    bool keepDraftBeforeClosing();
    void forgetDraft();
    MailerSettings settingsFromControls() const;
    // How long a run of the chosen address file takes at the chosen server's
    // pace, and what the day's allowance leaves for later (EmailFormEstimate.cpp).
    void showEstimate();
    void loadPassword(const MailerSettings& settings);
    bool passwordForRun(MailerInput& input);
    // The password, or the tokens of the chosen sign-in, for the run.
    bool loginForRun(MailerInput& input);
    MailerInput collectInput() const;
    // Runs the checks of Send Now; a failure is shown and the focus goes to
    // the field it names. True when all pass.
    bool checkInput(const MailerInput& input);
    // The fields' checks before a run (run_ prepared): a box with the
    // problems, or the question whether to send to the others when some
    // customers' own attachments are missing. False: send nothing.
    bool confirmFields(const MailerInput& input);
    // Names the customers the suppression lists leave out and asks whether
    // to send to the others; a list that cannot be read is shown. False:
    // send nothing.
    bool confirmSuppressed(const MailerInput& input);
    // The last question before a run: to how many customers, the subject,
    // the server. Its default answer is Cancel. False: send nothing.
    bool confirmMailing(const MailerInput& input);
    QString listsFolder() const;
    void appendBodyLines(const QStringList& lines);
    // The displayed lines of the field's first `blocks` paragraphs.
    MessageBody bodyOfBlocks(int blocks) const;
    // When the field already ends with the signature (from an earlier Send
    // Now that failed or was stopped), the input's body leaves it out, since
    // the run appends it; true then.
    bool leaveOutHeldSignature(MailerInput& input, const QStringList& signature) const;
    // Send Now's steps after the checks: a new run that reports to the
    // window; its preparation (signature, fields, resume or start over),
    // false when nothing is to be sent; the worker that sends.
    void newRun();
    ResumeAnswer askResume(const ResumeState& earlier);
    bool prepareRun(MailerInput& input, QStringList* signature, bool* signatureHeld);
    void startRun(const MailerInput& input);

    Platform& platform_;

    QLineEdit* MyFile = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLineEdit* MyAddress = nullptr;
    QLineEdit* Organ = nullptr;
    QLineEdit* MyServer = nullptr;
    QComboBox* Security = nullptr;
    QLineEdit* UserName = nullptr;
    LoginControls* Login = nullptr;
    QLabel* PasswordLabel = nullptr;
    QLineEdit* Password = nullptr;
    QCheckBox* RememberPassword = nullptr;
    QComboBox* AttBox = nullptr;
    QPushButton* AttAdd = nullptr;
    QPushButton* AttMinus = nullptr;
    QLineEdit* MySubject = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QCheckBox* SigCheck = nullptr;
    QLineEdit* SigFile = nullptr;
    QPushButton* SigLoad = nullptr;
    QPushButton* SigView = nullptr;
    QCheckBox* CheckYourself = nullptr;
    QCheckBox* WantLog = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Speller = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* PreviewButton = nullptr;
    QPushButton* BouncesButton = nullptr;
    QSpinBox* RateBox = nullptr;
    QSpinBox* ConnectionsBox = nullptr;
    QLabel* Estimate = nullptr; // "245 customers at 30 a minute: about 9 minutes"
    // The address file counted last, so typing in the server field does not
    // read it again: its path, when it changed, how many customers.
    QString estimateFile_;
    QDateTime estimateStamp_;
    int estimateCustomers_ = 0;
    MessageControls* Message = nullptr;
    PreviewDialog* previewDialog_ = nullptr;
    QPushButton* StopButton = nullptr;
    QProgressBar* SendProgress = nullptr;
    QStatusBar* MyBar = nullptr;
    QPlainTextEdit* Memo2 = nullptr;

    FileDialogRequest OpenDialog1;
    FileDialogRequest OpenDialog2;
    FileDialogRequest OpenAny;

    std::unique_ptr<TVSSpell> speller_;
    SpellDialog* spellDialog_ = nullptr;
    SpellDialogue* spellDialogue_ = nullptr;

    // The TLS sessions of the last run, resumed by the next one.
    std::shared_ptr<TTlsContext> tlsSessions_;

    MailerPassword password_;
    QString passwordKey_;        // the login the password field was filled for
    bool passwordTyped_ = false; // typed by the vendor since then
    // The settings as last loaded: the keys without a control (client name,
    // trust, time-out) go back to the file as they came.
    MailerSettings loaded_;
    bool settingsChanged_ = false;
    bool firstShowing_ = true;
    bool sending_ = false;
    bool focusActionsSuppressed_ = false;
    QPointer<QWidget> focusBeforeRun_;
    std::unique_ptr<SendRun> run_;
    QThread* worker_ = nullptr;
    QString failure_;
    bool failed_ = false;
    bool signInRefused_ = false; // the provider refused the sign-in during the run
    bool closeAfterRun_ = false;
    MessageDraft draftShown_; // the message as the window was shown or last kept
    // The run being prepared: whom the checks leave out, whether it resumes
    // an earlier one, and how many customers it mails.
    QStringList leftOut_;
    bool resuming_ = false;
    int customersInRun_ = 0;
    SendOutcome outcome_;
};

} // namespace og
