#include "requestlog.h"

#include "panelrequest.h"

void RequestLog::record(const PanelRequest &request)
{
    QJsonObject headers;
    for (auto it = request.headers().cbegin(); it != request.headers().cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    QJsonObject query;
    for (const auto &item : request.query().queryItems(QUrl::FullyDecoded))
        query.insert(item.first, item.second);
    m_entries.append(QJsonObject {
        {QStringLiteral("method"), QString::fromLatin1(request.method())},
        {QStringLiteral("path"), request.path()},
        {QStringLiteral("query"), query},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), QString::fromUtf8(request.body().left(kMaxBodyBytes))},
    });
    while (m_entries.size() > kCapacity)
        m_entries.removeFirst();
}

QJsonArray RequestLog::entries(const QString &path, int limit) const
{
    QJsonArray result;
    for (auto it = m_entries.crbegin(); it != m_entries.crend() && result.size() < limit; ++it) {
        if (path.isEmpty() || it->value(QStringLiteral("path")).toString() == path)
            result.prepend(*it);
    }
    return result;
}
