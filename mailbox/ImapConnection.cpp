#include "mailbox/ImapConnection.h"

#include "mailbox/ImapReply.h"
#include "mailbox/MailboxFailure.h"

#include <QUrl>

#include <curl/curl.h>

#include <mutex>

#include <poll.h>

namespace og {

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString curlText(CURLcode code, const char* detail)
{
    const QString text = QString::fromUtf8(detail).trimmed();
    return text.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : text;
}

const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Modified Base64 of RFC 3501: UTF-16 big-endian, "," for "/", no padding.
QByteArray modifiedBase64(const QString& run)
{
    QByteArray utf16;
    for (const QChar c : run) {
        utf16.append(char(c.unicode() >> 8));
        utf16.append(char(c.unicode() & 0xff));
    }
    return utf16.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',');
}

} // namespace

struct ImapConnection::Curl {
    CURL* handle = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    ~Curl()
    {
        if (handle)
            curl_easy_cleanup(handle);
    }
};

ImapConnection::ImapConnection(const MailboxServer& server, const ImapLogin& login)
    : curl_(std::make_unique<Curl>()),
      timeoutSeconds_(server.timeoutSeconds)
{
    initialiseCurl();
    const int port = server.port > 0 ? server.port : defaultImapPort(server.security);
    const bool implicitTls =
        server.security == MailboxSecurity::Tls || (server.security == MailboxSecurity::Automatic && port == 993);
    const QString host = server.host.contains(u':') ? u'[' + server.host + u']' : server.host;
    where_ = host + u':' + QString::number(port);
    curl_->handle = curl_easy_init();
    if (!curl_->handle)
        throw MailboxFailure(QStringLiteral("Cannot connect to the mailbox at %1: out of memory").arg(where_));
    CURL* c = curl_->handle;
    const QByteArray url = (implicitTls ? "imaps://" : "imap://") + QUrl::toPercentEncoding(host, "[]:") + ':' +
        QByteArray::number(port) + '/';
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curl_->error);
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(timeoutSeconds_));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, long(timeoutSeconds_) * 2);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    if (!implicitTls && server.security != MailboxSecurity::None)
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    const QByteArray caFile = server.caFile.toLocal8Bit();
    if (!caFile.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    if (server.noVerify) {
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    const QByteArray user = login.user.toUtf8(), password = login.password.toUtf8(), bearer = login.bearer.toUtf8();
    curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
    if (!bearer.isEmpty())
        curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, bearer.constData());
    else
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    const CURLcode done = curl_easy_perform(c);
    if (done == CURLE_LOGIN_DENIED)
        throw MailboxLoginRefused(QStringLiteral("The mail server %1 refused the login of %2: %3")
                                      .arg(where_, login.user, curlText(done, curl_->error)));
    if (done == CURLE_USE_SSL_FAILED)
        throw MailboxFailure(QStringLiteral("The mail server %1 offers no STARTTLS: give security tls for a port "
                                            "that expects TLS from the start (usually 993)")
                                 .arg(where_));
    if (done != CURLE_OK)
        fail(curlText(done, curl_->error));
    open_ = true;
}

ImapConnection::~ImapConnection()
{
    logout();
}

void ImapConnection::fail(const QString& what)
{
    open_ = false;
    throw MailboxFailure(QStringLiteral("The mailbox at %1 could not be read: %2").arg(where_, what));
}

void ImapConnection::wait(bool forWriting)
{
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl_->handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD)
        fail(QStringLiteral("the connection was closed"));
    pollfd one {socket, short(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&one, 1, timeoutSeconds_ * 1000);
    if (ready == 0)
        fail(QStringLiteral("no answer within %1 seconds").arg(timeoutSeconds_));
}

void ImapConnection::send(const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        size_t sent = 0;
        const CURLcode code = curl_easy_send(curl_->handle, bytes.constData() + at, size_t(bytes.size() - at), &sent);
        if (code == CURLE_AGAIN) {
            wait(true);
            continue;
        }
        if (code != CURLE_OK)
            fail(curlText(code, curl_->error));
        at += qsizetype(sent);
    }
}

