#pragma once

#include <QString>
#include <QStringList>

class PanelApi;

// Fills a new panel. The catalogue (plans, nodes of every share-link kind, payment methods,
// coupons, announcements, site configuration) is always there; the demo seed adds a signed-up
// account holding a running subscription whose Shadowsocks nodes point at loopback servers.
class Seeder
{
public:
    static constexpr const char *kDemoEmail = "demo@qivro.example";
    static constexpr const char *kDemoPassword = "demo1234";

    Seeder(PanelApi &api, quint16 ssBasePort);

    void seedCatalogue();
    void seedDemo();
    bool hasDemoAccount();

    // "port method password" per Shadowsocks node, one a line, for the demo's ss-server
    // instances.
    QStringList shadowsocksServers() const;

private:
    qint64 node(const QString &name, const QString &protocol, quint16 port, const QString &link,
        const QString &country, const QString &uuid = {});

    PanelApi &m_api;
    quint16 m_ssBasePort;
};
