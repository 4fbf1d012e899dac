#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class PanelRequest;

// The most recent requests, so that tests can check what a client really sent: headers, query
// items and body.
class RequestLog
{
public:
    static constexpr int kCapacity = 200;
    static constexpr int kMaxBodyBytes = 8192;

    void record(const PanelRequest &request);
    void clear() { m_entries.clear(); }
    // Newest last; only those for `path` when it is not empty; at most `limit`.
    QJsonArray entries(const QString &path, int limit) const;

private:
    QList<QJsonObject> m_entries;
};
