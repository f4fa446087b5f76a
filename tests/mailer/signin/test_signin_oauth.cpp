// The OAuth2 side of the login, through its public interface: the address
// rules, the browser sign-in against the local authorization server
// (tests/support/oauth_server.py), the token holder's refreshes from
// parallel connections, the refresh token in the keyring and the token
// command.
#include "tests/support/OAuthTestServer.h"
#include "tests/support/ScriptedPlatform.h"

#include "mailer/signin/OAuthSignIn.h"
#include "mailer/signin/OAuthTokenHolder.h"
#include "mailer/signin/RefreshTokenStore.h"
#include "mailer/signin/SignInSession.h"
#include "mailer/signin/TokenCommand.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace og;
using og::test::OAuthTestServer;

namespace {

// How long a sign-in waits for the test's browser at most.
constexpr std::chrono::seconds Bound {20};

OAuthApplication localApplication(const OAuthTestServer& server)
{
    return {
        customProvider(server.url("/authorize"), server.url("/token"), "mail.send"), OAuthTestServer::clientId(), {}};
}

// Runs `calls` at once on threads of their own, as a run's connections do.
std::vector<QString> inParallel(int calls, const std::function<QString()>& call)
{
    std::vector<QString> tokens(static_cast<std::size_t>(calls));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        threads.emplace_back([&, i] { tokens[i] = call(); });
    for (std::thread& thread : threads)
        thread.join();
    return tokens;
}

TEST(OAuthAddresses, HttpsOrLoopbackOnly)
{
    const struct {
        const char* url;
        bool good;
    } cases[] = {
        {"https://login.example.com/authorize", true},
        {"http://127.0.0.1:8080/token", true},
        {"http://[::1]:8080/token", true},
        {"http://localhost/token", true},
        {"http://login.example.com/token", false},
        {"http://127.0.0.1.example.com/token", false},
        {"ftp://127.0.0.1/token", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checkOAuthAddress("The token address", c.url).isEmpty(), c.good) << c.url;

    OAuthSignIn signIn({customProvider("http://login.example.com/a", "https://login.example.com/t", "s"), "id", {}});
    const QString problem = signIn.start([](const QString&, QString*) {
        ADD_FAILURE() << "nothing is opened for a refused address";
        return true;
    });
    EXPECT_TRUE(problem.contains("must start with https:")) << problem.toStdString();

    EXPECT_TRUE(checkOAuthApplication({microsoftProvider("contoso.onmicrosoft.com"), "id", {}}).isEmpty());
    EXPECT_TRUE(checkOAuthApplication({microsoftProvider("common/../x"), "id", {}}).contains("no tenant name"));
    EXPECT_TRUE(checkOAuthApplication({googleProvider(), " ", {}}).contains("client id"));
}

// One sign-in consents to sending and to reading the mailbox; each refresh
// asks for what its use needs.
TEST(OAuthScopes, OneSignInServesSendingAndTheMailbox)
{
    const OAuthApplication microsoft {microsoftProvider(), "id", {}}, google {googleProvider(), "id", {}};
    const QString both = signInScope(microsoft.provider);
    EXPECT_TRUE(both.contains("/SMTP.Send") && both.contains("/IMAP.AccessAsUser.All")) << both.toStdString();
    EXPECT_EQ(both.count("offline_access"), 1);
    const OAuthApplication mailbox = forMailbox(microsoft);
    EXPECT_TRUE(mailbox.provider.scope.contains("/IMAP.AccessAsUser.All"));
    EXPECT_EQ(signInScope(mailbox.provider).split(' ').size(), both.split(' ').size()) << "still consents to sending";
    EXPECT_EQ(forMailbox(google).provider.scope, google.provider.scope);
    EXPECT_EQ(signInScope(google.provider), google.provider.scope);
}

TEST(OAuthPkce, S256AsRfc7636)
{
    EXPECT_EQ(Pkce::challengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
        "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const Pkce one = Pkce::generate(), two = Pkce::generate();
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{43}$").match(one.verifier).hasMatch()) << one.verifier.toStdString();
    EXPECT_NE(one.verifier, two.verifier);
}

// The browser as the sign-in sees it: the server approves, and the browser
// follows its redirect to the listener, perhaps with another state.
TEST(OAuthSignInFlow, ThroughTheBrowser)
{
    const struct {
        const char* name;
        const char* serverControl;
        bool otherState;
        const char* error; // empty: signed in
        const char* page;
    } cases[] = {
        {"approved", "deny=0", false, "", "You can close this window."},
        {"state mismatch", "deny=0", true, "does not belong to this sign-in", "Not signed in"},
        {"declined", "deny=1", false, "did not grant access (access_denied: The user declined)", "Not signed in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OAuthTestServer server;
        ASSERT_TRUE(server.start());
        server.control(c.serverControl);
        OAuthSignIn signIn(localApplication(server), "a+b@example.com");
        QString opened, page;
        const QString problem = signIn.start(
            [&](const QString& url, QString*) {
                opened = url;
                QString redirect = OAuthTestServer::get(url).text;
                if (c.otherState)
                    redirect.replace(QRegularExpression("state=[^&]*"), "state=forged");
                page = OAuthTestServer::get(redirect).text;
                return true;
            },
            Bound);
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        const TokenReply reply = signIn.wait();

        for (const char* part : {"code_challenge_method=S256", "code_challenge=", "state=", "login_hint=a%2Bb%40",
                 "redirect_uri=http%3A%2F%2F127.0.0.1%3A"})
            EXPECT_TRUE(opened.contains(part)) << part;
        EXPECT_TRUE(page.contains(c.page)) << page.toStdString();
        EXPECT_TRUE(reply.error.contains(c.error)) << reply.error.toStdString();
        EXPECT_EQ(reply.ok(), !*c.error);
        EXPECT_EQ(server.control()["pkce_verified"].toInt(), reply.ok() ? 1 : 0);
        if (reply.ok()) {
            EXPECT_TRUE(reply.tokens.accessToken.startsWith("at-"));
            EXPECT_TRUE(reply.tokens.refreshToken.startsWith("rt-"));
        }
    }
}

class OAuthTokenHolding : public ::testing::Test {
protected:
    OAuthTokenHolding()
        : server({"--rotate"})
    {
    }
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        OAuthSignIn signIn(localApplication(server));
        ASSERT_TRUE(
            signIn
                .start([](const QString& url,
                           QString*) { return OAuthTestServer::get(OAuthTestServer::get(url).text).status == 200; },
                    Bound)
                .isEmpty());
        signedIn = signIn.wait();
        ASSERT_TRUE(signedIn.ok()) << signedIn.error.toStdString();
    }
    int refreshes() const { return server.control()["refreshes"].toInt(); }

    OAuthTestServer server;
    TokenReply signedIn;
};

TEST_F(OAuthTokenHolding, OneRefreshForAllConnectionsBeforeExpiryAndOnRefusal)
{
    og::OAuthTokens fromKeyring;
    fromKeyring.refreshToken = signedIn.tokens.refreshToken;
    OAuthTokenHolder holder(OAuthTokenClient(localApplication(server)), fromKeyring);
    QStringList kept;
    holder.setRefreshTokenChanged([&](const QString& token) { kept << token; });

    // Only the refresh token from the keyring: the first caller refreshes, the others wait for its token.
    const auto first = inParallel(4, [&] { return holder.accessToken(); });
    EXPECT_EQ(refreshes(), 1);
    EXPECT_EQ(std::set(first.begin(), first.end()).size(), 1u);
    EXPECT_EQ(holder.accessToken(), first[0]) << "an hour's token is kept";

    // The server refused it on every connection: one refresh between them.
    const auto renewed = inParallel(3, [&] { return holder.refusedToken(first[0]); });
    EXPECT_EQ(refreshes(), 2);
    EXPECT_EQ(std::set(renewed.begin(), renewed.end()).size(), 1u);
    EXPECT_NE(renewed[0], first[0]);
    EXPECT_EQ(kept.size(), 2) << "each rotated refresh token is handed on";
    EXPECT_EQ(holder.refreshToken(), kept.value(1));

    // A token that runs out within the margin is replaced before it is used.
    server.control("expires_in=30");
    const QString shortLived = holder.refusedToken(renewed[0]);
    EXPECT_NE(holder.accessToken(), shortLived);
    EXPECT_EQ(refreshes(), 4);
}

TEST_F(OAuthTokenHolding, RevokedRefreshTokenAsksToSignInAgainWithoutSecrets)
{
    OAuthTokenHolder holder(OAuthTokenClient(localApplication(server)), signedIn.tokens);
    EXPECT_EQ(holder.accessToken(), signedIn.tokens.accessToken);
    server.control("revoke=1");
    for (int call = 0; call < 2; ++call) {
        try {
            holder.refusedToken(signedIn.tokens.accessToken);
            ADD_FAILURE() << "a revoked sign-in gives no token";
        } catch (const SignInAgain& e) {
            const QString text = e.message();
            EXPECT_TRUE(text.contains("Sign in again")) << text.toStdString();
            EXPECT_TRUE(text.contains("invalid_grant")) << text.toStdString();
            EXPECT_FALSE(text.contains(signedIn.tokens.refreshToken) || text.contains(signedIn.tokens.accessToken));
        }
    }
    EXPECT_EQ(server.control()["refused"].toInt(), 1) << "the provider is asked once";
}

TEST(OAuthTokenServer, CertificateIsChecked)
{
    QTemporaryDir work;
    const QString cert = work.filePath("cert.pem"), key = work.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1", "-subj",
            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0) << openssl.readAllStandardError().data();
    OAuthTestServer server({"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(server.start());

    const TokenReply reply = OAuthTokenClient(localApplication(server)).refresh("rt-unknown");
    EXPECT_TRUE(reply.error.startsWith("The certificate of 127.0.0.1 is not trusted: ")) << reply.error.toStdString();
    EXPECT_FALSE(reply.error.contains("rt-unknown"));
}

TEST(OAuthRefreshTokenStore, KeptInTheKeyringByProviderAndUser)
{
    ScriptedPlatform keyring;
    RefreshTokenStore store(keyring);
    const OAuthProvider google = googleProvider();
    EXPECT_TRUE(store.keep(google, "me@example.com", "rt-1").isEmpty());
    EXPECT_EQ(keyring.keyring().value("oauth2:google:me@example.com"), "rt-1");
    EXPECT_EQ(store.load(google, "me@example.com").refreshToken, "rt-1");
    EXPECT_TRUE(store.load(microsoftProvider(), "me@example.com").refreshToken.isEmpty());
    EXPECT_TRUE(store.keep(google, "me@example.com", {}).isEmpty());
    EXPECT_EQ(keyring.count(ScriptedPlatform::Call::KeyringDelete), 1);

    keyring.setKeyringAvailable(false);
    EXPECT_TRUE(store.load(google, "me@example.com").problem.contains("only until the program closes"));
}

// One session's life: it starts from the keyring, its own sign-in wins over
// the keyring for that account (even without a keyring), a replaced refresh
// token is kept, a refused one forgotten.
TEST(OAuthSignInSession, StartsFromItsOwnSignInElseTheKeyring)
{
    ScriptedPlatform keyring;
    keyring.storePassword("oauth2:google:me@example.com", "rt-kept");
    SignInSession session(keyring);
    const OAuthProvider google = googleProvider();
    SignInSession::Start start = session.tokensFor(google, "me@example.com");
    EXPECT_EQ(start.tokens.refreshToken, "rt-kept");
    EXPECT_FALSE(start.fromSession);

    keyring.setKeyringAvailable(false);
    OAuthTokens signedIn;
    signedIn.accessToken = "at-1";
    signedIn.refreshToken = "rt-new";
    EXPECT_FALSE(session.signedIn(google, "me@example.com", signedIn).isEmpty()) << "no keyring: said so";
    start = session.tokensFor(google, "me@example.com");
    EXPECT_TRUE(start.fromSession);
    EXPECT_EQ(start.tokens.accessToken, "at-1");
    EXPECT_TRUE(session.tokensFor(google, "other@example.com").tokens.refreshToken.isEmpty());

    keyring.setKeyringAvailable(true);
    EXPECT_TRUE(session.replaced(google, "me@example.com", "rt-next").isEmpty());
    EXPECT_EQ(session.tokensFor(google, "me@example.com").tokens.refreshToken, "rt-next");
    EXPECT_EQ(keyring.keyring().value("oauth2:google:me@example.com"), "rt-next");
    EXPECT_TRUE(session.forget(google, "me@example.com").isEmpty());
    start = session.tokensFor(google, "me@example.com");
    EXPECT_FALSE(start.fromSession);
    EXPECT_TRUE(start.tokens.refreshToken.isEmpty());
}

TEST(OAuthTokenCommand, FirstLineOfOutputOrTheReasonFromStandardError)
{
    const struct {
        const char* command;
        int timeoutSeconds;
        const char* token;
        const char* error;
    } cases[] = {
        {"printf 'tok-1\\nsecond line\\n'", 10, "tok-1", ""},
        {"printf tok-2 | cat", 10, "tok-2", ""},
        {"echo tok-secret; echo 'no such account' >&2; exit 3", 10, "", "failed (exit status 3): no such account"},
        {"true", 10, "", "printed no token on the first line of its output; run it in a terminal"},
        {"echo tok-late; sleep 30", 1, "", "did not finish within 1 second and was stopped"},
        {"", 10, "", "No token command is set"},
        {"yes tok-endless", 30, "", "printed more than 64 KiB and was stopped"},
        {"echo tok-eyJhbGciOiJIUzI1NiJ9.abc >&2; printf 'bad\\033[2J' >&2; exit 1", 10, "",
            "failed (exit status 1): […] bad [2J"},
    };
    for (const auto& c : cases) {
        const TokenCommand::Result result = TokenCommand::run(c.command, std::chrono::seconds(c.timeoutSeconds));
        EXPECT_EQ(result.token, c.token) << c.command;
        EXPECT_TRUE(result.error.contains(c.error)) << c.command << ": " << result.error.toStdString();
        EXPECT_FALSE(result.error.contains("tok-")) << "the output is never shown: " << c.command;
    }
}

TEST(OAuthTokenCommand, RunsAgainOnceWhenTheTokenIsRefused)
{
    QTemporaryDir work;
    // Each run prints how many runs there have been.
    TokenCommand command("cd '" + work.path() + "' && echo . >>runs && wc -l <runs");
    EXPECT_EQ(command.accessToken(), "1");
    EXPECT_EQ(command.accessToken(), "1");
    const auto renewed = inParallel(3, [&] { return command.refusedToken("1"); });
    EXPECT_EQ(renewed, std::vector<QString>(3, "2"));
}

} // namespace
