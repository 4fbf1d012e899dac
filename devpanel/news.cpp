#include "news.h"

#include "panelclock.h"
#include "panelconfig.h"
#include "panelrequest.h"
#include "panelstorage.h"

#include <QJsonArray>

News::News(PanelStorage &storage, PanelConfig &config, PanelClock &clock)
    : m_storage(storage)
    , m_config(config)
    , m_clock(clock)
{ }

PanelReply News::announcements(const PanelRequest &request)
{
    bool pageOk = true;
    bool sizeOk = true;
    const qint64 page = request.hasQueryItem(QStringLiteral("page"))
        ? request.queryItem(QStringLiteral("page")).toLongLong(&pageOk)
        : 1;
    const qint64 size = request.hasQueryItem(QStringLiteral("size"))
        ? request.queryItem(QStringLiteral("size")).toLongLong(&sizeOk)
        : 10;
    if (!pageOk || !sizeOk || page < 1 || page > 1000000 || size < 1 || size > 100)
        return PanelReply::refusal(QStringLiteral("Invalid page or size"));

    // "show" is delivered, not filtered: honouring it is the reader's job. "popup" narrows the
    // list, as the pop-up request asks only for those.
    QString filter = QStringLiteral("1 = 1");
    const QString popup = request.queryItem(QStringLiteral("popup"));
    if (popup == QLatin1String("true") || popup == QLatin1String("1"))
        filter = QStringLiteral("popup = 1");
    else if (!popup.isEmpty() && popup != QLatin1String("false") && popup != QLatin1String("0"))
        return PanelReply::refusal(QStringLiteral("Invalid popup flag"));

    const qint64 total
        = m_storage.value(QStringLiteral("SELECT count(*) FROM announcements WHERE ") + filter)
              .toLongLong();
    QJsonArray list;
    for (const QVariantMap &row :
        m_storage.rows(QStringLiteral("SELECT * FROM announcements WHERE ") + filter
                + QStringLiteral(" ORDER BY id DESC LIMIT ? OFFSET ?"),
            {size, (page - 1) * size})) {
        list.append(QJsonObject {{QStringLiteral("id"), row.value("id").toLongLong()},
            {QStringLiteral("title"), row.value("title").toString()},
            {QStringLiteral("content"), row.value("content").toString()},
            {QStringLiteral("show"), row.value("show").toBool()},
            {QStringLiteral("pinned"), row.value("pinned").toBool()},
            {QStringLiteral("popup"), row.value("popup").toBool()},
            {QStringLiteral("created_at"), row.value("created_at").toLongLong()},
            {QStringLiteral("updated_at"), row.value("updated_at").toLongLong()}});
    }
    return PanelReply::success(
        QJsonObject {{QStringLiteral("total"), total}, {QStringLiteral("announcements"), list}});
}

PanelReply News::siteConfig()
{
    return PanelReply::success(m_config.siteConfig());
}

PanelReply News::versionFile(const QString &baseUrl)
{
    QJsonObject file = m_config.versionFile();
    if (!file.contains(QStringLiteral("update_url")) && !baseUrl.isEmpty())
        file.insert(QStringLiteral("update_url"), baseUrl + QStringLiteral("/download"));
    return PanelReply::json(file);
}

qint64 News::addAnnouncement(const QJsonObject &spec, QString *error)
{
    const QString title = spec.value(QStringLiteral("title")).toString();
    if (title.isEmpty()) {
        *error = QStringLiteral("An announcement needs a title");
        return 0;
    }
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO announcements (title, content, show, pinned, popup, "
                       "created_at, updated_at) VALUES (?, ?, ?, ?, ?, ?, ?)"),
        {title, spec.value(QStringLiteral("content")).toString(),
            spec.value(QStringLiteral("show")).toBool(true) ? 1 : 0,
            spec.value(QStringLiteral("pinned")).toBool() ? 1 : 0,
            spec.value(QStringLiteral("popup")).toBool() ? 1 : 0, now, now});
    if (id <= 0)
        *error = QStringLiteral("Cannot store the announcement");
    return qMax<qint64>(id, 0);
}
