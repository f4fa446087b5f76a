#pragma once
// The mail providers that want an OAuth2 sign-in, as data: where the browser
// signs in, where tokens are fetched, which scope grants sending mail and
// which servers take the token. The vendor registers an application of their
// own with the provider and enters its client id; Ordergate ships none.

#include "mailer/MailerSettings.h"

#include <QList>
#include <QString>

#include <utility>

namespace og {

struct OAuthServer {
    QString server; // "host:port", as the server field takes it
    MailerSettings::Security security;
};

struct OAuthProvider {
    OAuthProviderKind kind = OAuthProviderKind::Custom;
    QString tenant; // Microsoft's only
    QString title;  // in messages: "Microsoft", "Google", a custom token server's host
    QString authorizationUrl;
    QString tokenUrl;
    // What a refresh asks for: sending mail (or, for forMailbox(), reading
    // the mailbox).
    QString scope;
    // Where reading the mailbox takes a scope of its own (Microsoft), that
    // scope; empty where scope covers both (Google). A sign-in consents to
    // both, so one refresh token serves send and the mailbox check.
    QString mailboxScope;
    // Added to the authorization address (Google hands out a refresh token
    // only when asked for offline access).
    QList<std::pair<QString, QString>> authorizationParameters;
    QList<OAuthServer> servers; // the provider's SMTP servers, the first preferred
};

// Microsoft 365 and Outlook.com: the "common" tenant serves both work and
// personal accounts; a named tenant ("contoso.onmicrosoft.com" or its id)
// only that organisation's.
OAuthProvider microsoftProvider(const QString& tenant = QStringLiteral("common"));
OAuthProvider googleProvider();
OAuthProvider customProvider(const QString& authorizationUrl, const QString& tokenUrl, const QString& scope);

// The vendor's registered application at a provider.
struct OAuthApplication {
    OAuthProvider provider;
    QString clientId;
    QString clientSecret; // optional; Google gives desktop applications one
};

// The scopes a sign-in asks consent for: scope and mailboxScope.
QString signInScope(const OAuthProvider& provider);
// The application as the mailbox check uses it: its refreshes ask for the
// mailbox scope where the provider has one.
OAuthApplication forMailbox(OAuthApplication application);

// Loopback hosts (127.0.0.1 and the rest of 127/8, ::1, localhost) may be
// reached over plain http: for local bridges and tests.
bool isLoopbackHost(const QString& host);
// An address the sign-in may use: https:, or http: to a loopback host. The
// problem text, naming what (e.g. "The token address"), or empty when good.
QString checkOAuthAddress(const QString& what, const QString& url);
// A Microsoft tenant: "common", "organizations", "consumers", a domain or a
// directory id; the problem text or empty.
QString checkMicrosoftTenant(const QString& tenant);
// Microsoft's tenant, both addresses, the scope and the client id; the
// first problem or empty.
QString checkOAuthApplication(const OAuthApplication& application);
// What messages call a custom provider: the provider named in the settings,
// else the profile the server matches, else the server's host; empty when
// no server is set either (the token server's host is used then).
QString customProviderTitle(const MailerSettings& settings);
// The provider and application the settings name (Microsoft's tenant
// "common" when none is set).
OAuthApplication oauthApplication(const MailerSettings& settings, const QString& clientSecret = {});

// Where the refresh token of a user at a provider is kept in the keyring:
// "oauth2:microsoft:sales@example.com"; a custom provider's key carries its
// token server's host, as a password's carries the mail server's.
QString refreshTokenKey(const OAuthProvider& provider, const QString& userName);
// Where a client secret is kept in the keyring, by provider and client id:
// "oauth2-client:google:1234.apps.googleusercontent.com".
QString clientSecretKey(const OAuthProvider& provider, const QString& clientId);

} // namespace og
