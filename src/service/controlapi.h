#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

// Asynchronous requests to the engine's local control API. Each request has its own connection,
// so any number run at once: the request layer's access manager would queue all but six per host,
// and latency tests are meant to run ten at a time.
class ControlApi : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        int status = 0; // 0: no HTTP answer
        QByteArray body;
        QString error; // transport failure or "timeout"
        bool ok() const { return status >= 200 && status < 300; }
        QJsonDocument json() const { return QJsonDocument::fromJson(body); }
    };
    using Callback = std::function<void(const Reply &)>;

    explicit ControlApi(QObject *parent = nullptr);

    // "host:port" of the API and its secret; requests already running keep the old ones.
    void setEndpoint(const QString &controller, const QString &secret);
    QString controller() const { return m_controller; }
    QString secret() const { return m_secret; }

    // GET of an already encoded path and query; done runs once, unless abortAll() comes first.
    void get(const QString &pathAndQuery, int timeoutMs, Callback done);
    // Drops every running request without calling back.
    void abortAll();
    int running() const;

    // The WebSocket address of a streamed resource, the secret passed as "token".
    QUrl webSocketUrl(const QString &path) const;
    // A tag as one percent-encoded path segment.
    static QString segment(const QString &tag);
    // "/proxies/<tag>/delay?timeout=..&url=..", the delay test of one outbound or group.
    static QString delayPath(const QString &resource, const QString &tag, int timeoutMs);

private:
    QString m_controller;
    QString m_secret;
};
