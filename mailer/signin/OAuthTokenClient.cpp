#include "mailer/signin/OAuthTokenClient.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace og {

namespace {

// The provider's own refusals of a code or refresh token that only a new
// sign-in in the browser mends (RFC 6749 5.2, OpenID Connect 3.1.2.6).
bool needsSignIn(const QString& code)
{
    static const QStringList codes = {QStringLiteral("invalid_grant"), QStringLiteral("interaction_required"),
        QStringLiteral("consent_required"), QStringLiteral("login_required")};
    return codes.contains(code);
}

// A server's description may quote what it was sent; none of that is shown.
QString withoutSecrets(QString text, const QStringList& secrets)
{
    for (const QString& secret : secrets) {
        if (!secret.isEmpty())
            text.replace(secret, QStringLiteral("…"));
    }
    text = text.simplified();
    return text.size() > 300 ? text.left(300) + QStringLiteral("…") : text;
}

struct Exchange {
    QString host;
    QString providerTitle;
    bool refreshing = false;
    QStringList secrets;
    std::chrono::milliseconds timeout;
};

QString refusal(const Exchange& exchange, const QString& code, const QString& description)
{
    const QString said = description.isEmpty() ? code : code + QStringLiteral(": ") + description;
    if (needsSignIn(code)) {
        return exchange.refreshing
            ? QStringLiteral("%1 no longer accepts the saved sign-in (%2). Sign in again")
                  .arg(exchange.providerTitle, said)
            : QStringLiteral("%1 refused the sign-in (%2). Sign in again").arg(exchange.providerTitle, said);
    }
    if (code == QLatin1String("invalid_client") || code == QLatin1String("unauthorized_client"))
        return QStringLiteral("%1 refused the application (%2): check the client id, and the client secret if the "
                              "application has one")
            .arg(exchange.providerTitle, said);
    if (code == QLatin1String("invalid_scope"))
        return QStringLiteral("%1 refused the scope (%2): check the scope").arg(exchange.providerTitle, said);
    return QStringLiteral("%1 refused to issue a token (%2)").arg(exchange.providerTitle, said);
}

TokenReply readReply(QNetworkReply& reply, const Exchange& exchange, const QList<QSslError>& sslErrors, bool timedOut)
{
    TokenReply result;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (timedOut) {
        result.error = QStringLiteral("The token server %1 did not answer within %2 seconds: check the network and "
                                      "try again")
                           .arg(exchange.host)
                           .arg(exchange.timeout.count() / 1000);
        return result;
    }
    if (!sslErrors.isEmpty()) {
        result.error =
            QStringLiteral("The certificate of %1 is not trusted: %2").arg(exchange.host, sslErrors[0].errorString());
        return result;
    }
    if (status == 0) {
        result.error =
            QStringLiteral("The token server %1 could not be reached: %2").arg(exchange.host, reply.errorString());
        return result;
    }
    if (status >= 300 && status < 400) {
        result.error = QStringLiteral("The token server %1 sends its requests elsewhere (HTTP %2): check the token "
                                      "address")
                           .arg(exchange.host)
                           .arg(status);
        return result;
    }
    const QJsonObject json = QJsonDocument::fromJson(reply.readAll()).object();
    const QString code = json.value(QLatin1String("error")).toString();
    if (!code.isEmpty()) {
        result.signInAgain = needsSignIn(code);
        result.error = refusal(exchange, withoutSecrets(code, exchange.secrets),
            withoutSecrets(json.value(QLatin1String("error_description")).toString(), exchange.secrets));
        return result;
    }
    OAuthTokens& tokens = result.tokens;
    tokens.accessToken = json.value(QLatin1String("access_token")).toString();
    tokens.refreshToken = json.value(QLatin1String("refresh_token")).toString();
    if (status != 200 || tokens.accessToken.isEmpty()) {
        result.error = QStringLiteral("The token server %1 answered HTTP %2 without an access token: check the token "
                                      "address")
                           .arg(exchange.host)
                           .arg(status);
        return result;
    }
    // Some providers send the lifetime as a string.
    const qint64 seconds = json.value(QLatin1String("expires_in")).toVariant().toLongLong();
    if (seconds > 0)
        tokens.expiry = QDeadlineTimer(std::chrono::seconds(seconds));
    return result;
}

} // namespace

QByteArray OAuthTokenClient::formEncode(const Parameters& parameters)
{
    QByteArray out;
    for (const auto& [name, value] : parameters) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return out;
}

OAuthTokenClient::Parameters OAuthTokenClient::codeForm(
    const QString& code, const QString& verifier, const QString& redirectUri) const
{
    return {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")}, {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), redirectUri}, {QStringLiteral("code_verifier"), verifier}};
}

void OAuthTokenClient::post(QNetworkAccessManager& manager, Parameters form, bool refreshing, Done done) const
{
    const QUrl url(application_.provider.tokenUrl);
    form.append({QStringLiteral("client_id"), application_.clientId});
    if (!application_.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), application_.clientSecret});
    if (refreshing)
        form.append({QStringLiteral("scope"), application_.provider.scope});

    auto exchange = std::make_shared<Exchange>();
    exchange->host = url.host();
    exchange->providerTitle = application_.provider.title;
    exchange->refreshing = refreshing;
    static const QStringList secretNames = {QStringLiteral("code"), QStringLiteral("code_verifier"),
        QStringLiteral("refresh_token"), QStringLiteral("client_secret")};
    for (const auto& [name, value] : std::as_const(form)) {
        if (secretNames.contains(name))
            exchange->secrets << value;
    }
    exchange->timeout = timeout_;

    // A loopback token server is a local bridge or a test: no proxy between.
    if (isLoopbackHost(url.host()))
        manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = manager.post(request, formEncode(form));

    auto sslErrors = std::make_shared<QList<QSslError>>();
    auto timedOut = std::make_shared<bool>(false);
    // Never ignored: a certificate that fails its checks ends the exchange.
    QObject::connect(
        reply, &QNetworkReply::sslErrors, reply, [sslErrors](const QList<QSslError>& errors) { *sslErrors = errors; });
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(timeout_);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, exchange, sslErrors, timedOut, done] {
        reply->deleteLater();
        done(readReply(*reply, *exchange, *sslErrors, *timedOut));
    });
}

TokenReply OAuthTokenClient::postAndWait(const Parameters& form, bool refreshing) const
{
    // The loop first: on a thread Qt did not start, it is what gives the
    // thread the event dispatcher the network objects need.
    QEventLoop loop;
    QNetworkAccessManager manager;
    TokenReply result;
    post(manager, form, refreshing, [&](const TokenReply& reply) {
        result = reply;
        loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return result;
}

TokenReply OAuthTokenClient::exchangeCode(
    const QString& code, const QString& verifier, const QString& redirectUri) const
{
    return postAndWait(codeForm(code, verifier, redirectUri), false);
}

void OAuthTokenClient::exchangeCode(QNetworkAccessManager& manager, const QString& code, const QString& verifier,
    const QString& redirectUri, Done done) const
{
    post(manager, codeForm(code, verifier, redirectUri), false, std::move(done));
}

TokenReply OAuthTokenClient::refresh(const QString& refreshToken) const
{
    return postAndWait({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                           {QStringLiteral("refresh_token"), refreshToken}},
        true);
}

} // namespace og
