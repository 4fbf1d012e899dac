#include "panelapi.h"

#include "bodyreader.h"
#include "panelrequest.h"

PanelApi::PanelApi(PanelStorage &storage)
    : m_storage(storage)
    , m_config(storage)
    , m_mailbox(storage, m_clock)
    , m_accounts(storage, m_config, m_clock, m_mailbox)
    , m_catalogue(storage, m_clock)
    , m_subscriptions(storage, m_config, m_clock, m_catalogue)
    , m_orders(storage, m_config, m_clock, m_catalogue, m_subscriptions)
    , m_support(storage, m_config, m_clock)
    , m_news(storage, m_config, m_clock)
    , m_webPages(m_orders, m_catalogue, m_config)
{
    addRoutes();
}

void PanelApi::setBaseUrl(const QString &baseUrl)
{
    m_baseUrl = baseUrl;
    m_orders.setPaymentBaseUrl(baseUrl);
}

void PanelApi::addRoute(
    const QByteArray &method, const QString &path, bool authorized, Handler handler)
{
    m_routes[path].append(Route {method, authorized, std::move(handler)});
}

void PanelApi::addRoutes()
{
    const bool open = false;
    const bool authorized = true;
    auto body = [](auto member) {
        return [member](const PanelRequest &request, qint64 userId) {
            return member(userId, request.body());
        };
    };

    // Accounts
    addRoute("POST", QStringLiteral("/v1/auth/login"), open,
        [this](const PanelRequest &r, qint64) { return m_accounts.login(r.body()); });
    addRoute("POST", QStringLiteral("/v1/auth/register"), open,
        [this](const PanelRequest &r, qint64) { return m_accounts.registerAccount(r.body()); });
    addRoute("POST", QStringLiteral("/v1/auth/reset"), open,
        [this](const PanelRequest &r, qint64) { return m_accounts.resetPassword(r.body()); });
    addRoute("POST", QStringLiteral("/v1/common/send_code"), open,
        [this](const PanelRequest &r, qint64) { return m_accounts.sendCode(r.body()); });
    addRoute("POST", QStringLiteral("/v1/common/check_verification_code"), open,
        [this](const PanelRequest &r, qint64) { return m_accounts.checkCode(r.body()); });
    addRoute("GET", QStringLiteral("/v1/public/user/info"), authorized,
        [this](const PanelRequest &, qint64 user) { return m_accounts.userInfo(user); });

    // Subscriptions
    addRoute("GET", QStringLiteral("/v1/public/user/subscribe"), authorized,
        [this](
            const PanelRequest &, qint64 user) { return m_subscriptions.userSubscriptions(user); });
    addRoute("POST", QStringLiteral("/v1/public/subscribe/claim_free"), authorized,
        [this](const PanelRequest &, qint64 user) { return m_subscriptions.claimFree(user); });
    addRoute("GET", QStringLiteral("/api/subscribe"), open, [this](const PanelRequest &r, qint64) {
        return m_subscriptions.shareLinks(r.queryItem(QStringLiteral("token")));
    });

    // Store
    addRoute("GET", QStringLiteral("/v1/public/subscribe/list"), authorized,
        [this](const PanelRequest &r, qint64) { return m_catalogue.planList(r); });
    addRoute("GET", QStringLiteral("/v1/public/portal/payment-method"), authorized,
        [this](const PanelRequest &, qint64) { return m_catalogue.paymentMethodList(); });
    addRoute("POST", QStringLiteral("/v1/public/order/pre"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_orders.preview(u, b); }));
    addRoute("POST", QStringLiteral("/v1/public/order/purchase"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_orders.purchase(u, b); }));
    addRoute("POST", QStringLiteral("/v1/public/order/renewal"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_orders.renewal(u, b); }));
    addRoute("POST", QStringLiteral("/v1/public/portal/order/checkout"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_orders.checkout(u, b); }));
    addRoute("GET", QStringLiteral("/v1/public/order/detail"), authorized,
        [this](const PanelRequest &r, qint64 user) {
            return m_orders.detail(user, r.queryItem(QStringLiteral("order_no")));
        });

    // Support
    addRoute("GET", QStringLiteral("/v1/public/ticket/list"), authorized,
        [this](const PanelRequest &r, qint64 user) { return m_support.list(user, r); });
    addRoute("GET", QStringLiteral("/v1/public/ticket/detail"), authorized,
        [this](const PanelRequest &r, qint64 user) { return m_support.detail(user, r); });
    addRoute("POST", QStringLiteral("/v1/public/ticket/"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_support.create(u, b); }));
    addRoute("PUT", QStringLiteral("/v1/public/ticket/"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_support.update(u, b); }));
    addRoute("POST", QStringLiteral("/v1/public/ticket/follow"), authorized,
        body([this](qint64 u, const QByteArray &b) { return m_support.follow(u, b); }));

    // News
    addRoute("GET", QStringLiteral("/v1/public/announcement/list"), authorized,
        [this](const PanelRequest &r, qint64) { return m_news.announcements(r); });
    addRoute("GET", QStringLiteral("/v1/common/site/config"), open,
        [this](const PanelRequest &, qint64) { return m_news.siteConfig(); });
    addRoute("GET", QString::fromLatin1(kVersionFilePath), open,
        [this](const PanelRequest &, qint64) { return m_news.versionFile(m_baseUrl); });
}

PanelReply PanelApi::authRefusal() const
{
    switch (m_config.authStyle()) {
    case PanelConfig::AuthStyle::LoginFirst:
        return PanelReply::refusal(QStringLiteral("请先登录"), 401);
    case PanelConfig::AuthStyle::Http401:
        return PanelReply::httpError(401, QStringLiteral("Invalid Access"));
    case PanelConfig::AuthStyle::InvalidAccess:
        break;
    }
    return PanelReply::refusal(QStringLiteral("Invalid Access"), 401);
}

PanelReply PanelApi::handle(const PanelRequest &request)
{
    if (request.body().size() > BodyReader::kMaxBodyBytes)
        return PanelReply::httpError(413, QStringLiteral("Request body too large"));

    QString path = request.path();
    // The ticket endpoint is written with a trailing slash; accept it without one too.
    if (path == QLatin1String("/v1/public/ticket"))
        path += QLatin1Char('/');
    const auto routes = m_routes.constFind(path);
    if (routes == m_routes.constEnd()) {
        if (m_webPages.serves(path))
            return m_webPages.handle(request);
        return PanelReply::httpError(404, QStringLiteral("Not Found"));
    }
    for (const Route &route : *routes) {
        if (route.method != request.method())
            continue;
        qint64 userId = 0;
        if (route.authorized) {
            userId = m_accounts.authenticate(request.header("Authorization"));
            if (userId == 0)
                return authRefusal();
        }
        return route.handler(request, userId);
    }
    return PanelReply::httpError(405, QStringLiteral("Method Not Allowed"));
}
