#pragma once
// The login options that send and login share: how to log in with a token
// (--auth, --token-command, send only) and the OAuth2 application at the
// provider. They are read by the one argument parser, checked there, and
// laid over the settings file's values; the client secret comes from a
// file, never from the command line, which every user of the machine sees.

#include "cli/Arguments.h"

#include "mailer/MailerSettings.h"

#include <optional>

namespace og::cli {

class LoginOptions {
public:
    // Registers the options; withMethod adds --auth and --token-command.
    void add(ArgumentParser& parser, bool withMethod);
    // After the parse: false with the message for a word that is no choice.
    bool check(QString* error);
    // Lays what was given over the settings file's values.
    void apply(MailerSettings& settings) const;

    QString clientSecretFile() const { return clientSecretFile_; }
    bool noBrowser() const { return noBrowser_; }

    // The options' lines for the usage and the help text.
    static QString usage(bool withMethod);
    static QString help(bool withMethod);

private:
    QString auth_, provider_, clientId_, clientSecretFile_, authUrl_, tokenUrl_, scope_, tokenCommand_;
    bool haveAuth_ = false, haveProvider_ = false, haveClientId_ = false, haveAuthUrl_ = false, haveTokenUrl_ = false,
         haveScope_ = false, haveTokenCommand_ = false, noBrowser_ = false;
    std::optional<LoginMethod> method_;
    std::optional<OAuthProviderKind> kind_;
};

// The client secret: the first line of `file` (nothing when no file is
// named). False with the reason, which never quotes the file's text.
bool readClientSecret(const QString& file, QString* secret, QString* why);

} // namespace og::cli
