#include "cli/PublishCommand.h"

#include "cli/Arguments.h"

#include "common/ProgramFolder.h"
#include "platform/QtKeyring.h"
#include "publish/PublishError.h"
#include "publish/SftpSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <iterator>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

QString usage()
{
    return QStringLiteral("Usage: ordergate-cli publish PRODUCT [--host HOST] [--port N] [--user NAME] [--key FILE]\n"
                          "                            [--password-file FILE] [--folder PATH] [--check-url URL]\n"
                          "                            [--accept-host-key SHA256] [--known-hosts FILE]\n"
                          "                            [--dry-run] [--undo] [--dir DIR]\n");
}

ExitStatus fail(const QString& message)
{
    printError(QStringLiteral("ordergate-cli publish: ") + message + u'\n');
    return ExitStatus::Failure;
}

// The first line of the file; the texts here never quote it.
bool readPasswordFile(const QString& path, QString* password, QString* why)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot read the password file %1: %2").arg(path, in.errorString());
        return false;
    }
    *password = QString::fromUtf8(in.readLine(4096));
    while (password->endsWith(u'\n') || password->endsWith(u'\r'))
        password->chop(1);
    return true;
}

} // namespace

const Command publishCommand = {
    "publish",
    "bring a product's accounts to the web server over SSH and check them by logging in",
    &run,
};

QString publishHelpText()
{
    return usage() +
        QStringLiteral("\n"
                       "Makes the protected folder's .htpasswd on the web server hold exactly the\n"
                       "accounts of PRODUCT's last run (its accounts_PRODUCT.txt: new, kept and\n"
                       "changed accounts, and the test account; removed ones are gone), over SSH\n"
                       "and SFTP. The hashes are made here (the \"Password hash\" option, or\n"
                       "[publish] hash: md5, bcrypt or sha512); no password reaches the server.\n"
                       "The new file is written beside the old one and renamed over it; the old\n"
                       "one is kept as .htpasswd.previous. The chmod options set the modes.\n"
                       "Then, with a download address, a protected file's headers are fetched\n"
                       "with a sample of the new and changed accounts (each should get in) and a\n"
                       "removed one (it should be refused).\n"
                       "\n"
                       "  PRODUCT                 the product, as make named it (its ledger is read).\n"
                       "  --host HOST             the SSH server ([publish] host).\n"
                       "  --port N                its port ([publish] port; 22).\n"
                       "  --user NAME             the login ([publish] user; the local user).\n"
                       "  --key FILE              a private key for the login ([publish] keyFile).\n"
                       "                          The SSH agent is tried first.\n"
                       "  --password-file FILE    the login's password, the file's first line.\n"
                       "                          Without it a password comes only from the\n"
                       "                          desktop keyring, never from the command line.\n"
                       "  --folder PATH           the protected folder on the server ([publish] folder).\n"
                       "  --check-url URL         a protected file's https:// address for the check\n"
                       "                          ([publish] checkUrl); without one nothing is checked.\n"
                       "  --accept-host-key SHA256  accept a server whose host key is not yet known\n"
                       "                          when its fingerprint is this (\"SHA256:...\" as\n"
                       "                          ssh-keygen -l prints it); it is then added to the\n"
                       "                          known hosts file. A changed key is always refused.\n"
                       "  --known-hosts FILE      the known hosts file (~/.ssh/known_hosts).\n"
                       "  --dry-run               connect and count what would change (new, changed,\n"
                       "                          removed accounts); change nothing.\n"
                       "  --undo                  put .htpasswd.previous back (the undone file then\n"
                       "                          becomes the previous one).\n"
                       "  --dir DIR               the program folder: its ordergate.ini and the ledger.\n"
                       "  -h, --help              show this text.\n"
                       "\n"
                       "Standard output says what changed and how each account of the check did.\n"
                       "Exit status: 0 done, 1 a failure (message on standard error; a lost\n"
                       "connection leaves the old .htpasswd in place), 2 a malformed command line,\n"
                       "3 published, but an account of the check did not do as expected.\n");
}

PublishSettings PublishArguments::over(const PublishSettings& file) const
{
    PublishSettings s = file;
    for (QString PublishSettings::*text : givenTexts)
        s.*text = given.*text;
    if (havePort)
        s.port = given.port;
    return s;
}

namespace {

// The options that name one text of the [publish] settings.
struct TextOption {
    const char16_t* name;
    QString PublishSettings::*text;
};
constexpr TextOption kTextOptions[] = {
    {u"--host", &PublishSettings::host},
    {u"--user", &PublishSettings::user},
    {u"--key", &PublishSettings::keyFile},
    {u"--folder", &PublishSettings::folder},
    {u"--check-url", &PublishSettings::checkUrl},
    {u"--known-hosts", &PublishSettings::knownHosts},
};

} // namespace

