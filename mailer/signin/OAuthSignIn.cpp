#include "mailer/signin/OAuthSignIn.h"

#include "platform/VersionInfo.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace og {

namespace {

QString base64Url(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The browser's request is a GET of a few hundred bytes; anything past this
// is no redirect of ours.
constexpr qsizetype MaxRequest = 16 * 1024;

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

} // namespace

QString randomUrlText(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    // The system generator: the operating system's cryptographic source.
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return base64Url(random);
}

QString Pkce::challengeFor(const QString& verifier)
{
    return base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

Pkce Pkce::generate()
{
    Pkce pkce;
    pkce.verifier = randomUrlText(32); // 43 characters, the shortest RFC 7636 allows
    pkce.challenge = challengeFor(pkce.verifier);
    return pkce;
}

OAuthSignIn::OAuthSignIn(
    OAuthApplication application, const QString& loginHint, std::chrono::milliseconds exchangeTimeout, QObject* parent)
    : QObject(parent),
      client_(std::move(application), exchangeTimeout),
      loginHint_(loginHint)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        TokenReply reply;
        reply.error = QStringLiteral("No answer came from the browser within %1 seconds for the sign-in to %2: sign "
                                     "in again and finish the sign-in on the page that opens")
                          .arg(secondsText(std::chrono::milliseconds(deadline_.interval())),
                              client_.application().provider.title);
        finish(reply);
    });
    connect(&server_, &QTcpServer::newConnection, this, &OAuthSignIn::accept);
}

OAuthSignIn::~OAuthSignIn() = default;

QString OAuthSignIn::start(const Opener& open, std::chrono::milliseconds timeout)
{
    const OAuthApplication& application = client_.application();
    if (QString problem = checkOAuthApplication(application); !problem.isEmpty())
        return problem;
    // Loopback only: the code must not be offered to the network.
    if (!server_.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("Unable to wait for the browser's answer from %1 on 127.0.0.1: %2")
            .arg(application.provider.title, server_.errorString());
    redirectUri_ = QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
    pkce_ = Pkce::generate();
    state_ = randomUrlText(16);

    OAuthTokenClient::Parameters parameters = {{QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), application.clientId}, {QStringLiteral("redirect_uri"), redirectUri_},
        {QStringLiteral("scope"), signInScope(application.provider)}, {QStringLiteral("state"), state_},
        {QStringLiteral("code_challenge"), pkce_.challenge},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}};
    if (!loginHint_.isEmpty())
        parameters.append({QStringLiteral("login_hint"), loginHint_});
    parameters.append(application.provider.authorizationParameters);
    QUrl url(application.provider.authorizationUrl.trimmed());
    const QString query = url.query(QUrl::FullyEncoded);
    url.setQuery(
        (query.isEmpty() ? QString() : query + u'&') + QString::fromLatin1(OAuthTokenClient::formEncode(parameters)),
        QUrl::StrictMode);
    authorizationUrl_ = url.toString(QUrl::FullyEncoded);

    deadline_.start(timeout);
    if (open && !open(authorizationUrl_, &browserProblem_) && browserProblem_.isEmpty())
        browserProblem_ = QStringLiteral("no browser could be started");
    else if (!open)
        browserProblem_ = QStringLiteral("no browser was asked to open it");
    return {};
}

void OAuthSignIn::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            requests_.remove(socket);
            socket->deleteLater();
        });
    }
}

void OAuthSignIn::read(QTcpSocket* socket)
{
    QByteArray& request = requests_[socket];
    request += socket->readAll();
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0 && request.size() < MaxRequest)
        return;
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    request.clear();
    socket->disconnect(this, nullptr); // one request per connection
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    requests_.remove(socket);
    if (end < 0 || line.size() != 3 || line[0] != "GET")
        respond(socket, 400, QStringLiteral("Not understood"),
            QStringLiteral("This address takes only the sign-in's answer."));
    else
        answer(line[1], socket);
}

