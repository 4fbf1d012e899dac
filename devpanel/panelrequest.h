#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrlQuery>

// One HTTP request as the panel sees it, detached from any socket so that handlers can be driven
// directly by tests and fuzzers.
class PanelRequest
{
public:
    PanelRequest() = default;
    PanelRequest(const QByteArray &method, const QString &target, const QByteArray &body = {});

    QByteArray method() const { return m_method; }
    QString path() const { return m_path; }
    const QUrlQuery &query() const { return m_query; }
    QString queryItem(const QString &key) const;
    bool hasQueryItem(const QString &key) const { return m_query.hasQueryItem(key); }
    QByteArray body() const { return m_body; }

    // Header names are case-insensitive; a repeated header keeps its last value.
    QByteArray header(const QByteArray &name) const;
    const QHash<QByteArray, QByteArray> &headers() const { return m_headers; }
    void setHeader(const QByteArray &name, const QByteArray &value);

private:
    QByteArray m_method;
    QString m_path;
    QUrlQuery m_query;
    QByteArray m_body;
    QHash<QByteArray, QByteArray> m_headers;
};