bool parsePublishArguments(const QStringList& args, PublishArguments* out, QString* error)
{
    *out = PublishArguments();
    ArgumentParser parser;
    QStringList operands;
    QString port;
    bool dryRun = false, undo = false;
    bool textGiven[std::size(kTextOptions)] = {};
    for (size_t i = 0; i < std::size(kTextOptions); ++i)
        parser.value(QString::fromUtf16(kTextOptions[i].name), &(out->given.*kTextOptions[i].text), &textGiven[i]);
    parser.value(QStringLiteral("--port"), &port, &out->havePort);
    parser.value(QStringLiteral("--password-file"), &out->passwordFile);
    parser.value(QStringLiteral("--accept-host-key"), &out->acceptHostKey);
    parser.value(QStringLiteral("--dir"), &out->dir);
    parser.flag(QStringLiteral("--dry-run"), &dryRun);
    parser.flag(QStringLiteral("--undo"), &undo);
    parser.operands(&operands, 1, QStringLiteral("only one PRODUCT may be given"));
    if (!parser.parse(args, error))
        return false;
    for (size_t i = 0; i < std::size(kTextOptions); ++i) {
        if (textGiven[i])
            out->givenTexts.append(kTextOptions[i].text);
    }
    out->help = parser.helpAsked();
    if (out->help)
        return true;
    if (operands.isEmpty()) {
        *error = QStringLiteral("name the PRODUCT whose accounts to publish");
        return false;
    }
    out->product = operands.first();
    if (dryRun && undo) {
        *error = QStringLiteral("--dry-run and --undo exclude each other");
        return false;
    }
    out->mode = dryRun ? PublishMode::DryRun : undo ? PublishMode::Undo : PublishMode::Publish;
    if (out->havePort) {
        bool ok = false;
        out->given.port = port.toInt(&ok);
        if (!ok || out->given.port < 1 || out->given.port > 65535) {
            *error = QStringLiteral("--port must be a number from 1 to 65535, not \"%1\"").arg(port);
            return false;
        }
    }
    if (!out->acceptHostKey.isEmpty() && normalFingerprint(out->acceptHostKey).size() < 20) {
        *error = QStringLiteral("--accept-host-key takes the SHA256 fingerprint that ssh-keygen -l prints");
        return false;
    }
    return true;
}

namespace {

ExitStatus run(const QStringList& arguments)
{
    PublishArguments a;
    QString error;
    if (!parsePublishArguments(arguments, &a, &error))
        return usageError(publishCommand, error, usage());
    if (a.help) {
        printOut(publishHelpText());
        return ExitStatus::Ok;
    }
    QString folder = a.dir.isEmpty() ? programFolder() : QFileInfo(a.dir).absoluteFilePath();
    if (!QFileInfo(folder).isDir())
        return fail(QStringLiteral("the folder %1 does not exist").arg(a.dir));
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString settingsPath = settingsPathIn(folder);

    PublishRequest r;
    r.settings = a.over(PublishSettings::load(settingsPath));
    r.options = loadOptions(settingsPath, Options());
    r.programFolder = folder;
    r.product = a.product;
    r.mode = a.mode;
    r.acceptedFingerprint = a.acceptHostKey;
    QString filePassword;
    if (!a.passwordFile.isEmpty() && !readPasswordFile(a.passwordFile, &filePassword, &error))
        return fail(error);
    QtKeyring keyring;
    const QString key = r.settings.keyringKey();
    r.password = [&]() -> QString {
        if (!a.passwordFile.isEmpty())
            return filePassword;
        const Keyring::KeyringReply reply = keyring.readPassword(key);
        if (reply.status == Keyring::KeyringStatus::Failed)
            printError(
                QStringLiteral("ordergate-cli publish: the desktop keyring could not be read: ") + reply.why + u'\n');
        return reply.status == Keyring::KeyringStatus::Done ? reply.password : QString();
    };
    try {
        const PublishResult result = publish(r);
        printOut(result.lines().join(u'\n') + u'\n');
        return result.failedChecks() > 0 ? ExitStatus::Partly : ExitStatus::Ok;
    } catch (const UnknownHostKey& e) {
        return fail(e.message() + QStringLiteral(".\nTo accept it, give --accept-host-key ") + e.fingerprint());
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

} // namespace

} // namespace og::cli
