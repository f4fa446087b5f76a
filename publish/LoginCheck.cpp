#include "publish/LoginCheck.h"

#include <QHostAddress>
#include <QUrl>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace og {

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isLoopback(const QString& host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString LoginOutcome::describe() const
{
    const QString who = QString::fromUtf8(user);
    if (status == 0)
        return QStringLiteral("%1: no answer (%2)").arg(who, error);
    if (passed())
        return QStringLiteral("%1: %2, %3 as expected").arg(who).arg(status).arg(shouldGetIn ? u"got in" : u"refused");
    return QStringLiteral("%1: %2, but it should %3")
        .arg(who)
        .arg(status)
        .arg(shouldGetIn ? QStringLiteral("get in (200)") : QStringLiteral("be refused (401)"));
}

QString checkUrlProblem(const QString& url)
{
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return QStringLiteral("The download address \"%1\" is no web address").arg(url);
    if (u.scheme() == u"https" || (u.scheme() == u"http" && isLoopback(u.host())))
        return {};
    return QStringLiteral("The download address must start with https:// (a login over plain http would send "
                          "the customers' passwords readably): \"%1\"")
        .arg(url);
}

std::vector<LoginOutcome> checkLogins(const QString& url, const std::vector<LoginProbe>& probes, int timeoutSeconds)
{
    initCurlOnce();
    std::vector<LoginOutcome> outcomes;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    const QByteArray address = url.toUtf8();
    for (const LoginProbe& probe : probes) {
        LoginOutcome o;
        o.user = probe.user;
        o.shouldGetIn = probe.shouldGetIn;
        if (!curl) {
            o.error = QStringLiteral("libcurl could not start");
            outcomes.push_back(o);
            continue;
        }
        CURL* c = curl.get();
        curl_easy_reset(c);
        char errors[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_URL, address.constData());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(c, CURLOPT_USERNAME, probe.user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, probe.password.constData());
        curl_easy_setopt(c, CURLOPT_TIMEOUT, long(timeoutSeconds));
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors);
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        const CURLcode rc = curl_easy_perform(c);
        if (rc == CURLE_OK)
            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &o.status);
        else
            o.error = QString::fromUtf8(errors[0] ? errors : curl_easy_strerror(rc));
        outcomes.push_back(o);
    }
    return outcomes;
}

} // namespace og
