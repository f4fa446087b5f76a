#include "mailer/send/InputChecks.h"

#include "common/AddressFile.h"
#include "common/SuppressionList.h"
#include "common/Trim.h"
#include "mailer/message/MessageHeaders.h"
#include "mailer/signin/OAuthProvider.h"

#include <QFileInfo>

namespace og {

QString checkMailerInput(const MailerInput& input, MailerField* field)
{
    const auto about = [field](MailerField which, const QString& problem) {
        if (field)
            *field = which;
        return problem;
    };
    const MailerSettings& s = input.settings;
    if (!QFileInfo(s.addressFile).isFile())
        return about(MailerField::AddressFile, QStringLiteral("Invalid address file name"));
    if (s.sender.indexOf(u'@') < 1)
        return about(MailerField::Sender, QStringLiteral("You must enter your correct email address"));
    const ServerAddress server = parseServerAddress(s.server, s.security);
    if (trimmed(s.server).indexOf(u'.') < 1 && !server.host.contains(u':'))
        return about(MailerField::Server,
            QStringLiteral("You must enter your mail server (e.g. %1)").arg(QLatin1String(ExampleMailServer)));
    if (!server.problem.isEmpty())
        return about(MailerField::Server, server.problem);
    if (s.login != LoginMethod::Password && trimmed(s.userName).isEmpty())
        return about(MailerField::Login,
            QStringLiteral("Enter your user name (usually your mail address): a login with a token needs it"));
    if (s.login == LoginMethod::TokenCommand && trimmed(s.tokenCommand).isEmpty())
        return about(
            MailerField::Login, QStringLiteral("Enter the token command: the command that prints the access token"));
    if (s.login == LoginMethod::OAuth2) {
        if (QString problem = checkOAuthApplication(oauthApplication(s)); !problem.isEmpty())
            return about(MailerField::Login, problem);
    }
    if (QString problem = checkMessageHeaders(s); !problem.isEmpty())
        return about(MailerField::Headers, problem);
    if (input.subject.isEmpty())
        return about(MailerField::Subject, QStringLiteral("You must enter a subject for your message"));
    if (input.body.isEmpty())
        return about(MailerField::Body, QStringLiteral("You must enter something in your message"));
    return about(MailerField::None, {});
}

bool suppressedCustomers(const QString& addressFile, const QString& listsFolder, QStringList* out, QString* error)
{
    out->clear();
    SuppressedAddresses lists;
    if (!lists.read(listsFolder, error))
        return false;
    if (lists.isEmpty())
        return true;
    for (const AddressRecord& record : addressRecords(readTextFileLines(addressFile))) {
        if (const QString why = lists.why(record.address); !why.isEmpty())
            *out << record.address + QStringLiteral(" (") + why + u')';
    }
    return true;
}

int customersToMail(const QString& addressFile, const QString& listsFolder, const QStringList& skipped)
{
    SuppressedAddresses lists;
    if (QString unread; !lists.read(listsFolder, &unread))
        lists = {};
    int count = 0;
    for (const AddressRecord& record : addressRecords(readTextFileLines(addressFile))) {
        if (lists.why(record.address).isEmpty() && !skipped.contains(record.address))
            ++count;
    }
    return count;
}

} // namespace og
