#pragma once

#include "accounts.h"
#include "catalogue.h"
#include "mailbox.h"
#include "news.h"
#include "orders.h"
#include "panelclock.h"
#include "panelconfig.h"
#include "panelreply.h"
#include "subscriptions.h"
#include "support.h"
#include "webpages.h"

#include <QHash>
#include <QList>

#include <functional>

class PanelRequest;
class PanelStorage;

// The panel's public face without sockets: one request in, one reply out. The HTTP server, the
// tests and the fuzzer all drive it through handle().
class PanelApi
{
public:
    explicit PanelApi(PanelStorage &storage);

    PanelReply handle(const PanelRequest &request);

    // The address clients reach the panel at, used for payment pages and the version file.
    void setBaseUrl(const QString &baseUrl);
    QString baseUrl() const { return m_baseUrl; }

    PanelStorage &storage() { return m_storage; }
    PanelConfig &config() { return m_config; }
    PanelClock &clock() { return m_clock; }
    Mailbox &mailbox() { return m_mailbox; }
    Accounts &accounts() { return m_accounts; }
    Catalogue &catalogue() { return m_catalogue; }
    Subscriptions &subscriptions() { return m_subscriptions; }
    Orders &orders() { return m_orders; }
    Support &support() { return m_support; }
    News &news() { return m_news; }

    static constexpr const char *kVersionFilePath = "/client/version.json";

private:
    using Handler = std::function<PanelReply(const PanelRequest &, qint64 userId)>;
    struct Route
    {
        QByteArray method;
        bool authorized = false;
        Handler handler;
    };

    void addRoute(const QByteArray &method, const QString &path, bool authorized, Handler handler);
    void addRoutes();
    PanelReply authRefusal() const;

    PanelStorage &m_storage;
    PanelConfig m_config;
    PanelClock m_clock;
    Mailbox m_mailbox;
    Accounts m_accounts;
    Catalogue m_catalogue;
    Subscriptions m_subscriptions;
    Orders m_orders;
    Support m_support;
    News m_news;
    WebPages m_webPages;
    QHash<QString, QList<Route>> m_routes;
    QString m_baseUrl;
};