ImapReplyReader ImapConnection::command(const QByteArray& text, qsizetype limit)
{
    if (!open_)
        fail(QStringLiteral("the connection was closed"));
    const QByteArray tag = 'g' + QByteArray::number(nextTag_++);
    send(tag + ' ' + text + "\r\n");
    ImapReplyReader reply(tag, limit);
    char buffer[16384];
    while (reply.state() == ImapReplyReader::State::NeedMore) {
        size_t got = 0;
        const CURLcode code = curl_easy_recv(curl_->handle, buffer, sizeof buffer, &got);
        if (code == CURLE_AGAIN) {
            wait(false);
            continue;
        }
        if (code != CURLE_OK)
            fail(curlText(code, curl_->error));
        if (got == 0)
            fail(QStringLiteral("the server closed the connection"));
        reply.feed(QByteArrayView(buffer, qsizetype(got)));
    }
    if (reply.state() == ImapReplyReader::State::Malformed)
        fail(QStringLiteral("the server's reply is not IMAP (%1)").arg(QString::fromUtf8(reply.problem())));
    return reply;
}

QByteArray ImapConnection::quotedFolder(const QString& name)
{
    QByteArray out = "\"";
    QString run;
    auto flush = [&] {
        if (!run.isEmpty())
            out += '&' + modifiedBase64(run) + '-';
        run.clear();
    };
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7f) {
            flush();
            if (u == '&')
                out += "&-";
            else if (u == '"' || u == '\\')
                out += QByteArray(1, '\\') + char(u);
            else
                out += char(u);
        } else if (u >= 0x80) {
            run += c;
        } // control characters never make a folder name
    }
    flush();
    return out + '"';
}

ImapConnection::Folder ImapConnection::examine(const QString& name)
{
    const ImapReplyReader reply = command("EXAMINE " + quotedFolder(name));
    if (reply.status() != "OK")
        throw MailboxFailure(QStringLiteral("The mail server %1 cannot open the folder \"%2\": %3")
                                 .arg(where_, name, QString::fromUtf8(reply.statusText())));
    Folder folder;
    for (const ImapUntagged& response : reply.untagged()) {
        const QList<QByteArray> words = response.text.split(' ');
        if (words.size() >= 2 && words[1].compare("EXISTS", Qt::CaseInsensitive) == 0)
            folder.messages = words[0].toUInt();
        const qsizetype at = response.text.indexOf("[UIDVALIDITY ");
        if (at >= 0)
            folder.uidValidity = response.text.mid(at + 13).split(']').value(0).toUInt();
    }
    return folder;
}

QList<quint32> ImapConnection::searchSince(const QDate& day)
{
    const QByteArray date =
        QByteArray::number(day.day()) + '-' + Months[day.month() - 1] + '-' + QByteArray::number(day.year());
    const ImapReplyReader reply = command("UID SEARCH SINCE " + date);
    if (reply.status() != "OK")
        fail(QStringLiteral("the search was refused: %1").arg(QString::fromUtf8(reply.statusText())));
    QList<quint32> uids;
    for (const ImapUntagged& response : reply.untagged()) {
        const QList<QByteArray> words = response.text.split(' ');
        if (words.value(0).compare("SEARCH", Qt::CaseInsensitive) != 0)
            continue;
        for (qsizetype i = 1; i < words.size(); ++i) {
            bool ok = false;
            const quint32 uid = words[i].toUInt(&ok);
            if (ok && uid > 0)
                uids.append(uid);
        }
    }
    return uids;
}

QByteArray ImapConnection::fetch(quint32 uid, qsizetype limit)
{
    const ImapReplyReader reply =
        command("UID FETCH " + QByteArray::number(uid) + " (UID BODY.PEEK[]<0." + QByteArray::number(limit) + ">)",
            limit + (1 << 16));
    if (reply.status() != "OK")
        fail(QStringLiteral("message %1 could not be fetched: %2").arg(uid).arg(QString::fromUtf8(reply.statusText())));
    for (const ImapUntagged& response : reply.untagged()) {
        if (response.literals.size() == 1 && imapItem(response.text, "UID").toUInt() == uid)
            return response.literals.first();
    }
    return {};
}

void ImapConnection::logout()
{
    if (!open_)
        return;
    try {
        command("LOGOUT");
    } catch (const MailboxFailure&) {
        // closing only: the first failure is the one reported
    }
    open_ = false;
}

} // namespace og
