// The mailer window's event handlers and the send run's hand-over to a worker.
#include "app/mailer/EmailForm.h"

#include "app/mailer/LoginControls.h"
#include "app/mailer/MessageControls.h"
#include "app/mailer/PreviewDialog.h"
#include "common/ProfileFile.h"
#include "mailer/MailerSettings.h"
#include "mailer/send/InputChecks.h"
#include "mailer/signin/AccessTokenSource.h"
#include "platform/ScreenFit.h"
#include "platform/VSSpell.h"
#include "platform/Version.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace og {

namespace {

const QString FailedText = QStringLiteral("Sending failed: ");

// Loading the settings goes through the same change events as typing, so
// only an actual change may fire them.
void setTextIfChanged(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

void TemailForm::FormCreate()
{
    settingsChanged_ = false;
    UpdateSigControls();
    AttBox->clear();
}

void TemailForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (!sending_) {
        // What the last showing's run said is over: a new showing counts from zero.
        showStatus(QString());
        SendProgress->setRange(0, 1);
        SendProgress->setValue(0);
        SendProgress->setTextVisible(false);
        SendProgress->setVisible(false);
    }
    FormActivate();
    if (!sending_)
        restoreDraft();
    if (firstShowing_) {
        firstShowing_ = false;
        fitIntoScreen(this);
        MyAddress->setFocus(Qt::OtherFocusReason);
    }
}

void TemailForm::FormActivate()
{
    if (!ProfileFile::exists(SettingsPath))
        return;
    MailerSettings settings = settingsFromControls();
    settings.addressFile = QLatin1String(PlaceholderFile);
    settings.load(SettingsPath);
    setTextIfChanged(MyAddress, settings.sender);
    setTextIfChanged(Organ, settings.organisation);
    setTextIfChanged(MyServer, settings.server);
    MyFile->setText(settings.addressFile);
    WantLog->setChecked(settings.wantLog);
    CheckYourself->setChecked(settings.copyToSelf);
    SigCheck->setChecked(settings.useSignature);
    SigFile->setText(settings.signatureFile);
    if (const int index = Security->findData(int(settings.security)); index != Security->currentIndex())
        Security->setCurrentIndex(index);
    setTextIfChanged(UserName, settings.userName);
    Login->load(settings);
    Message->load(settings);
    if (RateBox->value() != settings.ratePerMinute)
        RateBox->setValue(settings.ratePerMinute);
    if (ConnectionsBox->value() != settings.connections)
        ConnectionsBox->setValue(settings.connections);
    loaded_ = settings;
    loadPassword(settings);
    // The provider named in the settings is known now.
    Login->showSignedIn();
    showEstimate();
}

void TemailForm::loadPassword(const MailerSettings& settings)
{
    const MailerPassword::Remembered remembered = password_.load(settings.userName, settings.server);
    passwordKey_ = MailerPassword::keyFor(settings.userName, settings.server);
    passwordTyped_ = false;
    Password->setText(remembered.password);
    RememberPassword->setChecked(remembered.found);
    RememberPassword->setEnabled(password_.keyringAvailable());
    RememberPassword->setToolTip(
        password_.keyringAvailable() ? QStringLiteral("keep the password in the desktop keyring") : password_.why());
    if (!password_.keyringAvailable())
        showStatus(password_.why());
}

void TemailForm::LoginKeyChange()
{
    const MailerSettings settings = settingsFromControls();
    if (passwordTyped_ || MailerPassword::keyFor(settings.userName, settings.server) == passwordKey_)
        return;
    loadPassword(settings);
}

bool TemailForm::passwordForRun(MailerInput& input)
{
    const MailerSettings& s = input.settings;
    if (s.userName.isEmpty())
        return true;
    if (input.password.isEmpty() && !password_.ask(this, s.userName, s.server, &input.password)) {
        showStatus(QStringLiteral("Not sent: no password was given"));
        return false;
    }
    const QString note = password_.keep(s.userName, s.server, input.password, RememberPassword->isChecked());
    if (!note.isEmpty())
        showStatus(note);
    return true;
}

bool TemailForm::loginForRun(MailerInput& input)
{
    const MailerSettings& s = input.settings;
    if (s.userName.isEmpty() || s.login == LoginMethod::TokenCommand)
        return true;
    if (s.login == LoginMethod::Password)
        return passwordForRun(input);
    QString problem;
    input.tokens = Login->tokensForRun(s, &problem);
    if (!input.tokens)
        platform_.showError(this, problem);
    return input.tokens != nullptr;
}

bool TemailForm::stopBeforeClosing()
{
    if (!sending_)
        return true;
    if (platform_.confirm(this, QStringLiteral("Messages are being sent. Stop sending and close the window?"))) {
        closeAfterRun_ = true;
        StopClick();
    }
    // The window closes once the run has ended.
    return false;
}

void TemailForm::reject()
{
    if (stopBeforeClosing() && keepDraftBeforeClosing())
        QDialog::reject();
}

void TemailForm::closeEvent(QCloseEvent* event)
{
    if (!stopBeforeClosing()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TemailForm::Button1Click()
{
    const QString path = platform_.openFileName(this, OpenDialog1);
    if (!path.isEmpty())
        MyFile->setText(path);
}

MailerSettings TemailForm::settingsFromControls() const
{
    MailerSettings s = loaded_;
    s.addressFile = MyFile->text();
    s.sender = MyAddress->text();
    s.organisation = Organ->text();
    s.server = MyServer->text();
    s.useSignature = SigCheck->isChecked();
    s.signatureFile = SigFile->text();
    s.copyToSelf = CheckYourself->isChecked();
    s.wantLog = WantLog->isChecked();
    s.security = MailerSettings::Security(Security->currentData().toInt());
    s.userName = UserName->text().trimmed();
    Login->apply(s);
    Message->apply(s);
    s.ratePerMinute = RateBox->value();
    s.connections = ConnectionsBox->value();
    return s;
}

MailerInput TemailForm::collectInput() const
{
    MailerInput input;
    input.settings = settingsFromControls();
    input.subject = MySubject->text();
    input.body = body();
    for (int i = 0; i < AttBox->count(); ++i)
        input.attachments << AttBox->itemText(i);
    input.settingsPath = SettingsPath;
    input.programFolder = ProgramFolder;
    input.settingsChanged = settingsChanged_;
    input.password = Password->text();
    input.listsFolder = listsFolder();
    return input;
}

bool TemailForm::checkInput(const MailerInput& input)
{
    MailerField field = MailerField::None;
    const QString problem = checkMailerInput(input, &field);
    if (problem.isEmpty())
        return true;
    platform_.showError(this, problem);
    const std::pair<MailerField, QWidget*> fields[] {{MailerField::AddressFile, MyFile},
        {MailerField::Sender, MyAddress}, {MailerField::Server, MyServer}, {MailerField::Subject, MySubject},
        {MailerField::Body, Memo1}, {MailerField::Login, UserName}, {MailerField::Headers, Message->fieldInError()}};
    for (const auto& [which, control] : fields) {
        // Not a focus the vendor moved: the address file's dialog stays shut.
        if (which == field)
            control->setFocus(Qt::OtherFocusReason);
    }
    return false;
}

void TemailForm::BitBtn1Click()
{
    if (sending_)
        return;
    showStatus(QString());
    MailerInput input = collectInput();
    if (!checkInput(input))
        return;
    if (!loginForRun(input))
        return;
    newRun();
    QStringList signature;
    bool signatureHeld = false;
    if (!prepareRun(input, &signature, &signatureHeld))
        return;
    if (!confirmMailing(input)) {
        showStatus(QStringLiteral("Not sent: the mailing was cancelled"));
        run_.reset();
        return;
    }
    // The run appends the signature to what it sends; the field shows it
    // too (once, however often Send Now is tried), and the hidden buffer
    // holds it as read.
    Memo2->setPlainText(signature.join(u'\n'));
    if (!signatureHeld)
        appendBodyLines(signature);
    startRun(input);
}

void TemailForm::newRun()
{
    run_ = std::make_unique<SendRun>();
    run_->setTlsSessions(tlsSessions_);
    // The run reports from the worker; the window shows it on its own thread,
    // in the order reported.
    run_->setStatusHandler([this](const QString& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { showStatus(text); }, Qt::QueuedConnection);
    });
    run_->setProgressHandler([this](int done, int total) {
        QMetaObject::invokeMethod(
            this,
            [this, done, total] {
                SendProgress->setRange(0, qMax(total, 1));
                SendProgress->setValue(total > 0 ? done : 1);
                SendProgress->setFormat(QStringLiteral("%1 of %2 customers").arg(done).arg(total));
            },
            Qt::QueuedConnection);
    });
}

ResumeAnswer TemailForm::askResume(const ResumeState& earlier)
{
    QCoreApplication::sendPostedEvents(this);
    switch (platform_.ask(this,
        earlier.question() + QStringLiteral("\r\rYes: resume. No: start over, sending to every customer again."))) {
    case Platform::Answer::Yes:
        return ResumeAnswer::Resume;
    case Platform::Answer::No:
        return ResumeAnswer::StartOver;
    case Platform::Answer::Cancel:
        break;
    }
    return ResumeAnswer::Cancel;
}

bool TemailForm::prepareRun(MailerInput& input, QStringList* signature, bool* signatureHeld)
{
    leftOut_.clear();
    try {
        *signature = run_->prepare(input);
        *signatureHeld = leaveOutHeldSignature(input, *signature);
        if (!confirmFields(input) || !confirmSuppressed(input)) {
            showStatus(QString());
            run_.reset();
            return false;
        }
        // An earlier run of this message to this address file that did not
        // finish is gone on with, unless the vendor starts over.
        ResumeState earlier;
        const RunStart start = run_->decideStart(
            input, std::nullopt, [this](const ResumeState& state) { return askResume(state); }, &earlier);
        if (start == RunStart::Cancelled) {
            showStatus(QString());
            run_.reset();
            return false;
        }
        resuming_ = start == RunStart::Resumed;
        customersInRun_ =
            resuming_ ? earlier.remaining : customersToMail(input.settings.addressFile, input.listsFolder, leftOut_);
    } catch (const SendFailure& failure) {
        QCoreApplication::sendPostedEvents(this);
        showStatus(FailedText + failure.message());
        platform_.showException(this, failure.message());
        run_.reset();
        return false;
    }
    return true;
}

void TemailForm::startRun(const MailerInput& input)
{
    failed_ = signInRefused_ = false;
    failure_.clear();
    outcome_ = {};
    setRunning(true);
    worker_ = QThread::create([this, input] {
        try {
            outcome_ = run_->send(input);
        } catch (const SignInAgain& refused) {
            failed_ = signInRefused_ = true;
            failure_ = refused.message();
        } catch (const SendFailure& failure) {
            failed_ = true;
            failure_ = failure.message();
            if (failure.unreachable)
                failure_ += QStringLiteral("\rCheck the server's name and port (and that this computer may reach "
                                           "it), then Send Now: the run goes on with the customers not yet sent.");
        } catch (const std::exception& error) {
            failed_ = true;
            failure_ = QString::fromUtf8(error.what());
        }
    });
    connect(worker_, &QThread::finished, this, &TemailForm::runEnded);
    worker_->start();
}

void TemailForm::PreviewClick()
{
    MailerInput input = collectInput();
    if (!checkInput(input))
        return;
    if (!previewDialog_)
        previewDialog_ = new PreviewDialog(this, Memo1->font());
    try {
        leaveOutHeldSignature(input, readSignature(input.settings));
        previewDialog_->start([input](int index, QStringList* addresses, QString* html) {
            return SendRun().preview(input, index, addresses, html);
        });
    } catch (const SendFailure& failure) {
        platform_.showException(this, failure.message());
        return;
    }
    previewDialog_->show();
    previewDialog_->raise();
}

bool TemailForm::confirmFields(const MailerInput& input)
{
    const SendRun::FieldCheck check = run_->checkFields(input);
    if (!check.problems.isEmpty()) {
        platform_.showError(this,
            QStringLiteral("Nothing was sent: the message's fields do not fit the address file:\r\r") +
                check.problems.join(QStringLiteral("\r")));
        return false;
    }
    leftOut_ += check.refusedAddresses;
    if (check.missing.isEmpty())
        return true;
    if (!platform_.confirm(this,
            QStringLiteral("These customers' own attachment files are missing:\r\r") +
                check.missing.join(QStringLiteral("\r")) +
                QStringLiteral("\r\rSend to the others? These customers are counted as not sent.")))
        return false;
    run_->skipCustomers(check.missingAddresses);
    leftOut_ += check.missingAddresses;
    return true;
}

bool TemailForm::confirmMailing(const MailerInput& input)
{
    const MailerSettings& s = input.settings;
    const QString customers =
        customersInRun_ == 1 ? QStringLiteral("1 customer") : QStringLiteral("%1 customers").arg(customersInRun_);
    const QString question = (resuming_ ? QStringLiteral("Resume: send this message to the remaining %1%2?")
                                        : QStringLiteral("Send this message to %1%2?"))
                                 .arg(customers, s.copyToSelf ? QStringLiteral(" (and a copy to you)") : QString());
    return platform_.confirmAction(this,
        question + QStringLiteral("\r\rSubject: %1\rServer: %2").arg(input.subject, s.server),
        resuming_ ? QStringLiteral("&Resume") : QStringLiteral("&Send"));
}

void TemailForm::StopClick()
{
    if (run_ && sending_) {
        run_->requestStop();
        StopButton->setEnabled(false);
    }
}

void TemailForm::setRunning(bool running)
{
    // Disabling the focused control moves the focus on as if tabbed; that
    // must not open the address-file or signature dialog.
    const QScopedValueRollback guard(focusActionsSuppressed_, true);
    if (running)
        focusBeforeRun_ = focusWidget();
    sending_ = running;
    const QList<QWidget*> controls {MyFile, Button1, BitBtn2, MyAddress, Organ, MyServer, AttBox, AttAdd, AttMinus,
        MySubject, Memo1, SigCheck, CheckYourself, WantLog, BitBtn1, PreviewButton, BouncesButton, BitBtn3, Speller,
        BitBtn4, BitBtn5, Security, UserName, Password, RememberPassword, RateBox, ConnectionsBox};
    for (QWidget* control : controls + Message->controls())
        control->setEnabled(!running);
    RememberPassword->setEnabled(!running && password_.keyringAvailable());
    Login->setRunning(running);
    if (running) {
        SigFile->setEnabled(false);
        SigLoad->setEnabled(false);
        SigView->setEnabled(false);
    } else {
        UpdateSigControls();
    }
    StopButton->setEnabled(running);
    if (!running && focusBeforeRun_ && focusBeforeRun_->isEnabled())
        focusBeforeRun_->setFocus(Qt::OtherFocusReason);
    if (running) {
        SendProgress->setRange(0, 1);
        SendProgress->setValue(0);
        SendProgress->setTextVisible(true);
        SendProgress->setVisible(true);
    }
}

void TemailForm::runEnded()
{
    // Status texts posted by the worker come before this; show them first.
    QCoreApplication::sendPostedEvents(this);
    estimateFile_.clear(); // what the run sent counts against the day now
    showEstimate();
    if (worker_) {
        worker_->wait();
        worker_->deleteLater();
        worker_ = nullptr;
    }
    setRunning(false);
    tlsSessions_ = run_->tlsSessions();
    run_.reset();
    // A failed or stopped run leaves the window open with what was typed; a
    // completed one says how it went, then closes.
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        // Closed during the run: what was typed is kept without a question.
        if (QString error; currentDraft() != draftShown_ && currentDraft().save(draftPath(), &error))
            draftShown_ = currentDraft();
        QDialog::reject();
    } else if (failed_) {
        // Not the last "Sending to": the run ended there.
        showStatus(FailedText + failure_);
        if (signInRefused_)
            Login->forgetSignIn(settingsFromControls());
        platform_.showException(this, failure_);
    } else if (!outcome_.stopped) {
        const QString summary = outcome_.summary().join(u'\r');
        if (outcome_.allSent())
            platform_.showInformation(this, summary);
        else
            platform_.showWarning(this, summary);
        // Sent: no longer a draft to keep (the fields stay, as before).
        MessageDraft::remove(draftPath());
        draftShown_ = currentDraft();
        accept();
    }
    emit runFinished();
}

bool TemailForm::waitForRunEnd(int timeoutMs)
{
    if (!sending_)
        return true;
    QEventLoop loop;
    connect(this, &TemailForm::runFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !sending_;
}

void TemailForm::BitBtn4Click()
{
    OpenHelpPage(platform_, QStringLiteral("index.html#send"), ProgramFolder);
}

void TemailForm::AttAddClick()
{
    const QStringList paths = platform_.openFileNames(this, OpenAny);
    if (paths.isEmpty())
        return;
    AttBox->addItems(paths);
    AttBox->setCurrentIndex(0);
}

void TemailForm::AttMinusClick()
{
    int index = AttBox->currentIndex();
    // Text typed over the selected entry leaves no entry selected.
    if (index >= 0 && AttBox->currentText() != AttBox->itemText(index))
        index = -1;
    if (index < 0) {
        platform_.showError(this, QStringLiteral("No attachments selected for removal from list"));
        return;
    }
    const QString path = AttBox->itemText(index);
    if (platform_.confirm(
            this, QStringLiteral("OK to remove ") + path + u'\r' + QStringLiteral("from the Attachments List?")))
        AttBox->removeItem(index);
    AttBox->setCurrentIndex(AttBox->count() > 0 ? 0 : -1);
}

void TemailForm::SigCheckClick()
{
    settingsChanged_ = true;
    UpdateSigControls();
}

void TemailForm::UpdateSigControls()
{
    const bool on = SigCheck->isChecked();
    SigFile->setEnabled(on);
    SigLoad->setEnabled(on);
    SigView->setEnabled(on);
}

void TemailForm::SigLoadClick()
{
    settingsChanged_ = true;
    const QString path = platform_.openFileName(this, OpenDialog2);
    if (!path.isEmpty())
        SigFile->setText(path);
}

void TemailForm::openExternally(const QString& path, const QString& missingText)
{
    showStatus(QStringLiteral("Bringing up external text editor"));
    // The text stays while the editor comes up; when none does, it would
    // say something untrue.
    if (!QFileInfo(path).isFile()) {
        showStatus(QString());
        platform_.showError(this, missingText);
    } else if (!platform_.openFileOrSay(this, path)) {
        showStatus(QString());
    }
}

void TemailForm::SigViewClick()
{
    openExternally(SigFile->text(), QStringLiteral("No signature file selected yet"));
}

void TemailForm::BitBtn2Click()
{
    openExternally(MyFile->text(), QStringLiteral("No file with email addresses selected yet"));
}

void TemailForm::SpellerClick()
{
    TVSSpell& speller = *speller_;
    speller.ReplaceCount = 0;
    speller.WordCount = 0;
    try {
        if (!MySubject->text().isEmpty()) {
            showStatus(QStringLiteral("checking spelling in message Subject"));
            speller.setCheckText(MySubject->text());
            MySubject->setText(speller.Text());
        }
        const QString body = Memo1->toPlainText();
        if (!body.isEmpty()) {
            showStatus(QStringLiteral("checking spelling in message Body"));
            speller.setCheckText(body);
            if (speller.Text() != body)
                Memo1->setPlainText(speller.Text());
        }
    } catch (const SpellError& error) {
        showStatus(QString());
        platform_.showError(this, error.message());
        return;
    }
    const auto words = [](int n) { return n == 1 ? QStringLiteral("1 word") : QStringLiteral("%1 words").arg(n); };
    // The status says the check is over before the box does.
    showStatus(QStringLiteral("Spelling checked"));
    platform_.showInformation(this,
        QStringLiteral("Checked %1 in subject and body.").arg(words(speller.WordCount)) + u'\r' +
            QStringLiteral("Replaced %1.").arg(words(speller.ReplaceCount)));
}

} // namespace og
