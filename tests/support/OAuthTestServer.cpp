#include "tests/support/OAuthTestServer.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#ifndef OG_SOURCE_DIR
#error "OG_SOURCE_DIR must name the source tree"
#endif

namespace og::test {

OAuthTestServer::OAuthTestServer(const QStringList& arguments)
    : arguments_(arguments)
{
}

OAuthTestServer::~OAuthTestServer()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel(); // --watch-stdin: ends at end of input
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
}

bool OAuthTestServer::start()
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
        QStringList {QStringLiteral(OG_SOURCE_DIR "/tests/support/oauth_server.py"), QStringLiteral("--watch-stdin")} +
            arguments_);
    if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(15000))
        return false;
    port_ = process_.readLine().trimmed().toInt();
    return port_ > 0;
}

QString OAuthTestServer::url(const QString& path) const
{
    const bool tls = arguments_.contains(QStringLiteral("--tls-cert"));
    return QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "https" : "http").arg(port_) + path;
}

QJsonObject OAuthTestServer::control(const QString& query) const
{
    return QJsonDocument::fromJson(get(url(QStringLiteral("/control?")) + query).text.toUtf8()).object();
}

OAuthTestServer::Answer OAuthTestServer::get(const QString& url)
{
    QEventLoop loop;
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request {QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(10000);
    QNetworkReply* reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.text =
        answer.status == 302 ? QString::fromUtf8(reply->rawHeader("Location")) : QString::fromUtf8(reply->readAll());
    return answer;
}

} // namespace og::test
