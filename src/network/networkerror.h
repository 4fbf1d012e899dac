#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class QNetworkReply;

// The one failure of an HTTP exchange: what went wrong, how to classify it and what to tell the
// user. Thrown by value by NetworkRequest's terminal operations.
class NetworkError : public std::exception
{
public:
    // Reads the failed reply's error, status and whole body.
    explicit NetworkError(QNetworkReply *reply);
    NetworkError(int errorCode, int httpStatusCode, const QByteArray &message);

    int errorCode() const { return m_errorCode; }
    // 0 when no HTTP response arrived.
    int httpStatusCode() const { return m_httpStatusCode; }
    QString message() const { return QString::fromUtf8(m_message); }
    const char *what() const noexcept override { return m_message.constData(); }

    bool isConnectionError() const;
    bool isTimeoutError() const;
    bool isAuthError() const;
    bool isServerError() const;

    // The text to show: fixed wording for the common classes, the server's own text otherwise.
    QString userMessage() const;

private:
    int m_errorCode = 0;
    int m_httpStatusCode = 0;
    QByteArray m_message;
};
