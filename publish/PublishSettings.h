#pragma once
// Where the accounts are published: the [publish] section of ordergate.ini,
// one key a field (the table of PublishSettings.cpp). The SSH password is
// never here: it lives in the desktop keyring under keyringKey().

#include "orders/Options.h"
#include "publish/PasswordHash.h"

#include <QString>

namespace og {

struct PublishSettings {
    QString host;
    int port = 22;
    QString user;       // empty: the local user's name, as ssh takes it
    QString folder;     // the protected download folder on the server
    QString checkUrl;   // a protected file's address, for the login check
    QString hash;       // "md5", "bcrypt", "sha512"; empty: as the "Password hash" option says
    QString keyFile;    // a private key for the login; empty: the agent, then a password
    QString knownHosts; // empty: ~/.ssh/known_hosts

    bool operator==(const PublishSettings&) const = default;

    // Every key missing from the file keeps the value of current.
    static PublishSettings load(const QString& settingsPath, const PublishSettings& current);
    static PublishSettings load(const QString& settingsPath) { return load(settingsPath, PublishSettings()); }
    // Throws ProfileWriteError.
    void save(const QString& settingsPath) const;

    // The hash to make: the setting, else the "Password hash" option
    // (bcrypt, or htpasswd's default MD5). False with the problem in why
    // for a word that names none.
    bool hashKind(const Options& options, HashKind* kind, QString* why) const;
    // What a publish cannot go without, or empty.
    QString problem() const;
    // The desktop keyring's key of the SSH password of user at host.
    QString keyringKey() const;
};

} // namespace og
