// The mailer window driven like a vendor would, with the platform scripted
// and mail going to servers the tests start on 127.0.0.1.
#include "tests/support/Dovecot.h"
#include "tests/support/FileTestSupport.h"
#include "tests/support/MailSink.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/ScriptedSmtpServer.h"

#include "app/mailer/EmailForm.h"
#include "app/mailer/SpellDialog.h"
#include "common/ProfileFile.h"
#include "mailer/SentToday.h"
#include "platform/VSSpell.h"
#include "tests/support/ScriptedPlatform.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

#include <functional>

using namespace og;
using og::test::readFile;
using og::test::writeFile;

namespace {

// Answers the spelling dialog from a list, recording what it was asked.
class ScriptedSpellDialogue : public SpellDialogue {
public:
    QList<SpellAnswer> answers;
    QStringList askedWords;
    SpellAnswer ask(const SpellQuestion& question) override
    {
        askedWords << question.word;
        return answers.isEmpty() ? SpellAnswer {SpellAnswer::Action::Cancel, {}} : answers.takeFirst();
    }
};

} // namespace

class MailerWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* dir_ = nullptr;
    QString folder_;
    QString previous_;
    ScriptedPlatform* platform_ = nullptr;
    TemailForm* form_ = nullptr;

    template <typename T>
    T* control(const char* name) const
    {
        T* widget = form_->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QString ini() const { return folder_ + QStringLiteral("ordergate.ini"); }
    QStringList logLines() const
    {
        return QString::fromUtf8(readFile(folder_ + QStringLiteral("log.txt"))).split(QStringLiteral("\r\n"));
    }
    void showForm()
    {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
    }
    // Fills the window for a run to server over the given address file.
    void fill(const QString& server, const QString& addressFile)
    {
        platform_->queueFileName(addressFile);
        control<QPushButton>("Button1")->click();
        control<QLineEdit>("MyAddress")->setText(QStringLiteral("vendor@example.com"));
        control<QLineEdit>("Organ")->setText(QStringLiteral("Vendor Ltd"));
        control<QLineEdit>("MyServer")->setText(server);
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Version 2 is out"));
    }
    // Sends, answering the last question (to how many customers) with Send.
    void send()
    {
        platform_->queueAction(true);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(form_->waitForRunEnd(30000));
    }

private slots:
    void init()
    {
        dir_ = new QTemporaryDir;
        QVERIFY(dir_->isValid());
        folder_ = dir_->path() + u'/';
        previous_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        platform_ = new ScriptedPlatform;
        platform_->setFailureHandler([](const QString& m) { QFAIL(qPrintable(m)); });
        form_ = new TemailForm(*platform_);
        form_->SettingsPath = ini();
        form_->ProgramFolder = folder_;
    }

    void cleanup()
    {
        delete form_;
        delete platform_;
        QDir::setCurrent(previous_);
        delete dir_;
    }

    void controlsStartAsDesigned()
    {
        QVERIFY(control<QLineEdit>("MyFile")->isReadOnly());
        QVERIFY(control<QPushButton>("BitBtn1")->font().bold());
        QVERIFY(control<QPushButton>("Speller")->font().bold());
        QCOMPARE(control<QComboBox>("AttBox")->count(), 0);
        QVERIFY(control<QCheckBox>("CheckYourself")->isChecked());
        QVERIFY(control<QCheckBox>("WantLog")->isChecked());
        QVERIFY(!control<QCheckBox>("SigCheck")->isChecked());
        for (const char* name : {"SigFile"})
            QVERIFY(!control<QLineEdit>(name)->isEnabled());
        for (const char* name : {"SigLoad", "SigView", "StopButton"})
            QVERIFY(!control<QPushButton>(name)->isEnabled());
        QVERIFY(!form_->SettingsChanged());
        // what the user sees: the family actually used is a fixed-width one
        const QString bodyFamily = QFontInfo(control<QPlainTextEdit>("Memo1")->font()).family();
        QVERIFY2(QFontDatabase::isFixedPitch(bodyFamily), qPrintable(bodyFamily));

        // Tab order, and the first showing puts the focus on the sender.
        showForm();
        QCOMPARE(form_->focusWidget(), control<QLineEdit>("MyAddress"));
        const QStringList expected {"MyAddress", "Organ", "MyServer", "MySubject", "Memo1", "MyFile", "BitBtn1",
            "Button1", "CheckYourself", "WantLog", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn5", "AttBox", "AttAdd",
            "AttMinus", "Speller"};
        QStringList order;
        QWidget* widget = control<QLineEdit>("MyAddress");
        for (int i = 0; i < 60 && order.size() < expected.size(); ++i, widget = widget->nextInFocusChain())
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->objectName().isEmpty() &&
                !order.contains(widget->objectName()))
                order << widget->objectName();
        QCOMPARE(order, expected);
    }

    void tabbingIntoTheFileFieldsOpensTheirDialogs()
    {
        showForm();
        QVERIFY(QTest::qWaitForWindowActive(form_));
        const QString addressFile = folder_ + "email_All.txt";
        control<QPlainTextEdit>("Memo1")->setFocus();
        platform_->queueFileName(addressFile);
        QTest::keyClick(control<QPlainTextEdit>("Memo1"), Qt::Key_Tab);
        QCOMPARE(form_->focusWidget(), control<QLineEdit>("MyFile"));
        QCOMPARE(control<QLineEdit>("MyFile")->text(), addressFile);
        QCOMPARE(platform_->calls().last().filter,
            QStringLiteral("email files (email_*.txt)|email_*.txt|all files (*.*)|*.*"));
        QCOMPARE(platform_->calls().last().text, QStringLiteral("Choose the address file"));

        // Into the signature field only while it is enabled.
        control<QCheckBox>("SigCheck")->setChecked(true);
        control<QPushButton>("Speller")->setFocus();
        platform_->queueFileName(QString());
        QTest::keyClick(control<QPushButton>("Speller"), Qt::Key_Tab); // to SigCheck
        QTest::keyClick(control<QCheckBox>("SigCheck"), Qt::Key_Tab);  // to SigFile
        QCOMPARE(form_->focusWidget(), control<QLineEdit>("SigFile"));
        QCOMPARE(platform_->count(ScriptedPlatform::Call::OpenFileName), 2);
    }

    void activationLoadsTheSettingsEachShowing()
    {
        showForm();
        QVERIFY2(!form_->SettingsChanged(), "no settings file: nothing loaded, nothing changed");
        form_->hide();

        ProfileFile::writeString(ini(), "user", "email", "me@example.com");
        ProfileFile::writeString(ini(), "user", "server", "mail.example.com");
        ProfileFile::writeString(ini(), "options", "efile", folder_ + "email_All.txt");
        ProfileFile::writeBool(ini(), "options", "log", false);
        ProfileFile::writeBool(ini(), "options", "sigfile", true);
        ProfileFile::writeString(ini(), "options", "signame", folder_ + "sig.txt");
        ProfileFile::writeString(ini(), "options", "rate", "30");
        ProfileFile::writeString(ini(), "options", "connections", "4");
        control<QLineEdit>("Organ")->setText(QStringLiteral("typed before"));
        control<QLineEdit>("MySubject")->setText(QStringLiteral("kept"));
        showForm();
        QCOMPARE(control<QLineEdit>("MyAddress")->text(), QStringLiteral("me@example.com"));
        QCOMPARE(control<QLineEdit>("Organ")->text(), QString()); // an absent key empties the field
        QCOMPARE(control<QLineEdit>("MyFile")->text(), folder_ + "email_All.txt");
        QVERIFY(!control<QCheckBox>("WantLog")->isChecked());
        QVERIFY(control<QCheckBox>("CheckYourself")->isChecked()); // absent: keeps its state
        QVERIFY(control<QCheckBox>("SigCheck")->isChecked());
        QVERIFY(control<QPushButton>("SigLoad")->isEnabled());
        QCOMPARE(control<QLineEdit>("SigFile")->text(), folder_ + "sig.txt");
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QStringLiteral("kept"));
        QCOMPARE(control<QSpinBox>("RateBox")->value(), 30);
        QCOMPARE(control<QSpinBox>("ConnectionsBox")->value(), 4);
        QVERIFY(form_->SettingsChanged());
    }

    void bodyLinesAreTheDisplayedLinesOfTheWholeBody()
    {
        showForm();
        QPlainTextEdit* memo = control<QPlainTextEdit>("Memo1");
        QCOMPARE(form_->bodyLines(), QStringList());
        memo->setPlainText(QStringLiteral("\n"));
        QCOMPARE(form_->bodyLines(), QStringList {QString()});
        // Paragraphs far below the visible part of the field wrap as well.
        const QString paragraph = QStringLiteral("word ").repeated(60).trimmed();
        QStringList paragraphs;
        for (int i = 0; i < 200; ++i)
            paragraphs << paragraph;
        memo->setPlainText(paragraphs.join(u'\n') + u'\n');
        const QStringList lines = form_->bodyLines();
        QVERIFY2(lines.size() >= 400, qPrintable(QString::number(lines.size())));
        QCOMPARE(lines.join(QString()), paragraphs.join(QString()));
    }

    void checksRefuseBadInputAndKeepTheWindowOpen()
    {
        showForm();
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\n"));
        QPushButton* sendNow = control<QPushButton>("BitBtn1");
        QStringList focused; // each failed check takes the focus to its field
        const auto tryToSend = [&] {
            sendNow->setFocus();
            sendNow->click();
            focused << form_->focusWidget()->objectName();
        };

        tryToSend();
        platform_->queueFileName(addressFile);
        control<QPushButton>("Button1")->click();
        tryToSend();
        control<QLineEdit>("MyAddress")->setText(QStringLiteral("vendor@example.com"));
        tryToSend();
        control<QLineEdit>("MyServer")->setText(QStringLiteral(".example.com"));
        tryToSend();
        control<QLineEdit>("MyServer")->setText(QStringLiteral("mail.example.com"));
        tryToSend();
        control<QLineEdit>("MySubject")->setText(QStringLiteral(" "));
        tryToSend();
        QCOMPARE(focused, (QStringList {"MyFile", "MyAddress", "MyServer", "MyServer", "MySubject", "Memo1"}));
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Error),
            (QStringList {"Invalid address file name", "You must enter your correct email address",
                "You must enter your mail server (e.g. mail.example.com)",
                "You must enter your mail server (e.g. mail.example.com)", "You must enter a subject for your message",
                "You must enter something in your message"}));
        QVERIFY(form_->isVisible());
        QVERIFY(!form_->isSending());
        QVERIFY2(!QFile::exists(ini()), "nothing is written before the checks pass");
        QCOMPARE(control<QLineEdit>("MyFile")->text(), addressFile);
    }

    void sendRunDeliversLogsAndSavesThroughALocalServer()
    {
        og::test::MailSink sink;
        QVERIFY(sink.start());
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile,
            "alice@example.com , 1001 , 2026-01-02 , Alice Smith\r\n"
            "    bob@example.org , 1002\r\n"
            "Total: 2 customers\r\n"));
        showForm();
        fill(sink.server(), addressFile);
        const QString paragraph = QStringLiteral("This paragraph was typed without any line break and is far wider "
                                                 "than the body field, so the field shows it on several lines and "
                                                 "the message, the log and the check all see those lines.");
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Dear customer,\n") + paragraph);
        const QStringList displayed = form_->bodyLines();
        QVERIFY2(displayed.size() >= 3, "the long paragraph wraps");
        QCOMPARE(displayed.first(), QStringLiteral("Dear customer,"));
        QCOMPARE(displayed.mid(1).join(QString()), paragraph);

        QStringList statuses;
        connect(form_, &TemailForm::statusShown, this, [&](const QString& s) { statuses << s; });
        send();
        QVERIFY(!form_->isVisible());
        QCOMPARE(form_->result(), int(QDialog::Accepted));
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Error).isEmpty());
        QVERIFY(statuses.contains(QStringLiteral("Sending to bob@example.org")));
        QVERIFY(statuses.contains(QStringLiteral("Message sent to 2 customers")));
        QCOMPARE(control<QProgressBar>("SendProgress")->value(), 2);
        QCOMPARE(control<QProgressBar>("SendProgress")->text(), QStringLiteral("2 of 2 customers"));

        QCOMPARE(sink.waitForMessages(3), 3);
        QCOMPARE(sink.envelope(1)["rcpt_tos"].toArray().first().toString(), QStringLiteral("alice@example.com"));
        QCOMPARE(sink.envelope(2)["rcpt_tos"].toArray().first().toString(), QStringLiteral("bob@example.org"));
        QCOMPARE(sink.envelope(3)["rcpt_tos"].toArray().first().toString(), QStringLiteral("vendor@example.com"));
        const QJsonArray parts = sink.parsed(1)["root"].toObject()["parts"].toArray();
        QCOMPARE(parts.size(), 2);
        QVERIFY(parts[0].toObject()["text"].toString().startsWith(
            QStringLiteral("Dear customer,\r\n") + displayed.mid(1).join(QStringLiteral("\r\n"))));
        QCOMPARE(parts[1].toObject()["filename"].toString(), QStringLiteral("message.txt"));

        QCOMPARE(readFile(folder_ + "message.txt"), (QStringLiteral("Dear customer,\r\n") + paragraph).toUtf8());
        QStringList log = logLines();
        QCOMPARE(log.mid(1, 2), (QStringList {"Subject: Version 2 is out", "Body:"}));
        QCOMPARE(log.mid(3, displayed.size()), displayed);
        QCOMPARE(log.mid(3 + displayed.size()),
            (QStringList {"Sent to these Customers:", "alice@example.com",
                "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.", "bob@example.org", ""}));

        // A run completed with some not sent saves the settings.
        QCOMPARE(ProfileFile::readString(ini(), "user", "email", {}), QStringLiteral("vendor@example.com"));
        QCOMPARE(ProfileFile::readString(ini(), "user", "server", {}), sink.server());
        QCOMPARE(ProfileFile::readString(ini(), "options", "efile", {}), addressFile);

        // A second run appends to the log.
        showForm();
        send();
        QCOMPARE(sink.waitForMessages(6), 6);
        log = logLines();
        QCOMPARE(log.count(QStringLiteral("Sent to these Customers:")), 2);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^\\*\\*\\* .* Using file "))).size(), 2);
    }

    // "Check for bounces..." reads dovecot's mailbox with the password asked
    // for and lists the bounce; Send Now then names that customer before
    // sending, sends nothing when told so, and leaves them out when not.
    // Return in any field of a filled-in window sends nothing and asks
    // nothing; Send Now asks first, naming whom, what and where.
    void aMailingStartsOnlyWhenAsked()
    {
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\nb@example.com\r\nc@example.com\r\n"));
        showForm();
        QTcpServer closed; // a port that was free a moment ago
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString server = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        fill(server, addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Body"));
        QVERIFY(QTest::qWaitForWindowActive(form_));
        const qsizetype calls = platform_->calls().size();
        int fields = 0;
        for (QWidget* field : form_->findChildren<QWidget*>()) {
            if (!field->isVisible() || !field->isEnabled() || !(field->focusPolicy() & Qt::TabFocus) ||
                qobject_cast<QPushButton*>(field))
                continue;
            field->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY2(form_->isVisible() && !form_->isSending(), qPrintable(field->objectName()));
            ++fields;
        }
        QVERIFY(fields > 15);
        QCOMPARE(platform_->calls().size(), calls); // no question, no dialog, no sign-in

        platform_->queueAction(false);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(!form_->isSending());
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::ConfirmAction),
            QStringList {
                "Send this message to 3 customers (and a copy to you)?\r\rSubject: Version 2 is out\rServer: " +
                server});
        QCOMPARE(platform_->calls().last().filter, QStringLiteral("&Send"));
        QCOMPARE(control<QStatusBar>("MyBar")->currentMessage(), QStringLiteral("Not sent: the mailing was cancelled"));

        // Nothing listens there: the system's words, then what to do.
        send();
        const QString error = platform_->texts(ScriptedPlatform::Call::Error).value(0);
        QVERIFY2(error.contains("Connection refused") && error.contains("Check the server's name and port"),
            qPrintable(error));
    }

    // Every way out of a window with an edited, unsent message asks; Keep
    // fills it in the next time the mailer opens, Discard forgets it.
    void anUnsentMessageIsKeptForNextTime()
    {
        showForm();
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Version 2"));
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Dear customer,\n\nit is out."));
        control<QComboBox>("Format")->setCurrentIndex(1);
        platform_->queueFileNames({"/data/one.pdf", "/data/two.zip"});
        control<QPushButton>("AttAdd")->click();
        const std::function<void()> ways[] {[this] { control<QPushButton>("BitBtn5")->click(); },
            [this] { control<QPushButton>("BitBtn3")->click(); }, [this] { QTest::keyClick(form_, Qt::Key_Escape); },
            [this] { form_->close(); }};
        for (const auto& leave : ways) {
            platform_->queueAnswer(Platform::Answer::Cancel);
            leave();
            QVERIFY(form_->isVisible());
        }
        QCOMPARE(platform_->count(ScriptedPlatform::Call::Ask), 4);
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Ask)
                    .last()
                    .startsWith("This message has not been sent. Keep this message for next time?"));
        platform_->queueAnswer(Platform::Answer::Yes);
        form_->close();
        QVERIFY(!form_->isVisible());

        // The program started again: a new window.
        delete form_;
        form_ = new TemailForm(*platform_);
        form_->SettingsPath = ini();
        form_->ProgramFolder = folder_;
        showForm();
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QStringLiteral("Version 2"));
        QCOMPARE(control<QPlainTextEdit>("Memo1")->toPlainText(), QStringLiteral("Dear customer,\n\nit is out."));
        QCOMPARE(control<QComboBox>("Format")->currentIndex(), 1);
        QCOMPARE(control<QComboBox>("AttBox")->itemText(1), QStringLiteral("/data/two.zip"));
        form_->close(); // unchanged: nothing to ask
        QCOMPARE(platform_->count(ScriptedPlatform::Call::Ask), 5);

        showForm();
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Version 3"));
        platform_->queueAnswer(Platform::Answer::No);
        form_->close();
        showForm();
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QString());
        QCOMPARE(control<QComboBox>("AttBox")->count(), 0);
        QVERIFY(!QFile::exists(folder_ + "draft.txt"));
    }

    void bouncesAreCheckedAndTheSuppressedNamedBeforeSending()
    {
        og::test::Dovecot server;
        server.deliver(QStringLiteral("INBOX"), readFile(QStringLiteral(OG_MAIL_DIR "/dsn-postfix-hard.eml")));
        QVERIFY2(server.start(), qPrintable(server.why()));
        QVERIFY(writeFile(ini(),
            QStringLiteral("[mailbox]\r\nlogin=%1\r\ncafile=%2\r\ndays=3650\r\n")
                .arg(og::test::Dovecot::user(), server.caFile())
                .toUtf8()));
        og::test::MailSink sink;
        QVERIFY(sink.start());
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "alice@example.com\r\ngone@customer.example\r\n"));
        showForm();
        fill(sink.server(), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Hello"));
        platform_->queuePassword(og::test::Dovecot::password());
        // The dialog takes the server (refusing none) and keeps it in [mailbox].
        QTimer::singleShot(0, this, [&server] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog && dialog->objectName() == QLatin1String("MailboxDialog"));
            QCOMPARE(dialog->findChild<QLineEdit*>("MailboxUser")->text(), og::test::Dovecot::user());
            dialog->accept();
            QVERIFY(dialog->findChild<QLabel*>("MailboxProblem")->text().startsWith("Enter the IMAP server"));
            dialog->findChild<QLineEdit*>("MailboxServer")
                ->setText(QStringLiteral("127.0.0.1:%1").arg(server.plainPort()));
            dialog->findChild<QLineEdit*>("MailboxFolders")->setText(QStringLiteral(" INBOX ;"));
            dialog->accept();
        });
        control<QPushButton>("BouncesButton")->click();
        QVERIFY(readFile(ini()).contains(QStringLiteral("server=127.0.0.1:%1").arg(server.plainPort()).toUtf8()));
        QVERIFY2(platform_->texts(ScriptedPlatform::Call::Error).isEmpty(),
            qPrintable(platform_->texts(ScriptedPlatform::Call::Error).join(u'\n')));
        QVERIFY(
            platform_->texts(ScriptedPlatform::Call::Information)
                .value(0)
                .startsWith(QStringLiteral("gone@customer.example: bounced (hard, 550 5.1.1), added to bounced.txt")));

        platform_->queueConfirm(false);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(form_->waitForRunEnd(30000));
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Confirm)
                    .value(0)
                    .contains(QStringLiteral("1 customer is suppressed and left out")));
        QCOMPARE(sink.messageCount(), 0);
        platform_->queueConfirm(true);
        send();
        QVERIFY(platform_->texts(ScriptedPlatform::Call::ConfirmAction)
                    .value(0)
                    .startsWith(QStringLiteral("Send this message to 1 customer (and a copy to you)?")));
        QCOMPARE(sink.waitForMessages(2), 2);
        QCOMPARE(sink.envelope(1)["rcpt_tos"].toArray().first().toString(), QStringLiteral("alice@example.com"));
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Information)
                    .value(1)
                    .contains(QStringLiteral("1 suppressed: gone@customer.example (bounced 2026-12-10 550 5.1.1)")));
    }

    // Custom OAuth2 against the local authorization server: "Sign in…"
    // sends the browser there, the redirect completes the sign-in, the
    // keyring keeps it and the run logs in with its token.
    void oauthSignInOpensTheBrowserAndTheKeyringKeepsTheSignIn()
    {
        using Call = ScriptedPlatform::Call;
        og::test::OAuthTestServer oauth;
        QVERIFY(oauth.start());
        og::test::SmtpAnswers answers;
        answers.ehlo = {"250-test.server", "250 AUTH PLAIN XOAUTH2"};
        og::test::ScriptedSmtpServer server(answers, 1);
        const QString address = QString::fromStdString(server.Address());
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "alice@example.com\r\n"));
        QVERIFY(writeFile(ini(),
            "[user]\r\nlogin=vendor@example.com\r\nsecurity=None\r\nplainpassword=1\r\nauth=oauth2\r\n"
            "oauthprovider=custom\r\nclientid=test-client\r\nscope=mail.send\r\nauthurl=" +
                oauth.url("/authorize").toUtf8() + "\r\ntokenurl=" + oauth.url("/token").toUtf8() +
                "\r\n[options]\r\naudit=0\r\nprovider=Example Mail\r\n"));
        showForm();
        QCOMPARE(control<QComboBox>("LoginMethod")->currentText(), QStringLiteral("Custom OAuth2"));
        QVERIFY(!control<QLineEdit>("Password")->isVisible());
        QVERIFY(control<QLineEdit>("TokenUrl")->isVisible() && !control<QLineEdit>("Tenant")->isVisible());
        QCOMPARE(control<QLabel>("SignedIn")->text(), QStringLiteral("Not signed in to Example Mail"));

        control<QPushButton>("SignInButton")->click();
        const QString url = platform_->texts(Call::OpenUrl).value(0);
        QVERIFY2(url.contains("code_challenge=") && url.contains("&state="), qPrintable(url));
        const QString page = og::test::OAuthTestServer::get(og::test::OAuthTestServer::get(url).text).text;
        QVERIFY2(page.contains("You can close this window."), qPrintable(page));
        QTRY_COMPARE(
            control<QLabel>("SignedIn")->text(), QStringLiteral("Signed in to Example Mail as vendor@example.com"));
        QVERIFY(platform_->keyring().value("oauth2:custom:127.0.0.1:vendor@example.com").startsWith("rt-"));

        fill(address, addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Hello"));
        send();
        QVERIFY(platform_->texts(Call::Error).isEmpty());
        server.Join();
        QVERIFY(server.Received().at(0).find("AUTH XOAUTH2 ") != std::string::npos);
        QCOMPARE(server.Delivered(), std::vector<std::string> {"alice@example.com"});
        QVERIFY(!readFile(ini()).contains("rt-") && readFile(ini()).contains("auth=oauth2"));
    }

    void aWaitingSignInShowsItsAddressAndEndsOnCancelOrAnotherChoice()
    {
        using Call = ScriptedPlatform::Call;
        og::test::OAuthTestServer oauth;
        QVERIFY(oauth.start());
        QVERIFY(writeFile(ini(),
            "[user]\r\nlogin=vendor@example.com\r\nauth=oauth2\r\noauthprovider=custom\r\nclientid=test-client\r\n"
            "scope=mail.send\r\nserver=mail.example.net:587\r\nauthurl=" +
                oauth.url("/authorize").toUtf8() + "\r\ntokenurl=" + oauth.url("/token").toUtf8() + "\r\n"));
        platform_->failLaunches(QStringLiteral("no display"));
        showForm();
        auto* signIn = control<QPushButton>("SignInButton");
        auto* cancel = control<QPushButton>("CancelSignIn");
        auto* address = control<QLineEdit>("SignInAddress");
        QVERIFY(!cancel->isVisible() && !address->isVisible());
        auto* method = control<QComboBox>("LoginMethod");
        for (const bool byChoice : {false, true}) {
            signIn->click();
            const QString url = platform_->texts(Call::OpenUrl).constLast();
            QCOMPARE(address->text(), url);
            QVERIFY(address->isReadOnly() && address->isVisible() && cancel->isVisible() && !signIn->isEnabled());
            QVERIFY(platform_->texts(Call::Information).constLast().contains("To sign in to mail.example.net"));
            control<QPushButton>("CopySignInAddress")->click();
            QCOMPARE(platform_->texts(Call::CopyToClipboard).constLast(), url);
            if (byChoice) {
                method->setCurrentIndex(method->findText(QStringLiteral("Google")));
                method->setCurrentIndex(method->findText(QStringLiteral("Custom OAuth2")));
            } else {
                cancel->click();
            }
            QVERIFY(signIn->isEnabled() && !cancel->isVisible() && !address->isVisible());
            QCOMPARE(control<QStatusBar>("MyBar")->currentMessage(),
                QStringLiteral("The sign-in to mail.example.net was cancelled"));
            QCOMPARE(control<QLabel>("SignedIn")->text(), QStringLiteral("Not signed in to mail.example.net"));
        }
        QVERIFY(platform_->texts(Call::Error).isEmpty());
    }

    void theEstimateFollowsTheAddressFileTheServerAndTheDaysSends()
    {
        QVERIFY(writeFile(ini(), "[provider Shop relay]\r\nservers=relay.example.net\r\nrate=30\r\nperday=300\r\n"));
        QByteArray customers;
        for (int i = 0; i < 245; ++i)
            customers += "c" + QByteArray::number(i) + "@example.com\r\n";
        QVERIFY(writeFile(folder_ + "email_A.txt", customers));
        showForm();
        auto* estimate = control<QLabel>("Estimate");
        QCOMPARE(estimate->text(), QString());
        fill(QStringLiteral("relay.example.net:587"), folder_ + "email_A.txt");
        QCOMPARE(estimate->text(), QStringLiteral("Shop relay: 245 customers at 30 a minute: about 9 minutes"));
        control<QSpinBox>("RateBox")->setValue(60);
        QCOMPARE(estimate->text(),
            QStringLiteral("Shop relay: 245 customers at 30 a minute: about 9 minutes (the "
                           "profile lowers the rate from 60 to 30 a minute)"));
        QString error;
        QVERIFY(SentToday(folder_).add(
            QStringLiteral("shop relay:vendor@example.com"), 200, QDateTime::currentDateTime(), &error));
        control<QLineEdit>("MyServer")->setText(QStringLiteral("relay.example.net:25"));
        QVERIFY2(estimate->text().startsWith("Shop relay: 245 customers at 30 a minute: about 4 minutes; the day's "
                                             "allowance of 300 (200 sent in the last 24 hours) covers 100, the "
                                             "other 145 can go from "),
            qPrintable(estimate->text()));
        control<QLineEdit>("MyServer")->setText(QStringLiteral("mail.example.org"));
        QCOMPARE(estimate->text(), QStringLiteral("Other: 245 customers at 60 a minute: about 5 minutes"));
        control<QLineEdit>("MyServer")->clear();
        QCOMPARE(estimate->text(), QString());
    }

    void loginControlsLoadSaveAndTheKeyringHoldsThePassword()
    {
        using Call = ScriptedPlatform::Call;
        og::test::SmtpAnswers answers;
        answers.ehlo = {"250-test.server greets you", "250 AUTH PLAIN LOGIN"};
        og::test::ScriptedSmtpServer server(answers, 2);
        const QString address = QString::fromStdString(server.Address());
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "alice@example.com\r\n"));
        QVERIFY(writeFile(ini(),
            "[user]\r\nserver=" + address.toUtf8() +
                "\r\nlogin=vendor\r\nhelo=pc.example.com\r\n"
                "plainpassword=1\r\n[options]\r\naudit=0\r\n"));
        platform_->storePassword("vendor@127.0.0.1", "kept-secret");
        showForm();
        QCOMPARE(control<QComboBox>("Security")->currentText(), QStringLiteral("Automatic"));
        QCOMPARE(control<QLineEdit>("UserName")->text(), QStringLiteral("vendor"));
        QCOMPARE(control<QLineEdit>("Password")->text(), QStringLiteral("kept-secret"));
        QCOMPARE(control<QLineEdit>("Password")->echoMode(), QLineEdit::Password);
        QVERIFY(control<QCheckBox>("RememberPassword")->isChecked());
        QCOMPARE(platform_->texts(Call::KeyringRead), QStringList {"vendor@127.0.0.1"});

        // Another login brings its own remembered password, unless one was typed.
        platform_->storePassword("other@127.0.0.1", "other-secret");
        auto* user = control<QLineEdit>("UserName");
        user->setText(QStringLiteral("other"));
        emit user->editingFinished();
        QCOMPARE(control<QLineEdit>("Password")->text(), QStringLiteral("other-secret"));
        QTest::keyClicks(control<QLineEdit>("Password"), "x");
        user->setText(QStringLiteral("vendor"));
        emit user->editingFinished();
        QCOMPARE(control<QLineEdit>("Password")->text(), QStringLiteral("other-secretx"));

        // What is entered is what the run uses, saves and remembers.
        fill(address, addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Hello"));
        control<QComboBox>("Security")->setCurrentText(QStringLiteral("None"));
        control<QLineEdit>("UserName")->setText(QStringLiteral("seller"));
        control<QLineEdit>("Password")->setText(QStringLiteral("new-secret"));
        send();
        QVERIFY(platform_->texts(Call::Error).isEmpty());
        QCOMPARE(platform_->keyring().value("seller@127.0.0.1"), QStringLiteral("new-secret"));
        const QByteArray saved = readFile(ini());
        for (const char* line : {"security=None", "login=seller", "helo=pc.example.com", "plainpassword=1"})
            QVERIFY2(saved.contains(line), line);

        // Without a keyring the window says why and asks at each run.
        platform_->setKeyringAvailable(false);
        platform_->queuePassword(QStringLiteral("asked-secret"));
        showForm();
        QCOMPARE(control<QLineEdit>("Password")->text(), QString());
        QVERIFY(!control<QCheckBox>("RememberPassword")->isEnabled());
        QVERIFY(control<QStatusBar>("MyBar")->currentMessage().startsWith("No desktop keyring is available"));
        send();
        QCOMPARE(platform_->count(Call::AskPassword), 1);
        QVERIFY(platform_->texts(Call::AskPassword)
                    .first()
                    .endsWith("so the password is asked for at each run.\rPassword for seller at 127.0.0.1:"));
        QCOMPARE(platform_->count(Call::KeyringWrite), 1);

        server.Join();
        const std::vector<std::string> received = server.Received();
        QCOMPARE(received.size(), std::size_t(2));
        for (const auto& [connection, password] : {std::pair {0, "new-secret"}, std::pair {1, "asked-secret"}}) {
            const std::string auth =
                "AUTH PLAIN " + (QByteArray("\0seller\0", 8) + password).toBase64().toStdString() + "\r\n";
            QVERIFY2(received[connection].find(auth) != std::string::npos, received[connection].c_str());
            QVERIFY(received[connection].find("ehlo pc.example.com\r\n") != std::string::npos);
        }
        QVERIFY(!(readFile(ini()) + readFile(folder_ + "log.txt")).contains("secret"));
    }

    void choosingAProvidersSignInFillsItsServer()
    {
        showForm();
        auto* method = control<QComboBox>("LoginMethod");
        const std::pair<const char*, MailerSettings::Security> expected[] = {
            {"smtp.office365.com:587", MailerSettings::Security::StartTls},
            {"smtp.gmail.com:465", MailerSettings::Security::Tls}};
        for (int i = 0; i < 2; ++i) {
            const int index = method->findText(i ? QStringLiteral("Google") : QStringLiteral("Microsoft"));
            method->setCurrentIndex(index);
            emit method->activated(index);
            QCOMPARE(control<QLineEdit>("MyServer")->text(), QLatin1String(expected[i].first));
            QCOMPARE(control<QComboBox>("Security")->currentText(), securityName(expected[i].second));
        }
    }

    void signatureIsInTheBodyOnceWhateverTheAttempts()
    {
        og::test::MailSink sink;
        QVERIFY(sink.start());
        og::test::SmtpAnswers busy;
        busy.greeting = "554 5.3.2 No service here"; // a 4xx would be waited out
        og::test::ScriptedSmtpServer failing(busy, 3);
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "alice@example.com\r\n"));
        const QString signature = folder_ + "sig.txt";
        QVERIFY(writeFile(signature, "-- \r\nThe Vendor\r\n"));
        showForm();
        fill(QString::fromStdString(failing.Address()), addressFile);
        control<QCheckBox>("CheckYourself")->setChecked(false);
        control<QCheckBox>("SigCheck")->setChecked(true);
        platform_->queueFileName(signature);
        control<QPushButton>("SigLoad")->click();
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Hello"));
        for (int attempt = 0; attempt < 3; ++attempt)
            send();
        QCOMPARE(platform_->count(ScriptedPlatform::Call::Error), 3);
        const QString once = QStringLiteral("Hello\n-- \nThe Vendor");
        QCOMPARE(control<QPlainTextEdit>("Memo1")->toPlainText(), once);
        control<QPushButton>("PreviewButton")->click();
        const QString preview = form_->findChild<QPlainTextEdit*>(QStringLiteral("PreviewText"))->toPlainText();
        QCOMPARE(preview.count(QStringLiteral("The Vendor")), 1);

        // The window stays open between the attempts: showing it again would
        // reload the last saved settings (Qt 6.8 activates a shown window
        // anew), and the failed runs saved none.
        control<QLineEdit>("MyServer")->setText(sink.server());
        for (int run = 1; run <= 2; ++run) {
            send();
            QCOMPARE(control<QPlainTextEdit>("Memo1")->toPlainText(), once);
            QCOMPARE(sink.waitForMessages(run), run);
            const QString text =
                sink.parsed(run)["root"].toObject()["parts"].toArray()[0].toObject()["text"].toString();
            QVERIFY2(text.startsWith(QStringLiteral("Hello\r\n-- \r\nThe Vendor")) && text.count("The Vendor") == 1,
                qPrintable(text));
        }
        QVERIFY(ProfileFile::readBool(ini(), "options", "sigfile", false));
        QCOMPARE(ProfileFile::readString(ini(), "options", "signame", {}), signature);
    }

    void refusedCustomerIsSkippedWhileAFailingServerKeepsTheWindowOpen()
    {
        og::test::SmtpAnswers refuse, busy;
        refuse.rcpt = "550 5.1.1 No such user here";
        busy.greeting = "554 5.3.2 No service here"; // a 4xx would be waited out
        og::test::ScriptedSmtpServer server;
        server.AnswerConnection(2, busy);
        server.AnswerConnection(4, refuse);
        QVERIFY(server.Port() > 0);
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\nb@example.com\r\nc@example.com\r\n"));
        showForm();
        fill(QString::fromStdString(server.Address()), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Body"));
        send(); // b meets the refusing server: the run ends there
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Error), QStringList {"554 5.3.2 No service here."});
        QCOMPARE(control<QStatusBar>("MyBar")->currentMessage(),
            QStringLiteral("Sending failed: 554 5.3.2 No service here"));
        QVERIFY(form_->isVisible());
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QStringLiteral("Version 2 is out"));
        QCOMPARE(control<QPlainTextEdit>("Memo1")->toPlainText(), QStringLiteral("Body"));
        QCOMPARE(ProfileFile::readString(ini(), "user", "email", {}), QString());
        QCOMPARE(ProfileFile::readString(ini(), "options", "efile", {}), addressFile);

        QVERIFY(writeFile(addressFile, "b@example.com\r\nc@example.com\r\n"));
        send(); // c refused (connection 4): skipped, the run completes
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Warning),
            QStringList {"Message sent to 1 customers\r1 refused: c@example.com"});
        QVERIFY(!form_->isVisible());
        showForm(); // opened again: nothing of the last run is shown
        QCOMPARE(control<QProgressBar>("SendProgress")->value(), 0);
        QVERIFY(!control<QProgressBar>("SendProgress")->isTextVisible());
        QVERIFY(control<QStatusBar>("MyBar")->currentMessage().isEmpty());
        QCOMPARE(
            server.Delivered(), (std::vector<std::string> {"a@example.com", "b@example.com", "vendor@example.com"}));
        const QStringList log = logLines();
        QCOMPARE(log.mid(log.size() - 7, 4),
            (QStringList {"b@example.com", "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.",
                "c@example.com", "*** refused: 550 5.1.1 No such user here"}));
        // A run completed with some not sent saves the settings.
        QCOMPARE(ProfileFile::readString(ini(), "user", "email", {}), QStringLiteral("vendor@example.com"));
    }

    void stopEndsTheRunBetweenCustomersAndKeepsTheWindowOpen()
    {
        og::test::ScriptedSmtpServer server;
        server.OnData([this](int n) {
            if (n == 1)
                QMetaObject::invokeMethod(
                    form_, [this] { control<QPushButton>("StopButton")->click(); }, Qt::BlockingQueuedConnection);
        });
        QVERIFY(server.Port() > 0);
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\nb@example.com\r\nc@example.com\r\n"));
        showForm();
        fill(QString::fromStdString(server.Address()), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Body"));
        platform_->queueAction(true);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(form_->isSending());
        QVERIFY(!control<QPushButton>("BitBtn1")->isEnabled());
        platform_->queueConfirm(false);
        form_->reject(); // asks first; No keeps the run and the window
        QVERIFY(form_->isVisible());
        QVERIFY(form_->waitForRunEnd(30000));
        QVERIFY(form_->isVisible());
        QCOMPARE(server.Delivered(), std::vector<std::string> {"a@example.com"});
        // Stop closed a's connection after its data had gone: not known.
        QCOMPARE(control<QStatusBar>("MyBar")->currentMessage(),
            QStringLiteral("Stopped before b@example.com: 0 of 3 customers sent; 1 not known whether sent (the "
                           "connection broke after the message had gone): a@example.com"));
        QVERIFY(control<QPushButton>("BitBtn1")->isEnabled());
        QVERIFY(!control<QPushButton>("StopButton")->isEnabled());
        QVERIFY(logLines().contains(QStringLiteral("*** Stopped before b@example.com (0 of 3 customers sent)")));
        QCOMPARE(ProfileFile::readString(ini(), "user", "email", {}), QString());

        // Sending the same again offers to resume; Cancel sends nothing, Yes
        // leaves out a, whose fate is not known.
        platform_->queueAnswer(Platform::Answer::Cancel);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(!form_->isSending());
        platform_->queueAnswer(Platform::Answer::Yes);
        send();
        QVERIFY(platform_->texts(ScriptedPlatform::Call::ConfirmAction)
                    .last()
                    .startsWith(QStringLiteral("Resume: send this message to the remaining 2 customers")));
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Ask).last(),
            QStringLiteral("Resume: 0 already sent, send to the remaining 2?\rNot known whether sent (the connection "
                           "broke after the message had gone; not sent again): a@example.com\r\rYes: resume. No: "
                           "start over, sending to every customer again."));
        QCOMPARE(server.Delivered(),
            (std::vector<std::string> {"a@example.com", "b@example.com", "c@example.com", "vendor@example.com"}));
        QVERIFY(!form_->isVisible());
    }

    void previewShowsTheFirstCustomersMessageAndSendsNothing()
    {
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "no customer\r\na@example.com , 1001\r\nb@example.com\r\n"));
        showForm();
        fill(QStringLiteral("mail.example.com"), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Hello\n.dot"));
        control<QPushButton>("PreviewButton")->click();
        auto* view = form_->findChild<QPlainTextEdit*>(QStringLiteral("PreviewText"));
        QVERIFY2(platform_->texts(ScriptedPlatform::Call::Error).isEmpty(),
            qPrintable(platform_->texts(ScriptedPlatform::Call::Error).join(" ")));
        QVERIFY(view);
        QVERIFY(view->isVisible());
        const QStringList lines = view->toPlainText().split(u'\n');
        QVERIFY(lines.contains(QStringLiteral("To: a@example.com")));
        QVERIFY(lines.contains(QStringLiteral("Subject: Version 2 is out")));
        QVERIFY(lines.contains(QStringLiteral("From: vendor@example.com")));
        QCOMPARE(lines.mid(lines.size() - 5),
            (QStringList {"Hello", ".dot", "", "Attachments:", "  message.txt (11 bytes)"}));
        QVERIFY(!QFile::exists(folder_ + "message.txt"));
        QVERIFY(!QFile::exists(folder_ + "log.txt"));
        QVERIFY(form_->isVisible());
    }

    void previewShowsTheHtmlAsCustomersSeeItAndLoadsNothing()
    {
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\n"));
        const QString picture = folder_ + "logo.png";
        QVERIFY(writeFile(picture, "not really a picture"));
        ProfileFile::writeString(ini(), "options", "format", "markdown");
        ProfileFile::writeString(ini(), "options", "replyto", "help@shop.example");
        ProfileFile::writeBool(ini(), "options", "autosubmitted", true);
        ProfileFile::writeString(ini(), "options", "unsubscribe", "https://shop.example/out");
        showForm();
        fill(QStringLiteral("mail.example.com"), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(
            QStringLiteral("# Version 2\n\nSee [notes](https://shop.example/n)."));
        control<QPushButton>("PreviewButton")->click();
        auto* html = form_->findChild<QTextBrowser*>(QStringLiteral("PreviewHtml"));
        auto* text = form_->findChild<QPlainTextEdit*>(QStringLiteral("PreviewText"));
        QVERIFY(html && text && html->isVisible());
        QCOMPARE(html->toPlainText().trimmed(), QStringLiteral("Version 2\nSee notes."));
        QVERIFY(html->toHtml().contains(QStringLiteral("href=\"https://shop.example/n\"")));
        QVERIFY(!html->loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile(picture)).isValid());
        const QStringList lines = text->toPlainText().split(u'\n');
        for (const char* line : {"Reply-To: help@shop.example", "Auto-Submitted: auto-generated",
                 "List-Unsubscribe: <https://shop.example/out>", "List-Unsubscribe-Post: List-Unsubscribe=One-Click",
                 "# Version 2"})
            QVERIFY2(lines.contains(QLatin1String(line)), line);

        control<QComboBox>("Format")->setCurrentIndex(0);
        control<QPushButton>("PreviewButton")->click();
        QVERIFY(!html->isVisible() && text->isVisible());
    }

    void closingDuringARunAsksThenStops()
    {
        og::test::SmtpAnswers silent;
        silent.silentFrom = 0; // never greets
        og::test::ScriptedSmtpServer server(silent);
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(writeFile(addressFile, "a@example.com\r\n"));
        showForm();
        fill(QString::fromStdString(server.Address()), addressFile);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Body"));
        platform_->queueAction(true);
        control<QPushButton>("BitBtn1")->click();
        QVERIFY(form_->isSending());
        platform_->queueConfirm(true);
        form_->close();
        QVERIFY(form_->waitForRunEnd(5000)); // not the server's time-out
        QVERIFY(!form_->isVisible());
        QVERIFY(logLines().contains(QStringLiteral("*** Stopped before a@example.com (0 of 1 customers sent)")));
    }

    // Fields: a box for an unknown one; the preview of any customer; the
    // question about customers whose own attachment is missing.
    void personalMessagesArePreviewedAndCheckedBeforeSending()
    {
        og::test::MailSink sink;
        QVERIFY(sink.start());
        const QString addressFile = folder_ + "email_Widget.txt";
        QVERIFY(
            writeFile(addressFile, "email,name,order\r\nanna@example.com,Anna,5001\r\nbob@example.org,Bob,5002\r\n"));
        QVERIFY(writeFile(folder_ + "lic-5001.txt", "anna's licence"));
        showForm();
        fill(sink.server(), addressFile);
        control<QCheckBox>("CheckYourself")->setChecked(false);
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("Dear {{name}}"));
        control<QLineEdit>("MySubject")->setText(QStringLiteral("{{nope}}"));
        send();
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Error).last().contains("Unknown field {{nope}}"));
        control<QLineEdit>("MySubject")->setText(QStringLiteral("For {{name}}"));
        platform_->queueFileNames({folder_ + "lic-{{order}}.txt"});
        control<QPushButton>("AttAdd")->click();

        control<QPushButton>("PreviewButton")->click();
        auto* view = form_->findChild<QPlainTextEdit*>(QStringLiteral("PreviewText"));
        QVERIFY(view->toPlainText().contains("Subject: For Anna\n"));
        QVERIFY(view->toPlainText().contains("lic-5001.txt (14 bytes)"));
        form_->findChild<QPushButton*>(QStringLiteral("PreviewNext"))->click();
        QVERIFY(view->toPlainText().contains("\nDear Bob\n"));
        QVERIFY(view->toPlainText().contains("lic-5002.txt (missing: "));
        auto* address = form_->findChild<QLineEdit*>(QStringLiteral("PreviewAddress"));
        address->setText(QStringLiteral("ANNA@example.com"));
        QTest::keyClick(address, Qt::Key_Return);
        QVERIFY(view->toPlainText().contains("\nDear Anna\n"));
        // After Next, Return shows the customer typed, no button's neighbour.
        form_->findChild<QPushButton*>(QStringLiteral("PreviewNext"))->click();
        address->setText(QStringLiteral("bob@example.org"));
        QTest::keyClick(address, Qt::Key_Return);
        QVERIFY(view->toPlainText().contains("\nDear Bob\n"));

        platform_->queueConfirm(false);
        send();
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Confirm).last().contains("line 3, bob@example.org: "));
        QCOMPARE(sink.messageCount(), 0);
        platform_->queueConfirm(true);
        send();
        QCOMPARE(sink.waitForMessages(1), 1);
        QCOMPARE(sink.envelope(1)["rcpt_tos"].toArray().first().toString(), QStringLiteral("anna@example.com"));
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Warning).join(u'\n').contains("1 not sent: bob@example.org"));
    }

    void attachmentsAreAddedAndRemoved()
    {
        showForm();
        QComboBox* box = control<QComboBox>("AttBox");
        platform_->queueFileNames({"/data/one.pdf", "/data/two.zip", "/data/three.txt"});
        control<QPushButton>("AttAdd")->click();
        box->setCurrentIndex(2);
        platform_->queueFileNames({"/data/one.pdf"});
        control<QPushButton>("AttAdd")->click();
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->itemText(3), QStringLiteral("/data/one.pdf"));
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(platform_->calls().last().filter, QStringLiteral("All files (*.*)|*.*"));
        QCOMPARE(platform_->calls().last().text, QStringLiteral("Choose attachments"));

        box->setCurrentIndex(2);
        platform_->queueConfirm(false);
        control<QPushButton>("AttMinus")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Confirm).last(),
            QStringLiteral("OK to remove /data/three.txt\rfrom the Attachments List?"));
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->currentIndex(), 0); // No still selects the first entry

        box->setCurrentIndex(1);
        platform_->queueConfirm(true);
        control<QPushButton>("AttMinus")->click();
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(1), QStringLiteral("/data/three.txt"));
        QCOMPARE(box->currentIndex(), 0);

        box->setCurrentIndex(-1);
        control<QPushButton>("AttMinus")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Error),
            QStringList {"No attachments selected for removal from list"});
        QCOMPARE(box->count(), 3);
    }

    void viewingAndLoadingFiles()
    {
        showForm();
        control<QPushButton>("BitBtn2")->click();
        QVERIFY(control<QStatusBar>("MyBar")->currentMessage().isEmpty()); // no editor came up
        control<QCheckBox>("SigCheck")->setChecked(true);
        control<QPushButton>("SigView")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Error),
            (QStringList {"No file with email addresses selected yet", "No signature file selected yet"}));

        const QString signature = folder_ + "sig.txt";
        QVERIFY(writeFile(signature, "sig\r\n"));
        platform_->queueFileName(signature);
        control<QPushButton>("SigLoad")->click();
        QCOMPARE(platform_->calls().last().filter, QStringLiteral("Text file (*.txt)|*.txt|All files (*.*)|*.*"));
        QCOMPARE(platform_->calls().last().text, QStringLiteral("Choose a signature file"));
        control<QPushButton>("SigView")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::OpenFile), QStringList {signature});
        QCOMPARE(control<QStatusBar>("MyBar")->currentMessage(), QStringLiteral("Bringing up external text editor"));

        // Cancelling the signature dialog still counts as a settings change
        // and keeps the path.
        TemailForm fresh(*platform_);
        fresh.SettingsPath = ini();
        QVERIFY(!fresh.SettingsChanged());
        platform_->queueFileName(QString());
        fresh.SigLoadClick();
        QVERIFY(fresh.SettingsChanged());

        control<QPushButton>("BitBtn4")->click();
        QVERIFY(platform_->texts(ScriptedPlatform::Call::OpenUrl).last().endsWith(QStringLiteral("index.html#send")));
    }

    void spellCheckReportsCountsAndAppliesCorrections()
    {
        showForm();
        control<QPushButton>("Speller")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Information),
            QStringList {"Checked 0 words in subject and body.\rReplaced 0 words."});

        ScriptedSpellDialogue dialogue;
        dialogue.answers = {{SpellAnswer::Action::Replace, QStringLiteral("The")},
            {SpellAnswer::Action::Replace, QStringLiteral("have")}};
        form_->setSpellDialogue(&dialogue);
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Teh new version"));
        control<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("We hav released it.\nThanks"));
        QStringList statuses;
        connect(form_, &TemailForm::statusShown, this, [&](const QString& s) { statuses << s; });
        control<QPushButton>("Speller")->click();
        QCOMPARE(dialogue.askedWords, (QStringList {"Teh", "hav"}));
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QStringLiteral("The new version"));
        QCOMPARE(control<QPlainTextEdit>("Memo1")->toPlainText(), QStringLiteral("We have released it.\nThanks"));
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Information).last(),
            QStringLiteral("Checked 8 words in subject and body.\rReplaced 2 words."));
        QCOMPARE(statuses,
            (QStringList {
                "checking spelling in message Subject", "checking spelling in message Body", "Spelling checked"}));
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Version"));
        control<QPlainTextEdit>("Memo1")->clear();
        control<QPushButton>("Speller")->click();
        QCOMPARE(platform_->texts(ScriptedPlatform::Call::Information).last(),
            QStringLiteral("Checked 1 word in subject and body.\rReplaced 0 words."));
        QVERIFY(!form_->SettingsChanged());
    }

    void spellCheckWithoutADictionaryIsAClearError()
    {
        form_->setSpellChecker(std::make_unique<TVSSpell>(QStringLiteral("xx_NOWHERE")));
        control<QLineEdit>("MySubject")->setText(QStringLiteral("Subject"));
        control<QPushButton>("Speller")->click();
        const QStringList errors = platform_->texts(ScriptedPlatform::Call::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(QStringLiteral("xx_NOWHERE")));
        QVERIFY(platform_->texts(ScriptedPlatform::Call::Information).isEmpty());
        QCOMPARE(control<QLineEdit>("MySubject")->text(), QStringLiteral("Subject"));
        QVERIFY(control<QStatusBar>("MyBar")->currentMessage().isEmpty());
    }

    void spellingDialogReturnsTheChosenAnswer()
    {
        SpellDialog dialog(form_);
        QString context;
        int suggestions = 0;
        QPoint moved; // where the vendor drags the dialog
        QTimer::singleShot(0, &dialog, [&] {
            context = dialog.findChild<QTextEdit*>("SpellContext")->toPlainText();
            suggestions = dialog.findChild<QListWidget*>("SpellSuggestions")->count();
            moved = dialog.geometry().topLeft() + QPoint(40, 30);
            dialog.windowHandle()->setPosition(moved);
            QCoreApplication::processEvents();
            dialog.findChild<QPushButton*>("SpellReplaceAll")->click();
        });
        const SpellAnswer answer = dialog.ask({QStringLiteral("We recieved it"), 3, QStringLiteral("recieved"),
            {QStringLiteral("received"), QStringLiteral("relieved")}});
        QCOMPARE(context, QStringLiteral("We recieved it"));
        QCOMPARE(suggestions, 2);
        QCOMPARE(int(answer.action), int(SpellAnswer::Action::ReplaceAll));
        QCOMPARE(answer.replacement, QStringLiteral("received"));

        QPoint shownAt;
        QTimer::singleShot(0, &dialog, [&] {
            context = dialog.findChild<QTextEdit*>("SpellContext")->toPlainText();
            shownAt = dialog.geometry().topLeft();
            dialog.reject();
        });
        // far into a long text: the context starts and ends at whole words
        const QString words = QStringLiteral("abcdef ").repeated(50);
        QCOMPARE(
            int(dialog.ask({words + QStringLiteral("zzq ") + words, words.size(), QStringLiteral("zzq"), {}}).action),
            int(SpellAnswer::Action::Cancel));
        QVERIFY2(context.startsWith(QStringLiteral("abcdef ")) && context.endsWith(QStringLiteral("abcdef")),
            qPrintable(context));
        QCOMPARE(shownAt, moved); // the next question opens where the last was left
    }
};

QTEST_MAIN(MailerWindowTest)
#include "test_app_mailer_window.moc"
