#pragma once
// The desktop keyring seen by the programs a test starts: a working one
// (tests/support/fake_keyring.py, a KWallet on a D-Bus bus of its own,
// holding its entries in memory) or none at all. It is handed on through
// the environment, set while the object lives, so a test never touches the
// keyring of the desktop it runs on. Every wait is bounded; the destructor
// stops the keyring and restores the environment.
//
//   TestKeyring keyring;                  // or TestKeyring(TestKeyring::None)
//   ASSERT_TRUE(keyring.start());
//   ... run ordergate-cli ...
//   keyring.entries()["oauth2:custom:127.0.0.1:me@example.com"]

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <utility>

namespace og::test {

class TestKeyring {
public:
    enum Kind { Working, None };
    explicit TestKeyring(Kind kind = Working);
    ~TestKeyring();
    TestKeyring(const TestKeyring&) = delete;
    TestKeyring& operator=(const TestKeyring&) = delete;

    bool start(); // false when the keyring did not come up within a few seconds
    // What it holds: key -> secret.
    QJsonObject entries() const;

private:
    void setEnvironment(const char* name, const QByteArray& value);

    Kind kind_;
    QTemporaryDir dir_;
    QProcess process_;
    QList<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

} // namespace og::test
