#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// One HTTP exchange, built fluently and run synchronously:
//
//     const QJsonDocument reply = NetworkHandler::getDirectInstance()->request()
//         .url(QUrl(ApiEndpoints::User::Info))
//         .header("Authorization", token.toUtf8())
//         .get();
//
// The terminal operations wait in a nested event loop, so the caller's thread keeps handling
// events meanwhile, and throw NetworkError when the reply reports an error.
class NetworkRequest
{
public:
    explicit NetworkRequest(QNetworkAccessManager *manager);

    NetworkRequest &url(const QUrl &url);
    NetworkRequest &body(const QByteArray &body);
    // Sent as "Authorization: Bearer <token>"; empty sends no such header.
    NetworkRequest &authToken(const QString &token);
    // Milliseconds without any data moving before the transfer is abandoned.
    NetworkRequest &timeout(int milliseconds);
    // Followed unless they lead from https to http.
    NetworkRequest &followRedirects(bool follow);
    // A later value for the same name replaces the earlier one.
    NetworkRequest &header(const QByteArray &name, const QByteArray &value);
    NetworkRequest &headers(const QList<QPair<QByteArray, QByteArray>> &headers);

    // JSON requests; a reply body that is not JSON gives a null document.
    QJsonDocument get();
    QJsonDocument post();
    bool put();
    // The reply body as it came; no content type is sent.
    QByteArray getRaw();

private:
    enum class Verb
    {
        Get,
        Post,
        Put
    };

    QNetworkRequest prepare(bool json) const;
    QByteArray run(Verb verb, bool json);

    QPointer<QNetworkAccessManager> m_manager;
    QUrl m_url;
    QByteArray m_body;
    QString m_authToken;
    QMap<QByteArray, QByteArray> m_headers;
    bool m_followRedirects = true;
    int m_timeout = 30000;
};
