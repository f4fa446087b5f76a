#include "platform/QtKeyring.h"

#include <QEventLoop>

#include <qt6keychain/keychain.h>

namespace og {

namespace {

// The keyring's entries of this program are filed under this service name.
const QString KeyringService = QStringLiteral("Ordergate");

// Runs a keyring job to its end in a local event loop: the keyring answers
// over D-Bus and may first ask the user to unlock it, and windows must keep
// painting and answering meanwhile.
Keyring::KeyringReply runJob(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false); // a password never goes to a plain file
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    Keyring::KeyringReply reply;
    reply.why = job.errorString();
    switch (job.error()) {
    case QKeychain::NoError:
        reply.status = Keyring::KeyringStatus::Done;
        reply.why.clear();
        break;
    case QKeychain::EntryNotFound:
        reply.status = Keyring::KeyringStatus::NotFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        // Without a session bus or a keyring service QtKeychain gives no
        // more than "Unknown error"; either way there is no keyring to use.
        reply.status = Keyring::KeyringStatus::NoKeyring;
        if (job.error() == QKeychain::OtherError && reply.why == QLatin1String("Unknown error"))
            reply.why = QStringLiteral("no Secret Service or KWallet answered");
        break;
    default:
        reply.status = Keyring::KeyringStatus::Failed;
        break;
    }
    return reply;
}

} // namespace

Keyring::KeyringReply QtKeyring::readPassword(const QString& key)
{
    QKeychain::ReadPasswordJob job(KeyringService);
    job.setKey(key);
    KeyringReply reply = runJob(job);
    if (reply.status == KeyringStatus::Done)
        reply.password = job.textData();
    return reply;
}

Keyring::KeyringReply QtKeyring::writePassword(const QString& key, const QString& password)
{
    QKeychain::WritePasswordJob job(KeyringService);
    job.setKey(key);
    job.setTextData(password);
    return runJob(job);
}

Keyring::KeyringReply QtKeyring::deletePassword(const QString& key)
{
    QKeychain::DeletePasswordJob job(KeyringService);
    job.setKey(key);
    return runJob(job);
}

} // namespace og
