#include "network/networkrequest.h"

#include "network/networkerror.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// Releases the reply however the exchange ends. The reply also goes when its manager goes, which
// may happen while we wait, hence the guarded pointer.
struct HeldReply
{
    explicit HeldReply(QNetworkReply *reply)
        : reply(reply)
    { }
    ~HeldReply()
    {
        if (reply)
            reply->deleteLater();
    }
    HeldReply(const HeldReply &) = delete;
    HeldReply &operator=(const HeldReply &) = delete;

    QPointer<QNetworkReply> reply;
};

} // namespace

NetworkRequest::NetworkRequest(QNetworkAccessManager *manager)
    : m_manager(manager)
{ }

NetworkRequest &NetworkRequest::url(const QUrl &url)
{
    m_url = url;
    return *this;
}

NetworkRequest &NetworkRequest::body(const QByteArray &body)
{
    m_body = body;
    return *this;
}

NetworkRequest &NetworkRequest::authToken(const QString &token)
{
    m_authToken = token;
    return *this;
}

NetworkRequest &NetworkRequest::timeout(int milliseconds)
{
    m_timeout = milliseconds;
    return *this;
}

NetworkRequest &NetworkRequest::followRedirects(bool follow)
{
    m_followRedirects = follow;
    return *this;
}

NetworkRequest &NetworkRequest::header(const QByteArray &name, const QByteArray &value)
{
    m_headers.insert(name, value);
    return *this;
}

NetworkRequest &NetworkRequest::headers(const QList<QPair<QByteArray, QByteArray>> &headers)
{
    for (const auto &[name, value] : headers)
        m_headers.insert(name, value);
    return *this;
}

QJsonDocument NetworkRequest::get()
{
    return QJsonDocument::fromJson(run(Verb::Get, true));
}

QJsonDocument NetworkRequest::post()
{
    return QJsonDocument::fromJson(run(Verb::Post, true));
}

bool NetworkRequest::put()
{
    run(Verb::Put, true);
    return true;
}

QByteArray NetworkRequest::getRaw()
{
    return run(Verb::Get, false);
}

QNetworkRequest NetworkRequest::prepare(bool json) const
{
    QNetworkRequest request(m_url);
    if (json)
        request.setHeader(
            QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(m_timeout);
    // Qt 6 follows redirects by default, so not following them has to be asked for.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
        m_followRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                          : QNetworkRequest::ManualRedirectPolicy);
    if (!m_authToken.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Authorization"), "Bearer " + m_authToken.toUtf8());
    for (auto it = m_headers.cbegin(); it != m_headers.cend(); ++it)
        request.setRawHeader(it.key(), it.value());
    return request;
}

QByteArray NetworkRequest::run(Verb verb, bool json)
{
    if (!m_manager)
        throw NetworkError(QNetworkReply::UnknownNetworkError, 0, "No network access manager");

    const QNetworkRequest request = prepare(json);
    QNetworkReply *sent = nullptr;
    switch (verb) {
    case Verb::Get:
        sent = m_body.isEmpty() ? m_manager->get(request)
                                : m_manager->sendCustomRequest(request, "GET", m_body);
        break;
    case Verb::Post:
        sent = m_manager->post(request, m_body);
        break;
    case Verb::Put:
        sent = m_manager->put(request, m_body);
        break;
    }
    if (!sent)
        throw NetworkError(QNetworkReply::UnknownNetworkError, 0, "Request not sent");

    const HeldReply held(sent);
    const QPointer<QNetworkReply> &reply = held.reply;

    if (!reply->isFinished()) {
        // Waits for this reply only: a request started from an event handled meanwhile runs its
        // own loop on top of this one and returns first.
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!reply)
        throw NetworkError(QNetworkReply::OperationCanceledError, 0, "Operation canceled");
    if (reply->error() != QNetworkReply::NoError)
        throw NetworkError(reply.data());
    return reply->readAll();
}
