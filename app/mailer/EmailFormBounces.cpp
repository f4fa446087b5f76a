// The mailer window's "Check for bounces..." and the suppressed customers
// it names before a run: the mailbox library and the send run's checks do
// the work, the window asks and shows.
#include "app/mailer/EmailForm.h"

#include "app/mailer/LoginControls.h"
#include "app/mailer/MailboxDialog.h"
#include "mailbox/BounceRun.h"
#include "mailbox/MailboxSettings.h"
#include "mailer/send/InputChecks.h"
#include "mailer/send/SendJournal.h"
#include "mailer/signin/AccessTokenSource.h"
#include "mailer/signin/TokenCommand.h"

#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QThread>

namespace og {

QString TemailForm::listsFolder() const
{
    return QDir(ListsFolder.isEmpty() ? QDir::currentPath() : ListsFolder).absolutePath();
}

bool TemailForm::confirmSuppressed(const MailerInput& input)
{
    QStringList suppressed;
    QString error;
    if (!suppressedCustomers(input.settings.addressFile, input.listsFolder, &suppressed, &error)) {
        platform_.showError(this, QStringLiteral("Nothing was sent: ") + error);
        return false;
    }
    return suppressed.isEmpty() ||
        platform_.confirm(this,
            QStringLiteral("%1 suppressed and left out (remove a line from bounced.txt or "
                           "unsubscribed.txt in %2 to mail them again):\r\r%3\r\rSend to the others?")
                .arg(suppressed.size() == 1 ? QStringLiteral("1 customer is")
                                            : QStringLiteral("%1 customers are").arg(suppressed.size()))
                .arg(QDir::toNativeSeparators(input.listsFolder), suppressed.join(u'\r')));
}

void TemailForm::BouncesClick()
{
    MailboxSettings saved;
    saved.load(SettingsPath);
    MailboxDialog dialog(this, saved);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const MailboxSettings mailbox = dialog.settings();
    if (!(mailbox == saved)) {
        try {
            mailbox.save(SettingsPath);
        } catch (const std::exception& error) {
            platform_.showError(this, QString::fromUtf8(error.what()));
            return;
        }
    }
    const MailerSettings mailer = settingsFromControls();
    BounceCheckInput input;
    parseMailboxServer(mailbox.server, &input.server.host, &input.server.port); // the dialog checked it
    input.server.security = mailbox.security;
    input.server.caFile = mailbox.caFile;
    input.server.noVerify = mailbox.noVerify;
    input.user = mailbox.user.isEmpty() ? mailer.userName : mailbox.user;
    if (input.user.isEmpty()) {
        platform_.showError(this,
            QStringLiteral("No login for the mailbox: enter the mailer's user name, or the mailbox's login "
                           "under \"Check for bounces...\""));
        return;
    }
    input.folders = mailbox.folders;
    input.today = QDate::currentDate();
    input.since = input.today.addDays(-mailbox.days);
    input.context = mailContext(mailer.unsubscribe, {mailer.sender, mailer.replyTo, input.user});
    input.sent = SendJournal::messageIds(QDir::currentPath());

    std::shared_ptr<AccessTokenSource> tokens;
    if (mailer.login == LoginMethod::Password) {
        input.password = password_.load(input.user, input.server.host).password;
        if (input.password.isEmpty() && !password_.ask(this, input.user, input.server.host, &input.password))
            return;
    } else if (mailer.login == LoginMethod::TokenCommand) {
        tokens = std::make_shared<TokenCommand>(mailer.tokenCommand);
    } else {
        QString problem;
        tokens = Login->tokensForRun(mailer, &problem, true);
        if (!tokens) {
            platform_.showError(this, problem);
            return;
        }
    }
    if (tokens)
        input.tokens = std::make_shared<FunctionTokens>([tokens] { return tokens->accessToken(); },
            [tokens](const QString& refused) { return tokens->refusedToken(refused); });

    // Off the window's thread, so it keeps drawing while the server answers.
    showStatus(QStringLiteral("Reading the mailbox of %1 at %2...").arg(input.user, input.server.host));
    BouncesButton->setEnabled(false);
    BounceRunResult result;
    QString failure;
    QThread* worker = QThread::create([&] {
        try {
            result = runBounceCheck(input, ProgramFolder, listsFolder());
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
    });
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    BouncesButton->setEnabled(!sending_);
    showStatus(QString());
    if (!failure.isEmpty())
        platform_.showError(this, failure);
    else
        platform_.showInformation(this, result.summary().join(u'\r'));
}

} // namespace og
