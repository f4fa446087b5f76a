#pragma once
// The mailer's saved settings (one table of keys in the settings file,
// common/SettingsTable.h) and the words its choices are spelled with. The
// window, the send run and the command line all go through these; what the
// vendor enters for one run is mailer/MailerInput.h.

#include "smtp/SmtpSecurity.h"

#include <QString>
#include <QStringList>

namespace og {

// How a run with a user name logs in: with a password, with the tokens of
// an OAuth2 sign-in in the browser at a provider, or with an access token
// a command prints.
enum class LoginMethod { Password, OAuth2, TokenCommand };
// The providers of an OAuth2 sign-in (mailer/signin/OAuthProvider.h).
enum class OAuthProviderKind { Microsoft, Google, Custom };
// How the body goes out: as typed, or as typed with an HTML alternative
// (mailer/message/MarkdownBody.h).
enum class MessageFormat { Plain, Markdown };

// The mailer's settings as saved in the settings file.
struct MailerSettings {
    QString addressFile;       // [options] efile: the address file last used
    QString sender;            // [user] email: "Your Email Address"
    QString organisation;      // [user] company: "Company Name"
    QString server;            // [user] server: "host" or "host:port"
    bool wantLog = true;       // [options] log
    bool copyToSelf = true;    // [options] audit
    bool useSignature = false; // [options] sigfile
    QString signatureFile;     // [options] signame

    // How the run reaches the server and logs in. A file without these keys
    // means what it meant before they existed: Automatic, no login. The
    // password is never among them (the desktop keyring or each run has it).
    using Security = TSmtpSecurity;
    Security security = Security::Automatic; // [user] security
    QString userName;                        // [user] login: empty = no login
    QString clientName;                      // [user] helo: empty = the machine's name
    int timeoutSeconds = 300;                // [user] timeout: for each reply
    QString caFile;                          // [user] cafile: authority to trust instead
    QString fingerprint;                     // [user] fingerprint: SHA-256 of the certificate
    bool noVerify = false;                   // [user] nocheck: check no certificate
    bool allowPlainPassword = false;         // [user] plainpassword: with None only

    // The login with a token. The client secret, a token or a refresh token
    // is never among these: the keyring, a file or the run's memory has it.
    LoginMethod login = LoginMethod::Password;                      // [user] auth
    OAuthProviderKind oauthProvider = OAuthProviderKind::Microsoft; // [user] oauthprovider
    QString clientId;     // [user] clientid: the application registered at the provider
    QString tenant;       // [user] tenant: Microsoft's; empty: common
    QString authUrl;      // [user] authurl: a custom provider's authorization address
    QString tokenUrl;     // [user] tokenurl: its token address
    QString scope;        // [user] scope: its scope
    QString tokenCommand; // [user] tokencommand: prints the access token

    // How fast a run sends: at most this many messages a minute (0: no
    // limit), over this many connections at once (1 to MaxConnections).
    int ratePerMinute = 0; // [options] rate; 0: the provider's limit, if its profile has one
    int connections = 1;   // [options] connections
    // The provider's profile by name (mailer/ProviderProfile.h); empty: the
    // one the server's name matches.
    QString provider; // [options] provider
    static constexpr int MaxConnections = 8;
    // Customers refused for now (a 4xx, a 421, a connection lost before the
    // data) are tried again at the end of the run this many times, the
    // first after this many seconds, each later pause twice the one before.
    int retries = 2;            // [options] retries: 0 to MaxRetries
    int retryDelaySeconds = 30; // [options] retrydelay: 0 to MaxRetryDelay
    static constexpr int MaxRetries = 10;
    // Messages sent over one connection before it is closed and another
    // opened; a message after a refused one starts with RSET. 1 is a
    // connection per message.
    int perConnection = 1; // [options] permessage: 1 to MaxPerConnection
    static constexpr int MaxPerConnection = 1000;
    static constexpr int MaxRetryDelay = 3600;

    // What each message carries besides its text (mailer/MessageHeaders.h).
    // All off by default: a file without these keys sends what it always did.
    MessageFormat format = MessageFormat::Plain; // [options] format: Markdown adds HTML
    QString replyTo;                             // [options] replyto: empty: replies go to the sender
    bool autoSubmitted = false;                  // [options] autosubmitted
    QString unsubscribe;                         // [options] unsubscribe: mailto:/https: addresses
    // An attachment path that is a field alone ("{{file}}") takes a whole
    // absolute path from the address file; off: a file's name beside it.
    bool attachAbsolute = false; // [options] attachabsolute

    bool operator==(const MailerSettings&) const = default;

    // Reads the keys of an existing file over these values: a key that is
    // missing resets the sender's details (email, company, server and how to
    // reach and log in to it) and keeps every other value. A missing file
    // changes nothing.
    void load(const QString& settingsPath);
    // Writes every key but efile, in the order of the table. Throws
    // ProfileWriteError.
    void save(const QString& settingsPath) const;
    // Writes [options] efile alone, as each run does before it starts.
    static void saveAddressFile(const QString& settingsPath, const QString& addressFile);
};

// The security setting as the window and the settings file name it:
// "Automatic", "STARTTLS", "SSL/TLS", "None".
QString securityName(MailerSettings::Security security);
// Those names and the command line's words (auto, starttls, tls, none),
// ignoring case; false for anything else.
bool parseSecurity(const QString& text, MailerSettings::Security* security);

// The login methods as the settings file and the command line name them:
// "password", "oauth2", "command"; parsing ignores case.
QString loginMethodWord(LoginMethod method);
bool parseLoginMethod(const QString& text, LoginMethod* method);

// "microsoft", "google", "custom": the word of the settings file, the command
// line and the keyring's key; parsing ignores case.
QString oauthProviderWord(OAuthProviderKind kind);
bool parseOAuthProvider(const QString& text, OAuthProviderKind* kind);

// The words of the settings file and the command line for the body's
// format: "plain", "markdown"; parsing ignores case.
QString messageFormatWord(MessageFormat format);
bool parseMessageFormat(const QString& text, MessageFormat* format);

// Where the mail server is: "host" or "host:port", blanks around it ignored;
// an IPv6 address in brackets ("[::1]:587") or bare without a port ("::1"),
// host then without the brackets; without a port the security setting's
// default (DefaultSmtpPort). problem names a port that is no number from 1
// to 65535.
struct ServerAddress {
    QString host;
    int port = 25;
    QString problem;
};
ServerAddress parseServerAddress(
    const QString& server, MailerSettings::Security security = MailerSettings::Security::Automatic);

} // namespace og