void OAuthSignIn::answer(const QByteArray& target, QTcpSocket* socket)
{
    const QUrl url = QUrl::fromEncoded(target);
    // The provider answers as a form would: "+" stands for a blank there.
    const QUrlQuery query(url.query(QUrl::FullyEncoded).replace(u'+', QLatin1String("%20")));
    const auto value = [&](const char* name) { return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded); };
    if (url.path() != QLatin1String("/") || finished_ || exchanging_ ||
        (!query.hasQueryItem(QStringLiteral("code")) && !query.hasQueryItem(QStringLiteral("error")))) {
        // The browser's icon request, a reload, a stray visitor: not the answer.
        respond(
            socket, 404, QStringLiteral("Not found"), QStringLiteral("This address takes only the sign-in's answer."));
        return;
    }
    TokenReply refused;
    if (value("state") != state_) {
        refused.error = QStringLiteral("The browser brought an answer that does not belong to this sign-in to %1 "
                                       "(its state differs), so it was refused: sign in again")
                            .arg(client_.application().provider.title);
    } else if (query.hasQueryItem(QStringLiteral("error"))) {
        const QString description = value("error_description").simplified().left(300);
        refused.error = QStringLiteral("%1 did not grant access (%2%3): sign in again and accept the request to send "
                                       "mail")
                            .arg(client_.application().provider.title, value("error").left(100),
                                description.isEmpty() ? QString() : QStringLiteral(": ") + description);
    }
    page_ = socket;
    if (!refused.ok()) {
        respond(socket, 400, QStringLiteral("Not signed in"), refused.error + u'.');
        finish(refused);
        return;
    }
    exchanging_ = true;
    deadline_.stop(); // the exchange has a time-out of its own
    server_.close();  // the answer is in; nothing else is listened for
    client_.exchangeCode(
        manager_, value("code"), pkce_.verifier, redirectUri_, [this, page = page_](const TokenReply& reply) {
            if (page) {
                if (reply.ok())
                    respond(page, 200, QStringLiteral("Signed in"),
                        QStringLiteral("%1 has the sign-in. You can close this window.")
                            .arg(QLatin1String(OG_VERSION_PRODUCT_NAME)));
                else
                    respond(page, 400, QStringLiteral("Not signed in"), reply.error + u'.');
            }
            finish(reply);
        });
}

void OAuthSignIn::respond(QTcpSocket* socket, int status, const QString& title, const QString& text)
{
    QString body = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1 – %2</title></head>"
                                  "<body><h1>%2</h1><p>%3</p>")
                       .arg(QLatin1String(OG_VERSION_PRODUCT_NAME), title.toHtmlEscaped(), text.toHtmlEscaped());
    if (status != 200 && status != 404)
        body += QStringLiteral("<p>You can close this window.</p>");
    body += QStringLiteral("</body></html>\n");
    const QByteArray content = body.toUtf8();
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status) + ' ' + reason +
        "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
        "Content-Length: " +
        QByteArray::number(content.size()) + "\r\n\r\n" + content);
    socket->disconnectFromHost(); // after what was written has gone
}

void OAuthSignIn::finish(const TokenReply& reply)
{
    if (finished_)
        return;
    finished_ = true;
    deadline_.stop();
    server_.close();
    result_ = reply;
    emit finished(result_);
}

void OAuthSignIn::cancel()
{
    TokenReply reply;
    reply.error = QStringLiteral("The sign-in to %1 was cancelled").arg(client_.application().provider.title);
    finish(reply);
}

TokenReply OAuthSignIn::wait()
{
    if (!finished_ && !exchanging_ && !deadline_.isActive()) {
        result_.error = QStringLiteral("The sign-in has not started");
        return result_;
    }
    if (!finished_) {
        QEventLoop loop;
        connect(this, &OAuthSignIn::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // A caller that ends now (the command line) must not cut the browser's
    // page short: it goes out before the connection closes.
    if (page_ && page_->state() != QAbstractSocket::UnconnectedState) {
        QEventLoop loop;
        connect(page_, &QAbstractSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result_;
}

} // namespace og
