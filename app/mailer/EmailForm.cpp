#include "app/mailer/EmailForm.h"

#include "app/mailer/LoginControls.h"
#include "app/mailer/MessageControls.h"
#include "app/mailer/SpellDialog.h"
#include "common/ProgramFolder.h"
#include "platform/KeyboardAccess.h"
#include "platform/ReflowForm.h"
#include "platform/ScreenFit.h"
#include "platform/VSSpell.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QThread>
#include <QVBoxLayout>

namespace og {

namespace {

// The body field reads each displayed line up to this many characters.
constexpr int MaxLineLength = 4096;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint = {},
    QStyle::StandardPixmap glyph = QStyle::SP_CustomBase)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    if (glyph != QStyle::SP_CustomBase)
        button->setIcon(parent->style()->standardIcon(glyph));
    return button;
}

QLineEdit* makeEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// The family the body is shown in: "Courier New" where installed, else the
// system's fixed font, else the first family the font database calls
// fixed-width. Each candidate is judged by the family Qt actually resolves it
// to, since fontconfig may answer a fixed-width name or alias with a font that
// is not (Noto Sans Mono is "dual" spaced, for one).
QString fixedWidthFamily()
{
    QStringList candidates {
        QStringLiteral("Courier New"), QFontDatabase::systemFont(QFontDatabase::FixedFont).family()};
    candidates += QFontDatabase::families();
    for (const QString& candidate : candidates) {
        QFont font(candidate);
        font.setStyleHint(QFont::TypeWriter);
        const QString resolved = QFontInfo(font).family();
        if (QFontDatabase::isFixedPitch(resolved))
            return resolved;
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

void makeBold(QPushButton* button)
{
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
}

} // namespace

TemailForm::TemailForm(Platform& platform, QWidget* parent)
    : QDialog(parent),
      platform_(platform),
      speller_(std::make_unique<TVSSpell>()),
      password_(platform)
{
    setObjectName(QStringLiteral("emailForm"));
    setWindowTitle(QStringLiteral("Send Notification to your customers"));
    setModal(true);

    ProgramFolder = programFolder();
    SettingsPath = settingsPathIn(ProgramFolder);

    OpenDialog1.title = QStringLiteral("Choose the address file");
    OpenDialog1.filter = QStringLiteral("email files (email_*.txt)|email_*.txt|all files (*.*)|*.*");
    OpenDialog2.title = QStringLiteral("Choose a signature file");
    OpenDialog2.filter = QStringLiteral("Text file (*.txt)|*.txt|All files (*.*)|*.*");
    OpenAny.title = QStringLiteral("Choose attachments");
    OpenAny.filter = QStringLiteral("All files (*.*)|*.*");

    buildControls();
    setTabOrder();
    // No button is the default one, so Return in a field starts nothing
    // (and no dialog makes its first button the default when shown).
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    // The 26 letters do not go round: the message's headers, the pace, the
    // signature's file buttons, Cancel (Escape), Help and the bounces go
    // without where they must.
    QList<QWidget*> secondary = Message->controls();
    secondary << RateBox << ConnectionsBox << SigLoad << SigView << BitBtn3 << BitBtn4 << BouncesButton;
    for (QWidget* control : secondary)
        control->setProperty(ShortcutLast, true);
    assignShortcuts(this);
    showFocusFrames(this);

    spellDialog_ = new SpellDialog(this);
    spellDialogue_ = spellDialog_;
    speller_->setDialogue(spellDialogue_);

    FormCreate();
}

TemailForm::~TemailForm()
{
    // A run still under way finishes its customer; wait so the worker never
    // outlives the objects it uses.
    if (run_)
        run_->requestStop();
    if (worker_) {
        worker_->wait();
        delete worker_;
    }
}

void TemailForm::setSpellDialogue(SpellDialogue* dialogue)
{
    spellDialogue_ = dialogue ? dialogue : spellDialog_;
    speller_->setDialogue(spellDialogue_);
}

void TemailForm::setSpellChecker(std::unique_ptr<TVSSpell> speller)
{
    if (!speller)
        return;
    speller_ = std::move(speller);
    speller_->setDialogue(spellDialogue_);
}

void TemailForm::buildControls()
{
    auto* grid = new ReflowForm(this);
    int row = addServerRows(grid, 0);
    row = addMessageRows(grid, row);
    addRunRows(grid, row);
    layOut(grid);
    connectControls();
}

// The address file, the sender, the server and how to log in to it.
int TemailForm::addServerRows(ReflowForm* grid, int row)
{
    grid->addWidget(new QLabel(QStringLiteral("Address file:"), this), row, 0);
    MyFile = makeEdit(this, "MyFile");
    MyFile->setReadOnly(true);
    MyFile->setText(QLatin1String(PlaceholderFile));
    MyFile->installEventFilter(this);
    grid->addWidget(MyFile, row, 1, 1, 2);
    Button1 = makeButton(this, "Button1", QStringLiteral("Load file"),
        QStringLiteral("Select file with customer email addresses"), QStyle::SP_DialogOpenButton);
    BitBtn2 = makeButton(this, "BitBtn2", QStringLiteral("View/Edit"), QStringLiteral("View selected file"),
        QStyle::SP_FileDialogContentsView);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(Button1);
    fileButtons->addWidget(BitBtn2);
    grid->addLayout(fileButtons, row, 3);

    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Your Email Address"), this), row, 0);
    MyAddress = makeEdit(this, "MyAddress");
    grid->addWidget(MyAddress, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Company Name"), this), row, 2);
    Organ = makeEdit(this, "Organ");
    grid->addWidget(Organ, row, 3);

    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Outgoing (SMTP) Mail Server:"), this), row, 0);
    MyServer = makeEdit(this, "MyServer");
    grid->addWidget(MyServer, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Security:"), this), row, 2);
    Security = new QComboBox(this);
    Security->setObjectName(QStringLiteral("Security"));
    for (const MailerSettings::Security security : {MailerSettings::Security::Automatic,
             MailerSettings::Security::StartTls, MailerSettings::Security::Tls, MailerSettings::Security::None})
        Security->addItem(securityName(security), int(security));
    Security->setToolTip(QStringLiteral("Automatic: SSL/TLS on port 465, else STARTTLS when the server offers it"));
    grid->addWidget(Security, row, 3);

    ++row;
    UserName = makeEdit(this, "UserName");
    UserName->setToolTip(QStringLiteral("empty: the server needs no login"));
    Login = new LoginControls(platform_, UserName, this);
    row = Login->placeInto(grid, row);
    grid->addWidget(new QLabel(QStringLiteral("User name:"), this), row, 0);
    grid->addWidget(UserName, row, 1);
    PasswordLabel = new QLabel(QStringLiteral("Password:"), this);
    grid->addWidget(PasswordLabel, row, 2);
    Password = makeEdit(this, "Password");
    Password->setEchoMode(QLineEdit::Password);
    grid->addWidget(Password, row, 3);
    ++row;
    RememberPassword = new QCheckBox(QStringLiteral("Remember password"), this);
    RememberPassword->setObjectName(QStringLiteral("RememberPassword"));
    RememberPassword->setToolTip(QStringLiteral("keep the password in the desktop keyring"));
    grid->addWidget(RememberPassword, row, 3);
    return row;
}

// The attachments, the subject, the body and the signature.
int TemailForm::addMessageRows(ReflowForm* grid, int row)
{
    ++row;
    auto* attPanel = new QGroupBox(this);
    attPanel->setObjectName(QStringLiteral("AttPanel"));
    auto* attLayout = new QHBoxLayout(attPanel);
    attLayout->addWidget(new QLabel(QStringLiteral("Attachments:"), attPanel));
    AttBox = new QComboBox(attPanel);
    AttBox->setObjectName(QStringLiteral("AttBox"));
    AttBox->setEditable(true);
    AttBox->setInsertPolicy(QComboBox::NoInsert);
    AttBox->setToolTip(QStringLiteral("click the Add button to add an attachment"));
    AttBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    attLayout->addWidget(AttBox, 1);
    // A path typed over the selected entry and confirmed with Return takes
    // its place: how a path gets its fields ("licences/{{order}}.txt").
    connect(AttBox->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (const int index = AttBox->currentIndex(); index >= 0 && !AttBox->currentText().trimmed().isEmpty())
            AttBox->setItemText(index, AttBox->currentText().trimmed());
    });
    AttAdd = makeButton(attPanel, "AttAdd", QStringLiteral("Add"), QStringLiteral("add a file to the attachments list"),
        QStyle::SP_FileDialogNewFolder);
    AttMinus = makeButton(attPanel, "AttMinus", QStringLiteral("Remove"),
        QStringLiteral("remove selected attachment from list"), QStyle::SP_TrashIcon);
    attLayout->addWidget(AttAdd);
    attLayout->addWidget(AttMinus);
    grid->addWidget(attPanel, row, 0, 1, 4);

    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Message Subject:"), this), row, 0);
    MySubject = makeEdit(this, "MySubject");
    grid->addWidget(MySubject, row, 1, 1, 3);

    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Message Body:"), this), row, 0, 1, 4);
    ++row;
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    QFont fixed(fixedWidthFamily());
    fixed.setStyleHint(QFont::TypeWriter);
    Memo1->setFont(fixed);
    Memo1->setMinimumHeight(180);
    grid->addWidget(Memo1, row, 0, 1, 4);
    grid->setRowStretch(row, 1);

    ++row;
    auto* sigPanel = new QGroupBox(this);
    sigPanel->setObjectName(QStringLiteral("SigPanel"));
    auto* sigLayout = new QHBoxLayout(sigPanel);
    SigCheck = new QCheckBox(QStringLiteral("Use signature file: "), sigPanel);
    SigCheck->setObjectName(QStringLiteral("SigCheck"));
    SigFile = makeEdit(sigPanel, "SigFile");
    SigFile->setReadOnly(true);
    SigFile->setToolTip(QStringLiteral("click the Load button to the right to select your signature file"));
    SigFile->installEventFilter(this);
    SigLoad = makeButton(sigPanel, "SigLoad", QStringLiteral("Load file"), QStringLiteral("Select signature file"),
        QStyle::SP_DialogOpenButton);
    SigView = makeButton(sigPanel, "SigView", QStringLiteral("View/Edit"), QStringLiteral("View/Edit signature file"),
        QStyle::SP_FileDialogContentsView);
    sigLayout->addWidget(SigCheck);
    sigLayout->addWidget(SigFile, 1);
    sigLayout->addWidget(SigLoad);
    sigLayout->addWidget(SigView);
    grid->addWidget(sigPanel, row, 0, 1, 4);
    return row;
}

// The run's switches and pace, and the message's format and headers.
int TemailForm::addRunRows(ReflowForm* grid, int row)
{
    ++row;
    CheckYourself = new QCheckBox(QStringLiteral("Send copy to yourself"), this);
    CheckYourself->setObjectName(QStringLiteral("CheckYourself"));
    CheckYourself->setChecked(true);
    WantLog = new QCheckBox(QStringLiteral("Log activity to log.txt"), this);
    WantLog->setObjectName(QStringLiteral("WantLog"));
    WantLog->setChecked(true);
    Speller = makeButton(this, "Speller", QStringLiteral("Spell Check"), {}, QStyle::SP_DialogApplyButton);
    makeBold(Speller);
    grid->addWidget(CheckYourself, row, 0);
    grid->addWidget(WantLog, row, 1);
    grid->addWidget(Speller, row, 3);

    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Messages per minute:"), this), row, 0);
    RateBox = new QSpinBox(this);
    RateBox->setObjectName(QStringLiteral("RateBox"));
    RateBox->setRange(0, 6000);
    RateBox->setSpecialValueText(QStringLiteral("no limit"));
    RateBox->setToolTip(QStringLiteral("for providers that limit how many messages you may send"));
    grid->addWidget(RateBox, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Connections at once:"), this), row, 2);
    ConnectionsBox = new QSpinBox(this);
    ConnectionsBox->setObjectName(QStringLiteral("ConnectionsBox"));
    ConnectionsBox->setRange(1, MailerSettings::MaxConnections);
    ConnectionsBox->setToolTip(QStringLiteral("send to this many customers at the same time"));
    grid->addWidget(ConnectionsBox, row, 3);

    ++row;
    Estimate = new QLabel(this);
    Estimate->setObjectName(QStringLiteral("Estimate"));
    Estimate->setWordWrap(true);
    Estimate->setToolTip(QStringLiteral("how long the run takes at the provider's pace (its profile), and what "
                                        "the day's allowance leaves for later"));
    grid->addWidget(Estimate, row, 1, 1, 3);

    ++row;
    Message = new MessageControls(this);
    row = Message->placeInto(grid, row);
    return row;
}

// The progress, the buttons and the status line under the form.
void TemailForm::layOut(ReflowForm* grid)
{
    SendProgress = new QProgressBar(this);
    SendProgress->setObjectName(QStringLiteral("SendProgress"));
    SendProgress->setRange(0, 1);
    SendProgress->setValue(0);
    SendProgress->setFormat(QStringLiteral("%v of %m customers"));
    // Nothing to count until a run starts: an empty bar would pass for a field.
    SendProgress->setTextVisible(false);
    SendProgress->setVisible(false);
    StopButton = makeButton(
        this, "StopButton", QStringLiteral("Stop"), QStringLiteral("stop sending now"), QStyle::SP_BrowserStop);
    StopButton->setEnabled(false);
    auto* progress = new QHBoxLayout;
    progress->addWidget(SendProgress, 1);
    progress->addStretch(); // Stop keeps its size while the bar is hidden
    progress->addWidget(StopButton);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = makeButton(this, "BitBtn1", QStringLiteral("&Send Now"), {}, QStyle::SP_DialogOkButton);
    makeBold(BitBtn1);
    BitBtn3 = makeButton(this, "BitBtn3", QStringLiteral("Cancel"), {}, QStyle::SP_DialogCancelButton);
    BitBtn4 = makeButton(this, "BitBtn4", QStringLiteral("Help"), {}, QStyle::SP_DialogHelpButton);
    BitBtn5 = makeButton(this, "BitBtn5", QStringLiteral("Close"), {}, QStyle::SP_DialogCloseButton);
    PreviewButton = makeButton(this, "PreviewButton", QStringLiteral("Preview"),
        QStringLiteral("show the first customer's message as it will be sent"), QStyle::SP_FileDialogInfoView);
    BouncesButton = makeButton(this, "BouncesButton", QStringLiteral("Check for bounces..."),
        QStringLiteral("read the mailbox for bounces and unsubscribe requests and add them to the lists"),
        QStyle::SP_BrowserReload);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(PreviewButton);
    buttons->addWidget(BouncesButton);
    buttons->addWidget(BitBtn3);
    buttons->addStretch();
    buttons->addWidget(BitBtn4);
    buttons->addWidget(BitBtn5);

    MyBar = new QStatusBar(this);
    MyBar->setObjectName(QStringLiteral("MyBar"));
    MyBar->setSizeGripEnabled(false);

    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->hide();

    // The form scrolls on a small screen; the progress and the buttons stay in view.
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new FormScrollArea(grid), 1);
    outer->addLayout(progress);
    outer->addLayout(buttons);
    outer->addWidget(MyBar);
    resize(640, 620);
}

void TemailForm::connectControls()
{
    connect(MyAddress, &QLineEdit::textChanged, this, &TemailForm::MyAddressChange);
    connect(Organ, &QLineEdit::textChanged, this, &TemailForm::OrganChange);
    connect(MyServer, &QLineEdit::textChanged, this, &TemailForm::MyServerChange);
    connect(CheckYourself, &QCheckBox::toggled, this, &TemailForm::CheckYourselfClick);
    connect(WantLog, &QCheckBox::toggled, this, &TemailForm::WantLogClick);
    connect(Security, &QComboBox::currentIndexChanged, this, &TemailForm::SecurityChange);
    connect(RateBox, &QSpinBox::valueChanged, this, [this] { settingsChanged_ = true; });
    connect(ConnectionsBox, &QSpinBox::valueChanged, this, [this] { settingsChanged_ = true; });
    for (QSpinBox* box : {RateBox, ConnectionsBox})
        connect(box, &QSpinBox::valueChanged, this, &TemailForm::showEstimate);
    for (QLineEdit* field : {MyFile, MyServer, UserName})
        connect(field, &QLineEdit::textChanged, this, &TemailForm::showEstimate);
    connect(UserName, &QLineEdit::textChanged, this, &TemailForm::UserNameChange);
    connect(UserName, &QLineEdit::editingFinished, this, &TemailForm::LoginKeyChange);
    connect(MyServer, &QLineEdit::editingFinished, this, &TemailForm::LoginKeyChange);
    connect(Password, &QLineEdit::textEdited, this, [this] { passwordTyped_ = true; });
    connect(Login, &LoginControls::changed, this, [this] { settingsChanged_ = true; });
    connect(Message, &MessageControls::changed, this, [this] { settingsChanged_ = true; });
    connect(Login, &LoginControls::status, this, &TemailForm::showStatus);
    Login->setSettingsSource([this] { return settingsFromControls(); });
    connect(Login, &LoginControls::serverChosen, this, [this](const OAuthServer& server) {
        MyServer->setText(server.server);
        Security->setCurrentIndex(std::max(0, Security->findData(int(server.security))));
    });
    connect(Login, &LoginControls::methodChanged, this, [this](bool password) {
        for (QWidget* control : {static_cast<QWidget*>(PasswordLabel), static_cast<QWidget*>(Password),
                 static_cast<QWidget*>(RememberPassword)})
            control->setVisible(password);
    });
    connect(SigCheck, &QCheckBox::toggled, this, &TemailForm::SigCheckClick);
    connect(Button1, &QPushButton::clicked, this, &TemailForm::Button1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TemailForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TemailForm::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TemailForm::reject);
    connect(BitBtn4, &QPushButton::clicked, this, &TemailForm::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TemailForm::reject);
    connect(AttAdd, &QPushButton::clicked, this, &TemailForm::AttAddClick);
    connect(AttMinus, &QPushButton::clicked, this, &TemailForm::AttMinusClick);
    connect(SigLoad, &QPushButton::clicked, this, &TemailForm::SigLoadClick);
    connect(SigView, &QPushButton::clicked, this, &TemailForm::SigViewClick);
    connect(Speller, &QPushButton::clicked, this, &TemailForm::SpellerClick);
    connect(StopButton, &QPushButton::clicked, this, &TemailForm::StopClick);
    connect(PreviewButton, &QPushButton::clicked, this, &TemailForm::PreviewClick);
    connect(BouncesButton, &QPushButton::clicked, this, &TemailForm::BouncesClick);
}

void TemailForm::setTabOrder()
{
    QList<QWidget*> order {MyAddress, Organ, MyServer, MySubject, Memo1, MyFile, BitBtn1, Button1, CheckYourself,
        WantLog, BitBtn2, BitBtn3, BitBtn4, BitBtn5, AttBox, AttAdd, AttMinus, Speller, SigCheck, SigFile, SigLoad,
        SigView, StopButton, Security, UserName, Password, RememberPassword, PreviewButton, BouncesButton, RateBox,
        ConnectionsBox};
    order += Message->controls();
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

MessageBody TemailForm::body() const
{
    return bodyOfBlocks(Memo1->document()->blockCount());
}

MessageBody TemailForm::bodyOfBlocks(int blocks) const
{
    MessageBody body;
    QTextDocument* document = Memo1->document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    // An empty last block is no line: the text is empty or ends with a line
    // break.
    const bool whole = blocks >= document->blockCount();
    const bool lastIsEmpty = whole && document->lastBlock().text().isEmpty();
    if (lastIsEmpty)
        --blocks;
    QTextBlock block = document->begin();
    for (int n = 0; n < blocks && block.isValid(); ++n, block = block.next()) {
        layout->blockBoundingRect(block); // lays the block out if it has not been yet
        const QString text = block.text();
        const QTextLayout* lines = block.layout();
        if (!lines || lines->lineCount() == 0) {
            body.addLine(text.left(MaxLineLength), false);
            continue;
        }
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            body.addLine(
                text.mid(line.textStart(), qMin(line.textLength(), MaxLineLength)), i + 1 < lines->lineCount());
        }
    }
    if (lastIsEmpty && document->blockCount() > 1)
        body.endWithBreak();
    return body;
}

bool TemailForm::leaveOutHeldSignature(MailerInput& input, const QStringList& signature) const
{
    // The signature was appended a line to a paragraph, so it is the last
    // paragraphs of the field, whatever the field's width.
    const QTextDocument* document = Memo1->document();
    const int count = int(signature.size());
    if (count == 0 || document->blockCount() < count)
        return false;
    QTextBlock block = document->lastBlock();
    for (int i = count - 1; i >= 0; --i, block = block.previous()) {
        if (block.text() != signature[i])
            return false;
    }
    input.body = bodyOfBlocks(document->blockCount() - count);
    return true;
}

void TemailForm::appendBodyLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const QString text = Memo1->toPlainText();
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::End);
    const QString appended = appendTextLines(text, lines).mid(text.size());
    cursor.insertText(appended);
}

void TemailForm::showStatus(const QString& text)
{
    if (text.isEmpty())
        MyBar->clearMessage();
    else
        MyBar->showMessage(text);
    emit statusShown(text);
}

bool TemailForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == MyFile || watched == SigFile) && !focusActionsSuppressed_) {
        // Only focus the vendor moved here: coming back from a dialog or from
        // another program must not open the dialog again.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::MouseFocusReason ||
            reason == Qt::ShortcutFocusReason) {
            if (watched == MyFile)
                Button1Click();
            else
                SigLoadClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace og
