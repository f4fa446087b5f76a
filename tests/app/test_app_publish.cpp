// The "Publish to server…" dialog, offscreen with the scripted platform,
// against the sshd and apache2 the test starts on 127.0.0.1: the settings
// saved, the password taken from the keyring only, an unknown host key
// accepted by the vendor, the report of a publish.

#include "app/PublishDialog.h"
#include "orders/AccountLedger.h"
#include "tests/publish/PublishServers.h"
#include "tests/support/ScriptedPlatform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

namespace og {

class PublishDialogTest : public QObject {
    Q_OBJECT
private slots:
    void publishesWithTheVendorsAnswers()
    {
        test::PublishServers servers;
        QString why;
        if (!servers.start(&why))
            QSKIP(qPrintable(why));
        const QString dir = servers.scratch();
        QFile ledger(dir + QStringLiteral("accounts_Tool.txt"));
        QVERIFY(ledger.open(QIODevice::WriteOnly));
        ledger.write(AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n" + "a@x.com\t1001\t1\t1\r\n" +
            AccountLedger::countLine(1) + "\r\n");
        ledger.close();
        PublishSettings known = servers.settings();
        known.knownHosts = dir + QStringLiteral("known_hosts"); // not yet holding the server
        known.save(dir + QStringLiteral("ordergate.ini"));

        ScriptedPlatform platform;
        PublishDialog dialog(platform, {dir + QStringLiteral("ordergate.ini"), dir, QStringLiteral("Tool"), Options()});
        QCOMPARE(dialog.Host->text(), known.host);
        QCOMPARE(dialog.Port->value(), known.port);
        dialog.Hash->setCurrentIndex(dialog.Hash->findData(QStringLiteral("sha512")));
        QSignalSpy finished(&dialog, &PublishDialog::finished);
        platform.queueConfirm(true); // the host key, shown with its fingerprint
        dialog.Publish->click();
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(platform.texts(ScriptedPlatform::Call::Confirm).first().contains(servers.hostFingerprint()));
        QVERIFY2(dialog.Report->toPlainText().contains(u"Login check passed for all 2 accounts tried"),
            qPrintable(dialog.Report->toPlainText()));
        for (const QString& key : platform.texts(ScriptedPlatform::Call::KeyringRead))
            QCOMPARE(key, known.keyringKey());
        QCOMPARE(PublishSettings::load(dir + QStringLiteral("ordergate.ini")).hash, QStringLiteral("sha512"));
        QVERIFY(platform.verifyAllUsed());
    }
};

} // namespace og

QTEST_MAIN(og::PublishDialogTest)
#include "test_app_publish.moc"
