#include "network/networkerror.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

namespace {

// The panel explains its refusals in "msg"; anything else the server sent is shown as it came.
QByteArray describe(QNetworkReply *reply, const QByteArray &body)
{
    if (body.isEmpty())
        return reply->errorString().toUtf8();
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonValue msg = document.object().value(QLatin1String("msg"));
        if (msg.isString() && !msg.toString().isEmpty())
            return msg.toString().toUtf8();
    }
    return body;
}

} // namespace

NetworkError::NetworkError(QNetworkReply *reply)
{
    if (!reply) {
        m_errorCode = QNetworkReply::UnknownNetworkError;
        m_message = QByteArrayLiteral("No reply");
        return;
    }
    m_errorCode = reply->error();
    m_httpStatusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // An abandoned reply is already closed and has nothing to read.
    m_message = describe(reply, reply->isReadable() ? reply->readAll() : QByteArray());
}

NetworkError::NetworkError(int errorCode, int httpStatusCode, const QByteArray &message)
    : m_errorCode(errorCode)
    , m_httpStatusCode(httpStatusCode)
    , m_message(message)
{ }

bool NetworkError::isConnectionError() const
{
    switch (m_errorCode) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

bool NetworkError::isTimeoutError() const
{
    // A transfer time-out of the request ends as a cancelled operation.
    return m_errorCode == QNetworkReply::TimeoutError
        || m_errorCode == QNetworkReply::OperationCanceledError;
}

bool NetworkError::isAuthError() const
{
    return m_httpStatusCode == 401 || m_httpStatusCode == 403;
}

bool NetworkError::isServerError() const
{
    return m_httpStatusCode >= 500 && m_httpStatusCode <= 599;
}

QString NetworkError::userMessage() const
{
    if (isAuthError())
        return QStringLiteral("Authentication expired, please log in again");
    if (isConnectionError())
        return QStringLiteral("Unable to connect to server");
    if (isTimeoutError())
        return QStringLiteral("Connection timed out");
    if (!isServerError())
        return message();
    return QStringLiteral("Server error, please try again later");
}
