#include "desktop/traymenu.h"

#include "config/configbuilder.h"
#include "config/nodeclusters.h"
#include "desktop/quickconnect.h"
#include "service/service.h"

namespace {

const QString kCountryPrefix = QStringLiteral("country:");

} // namespace

TrayMenu::TrayMenu(service &tunnel, QuickConnect &quick, QObject *parent)
    : QObject(parent)
    , m_tunnel(tunnel)
    , m_quick(quick)
{
    for (auto signal : {&service::isConnectedChanged, &service::proxyTagsChanged,
             &service::selectedProxyChanged, &service::autoRouteChanged})
        connect(&m_tunnel, signal, this, &TrayMenu::changed);
}

void TrayMenu::setTexts(const QVariantMap &texts)
{
    if (m_texts == texts)
        return;
    m_texts = texts;
    emit changed();
}

QString TrayMenu::text(const char *key, const QString &fallback) const
{
    const QString value = m_texts.value(QLatin1String(key)).toString();
    return value.isEmpty() ? fallback : value;
}

QString TrayMenu::toolTip() const
{
    if (!m_tunnel.isConnected())
        return QStringLiteral("qivro: ") + text("disconnected", QStringLiteral("Disconnected"));
    QString tip = QStringLiteral("qivro: ") + text("connected", QStringLiteral("Connected"));
    if (!m_tunnel.selectedProxy().isEmpty())
        tip += QStringLiteral(" (%1)").arg(m_tunnel.selectedProxy());
    return tip;
}

QList<TrayMenu::Entry> TrayMenu::entries() const
{
    const bool connected = m_tunnel.isConnected();
    QList<Entry> list {
        {QStringLiteral("state"), toolTip().mid(7), false},
        {QStringLiteral("toggle"),
            connected ? text("disconnect", QStringLiteral("Disconnect"))
                      : text("connect", QStringLiteral("Connect"))},
    };
    const QStringList tags = m_tunnel.proxyTags();
    if (!tags.isEmpty()) {
        const QString route = m_tunnel.route();
        list.append(Entry {});
        list.append(Entry {QStringLiteral("auto"), text("auto", QStringLiteral("Auto")), true, true,
            connected && route == autoGroupTag});
        const QString language = m_texts.value(QStringLiteral("language")).toString();
        for (const QVariant &item : sortClustersForDisplay(groupTagsByCluster(tags))) {
            const QString cluster = item.toMap().value(QStringLiteral("name")).toString();
            list.append(Entry {kCountryPrefix + cluster,
                displayNameForCluster(
                    cluster, language.isEmpty() ? QStringLiteral("en") : language),
                true, true, connected && route == clusterGroupTag(cluster)});
        }
    }
    list.append(Entry {});
    list.append(Entry {QStringLiteral("show"), text("show", QStringLiteral("Show qivro"))});
    list.append(Entry {QStringLiteral("quit"), text("quit", QStringLiteral("Quit"))});
    return list;
}

void TrayMenu::connectOrShow()
{
    if (!m_quick.connectNow())
        emit showRequested();
}

void TrayMenu::trigger(const QString &action)
{
    if (action == QLatin1String("toggle")) {
        if (m_tunnel.isConnected())
            m_tunnel.toggleConnectionDesktop();
        else
            connectOrShow();
    } else if (action == QLatin1String("auto") || action.startsWith(kCountryPrefix)) {
        const bool chosen = action == QLatin1String("auto")
            ? m_tunnel.selectAutoRoute()
            : m_tunnel.selectCluster(action.mid(kCountryPrefix.size()));
        if (chosen && !m_tunnel.isConnected())
            connectOrShow();
    } else if (action == QLatin1String("show")) {
        emit showRequested();
    } else if (action == QLatin1String("quit")) {
        emit quitRequested();
    } else {
        return;
    }
    emit changed();
}
