#include "adminapi.h"

#include "bodyreader.h"
#include "faults.h"
#include "panelapi.h"
#include "panelrequest.h"
#include "panelstorage.h"
#include "requestlog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject bodyObject(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

PanelReply created(const char *key, qint64 id, const QString &error)
{
    if (id <= 0)
        return PanelReply::refusal(error);
    return PanelReply::success(QJsonObject {{QLatin1String(key), id}});
}

} // namespace

AdminApi::AdminApi(PanelApi &api, Faults &faults, RequestLog &log, const QByteArray &key)
    : m_api(api)
    , m_faults(faults)
    , m_log(log)
    , m_key(key)
{
    addRoutes();
}

bool AdminApi::isAdminPath(const QString &path)
{
    return path == QLatin1String("/admin") || path.startsWith(QLatin1String("/admin/"));
}

void AdminApi::addRoutes()
{
    auto withBody = [this](PanelReply (AdminApi::*member)(const QByteArray &)) {
        return [this, member](const PanelRequest &r) { return (this->*member)(r.body()); };
    };
    m_routes.insert(
        QStringLiteral("GET /admin/state"), [this](const PanelRequest &) { return state(); });
    m_routes.insert(QStringLiteral("POST /admin/reset"), [this](const PanelRequest &) {
        m_faults.clear();
        m_faults.resetCounters();
        m_log.clear();
        m_api.clock().setOffset(0);
        m_api.config().resetTestSwitches();
        return PanelReply::success();
    });
    m_routes.insert(QStringLiteral("POST /admin/faults"), withBody(&AdminApi::setFault));
    m_routes.insert(QStringLiteral("GET /admin/faults"), [this](const PanelRequest &) {
        return PanelReply::success(QJsonObject {{QStringLiteral("faults"), m_faults.list()}});
    });
    m_routes.insert(QStringLiteral("POST /admin/faults/clear"), [this](const PanelRequest &) {
        m_faults.clear();
        return PanelReply::success();
    });
    m_routes.insert(QStringLiteral("GET /admin/counters"),
        [this](const PanelRequest &) { return PanelReply::success(m_faults.counters()); });
    m_routes.insert(QStringLiteral("POST /admin/counters/reset"), [this](const PanelRequest &) {
        m_faults.resetCounters();
        m_log.clear();
        return PanelReply::success();
    });
    m_routes.insert(QStringLiteral("GET /admin/requests"), [this](const PanelRequest &r) {
        bool ok = false;
        int limit = r.queryItem(QStringLiteral("limit")).toInt(&ok);
        if (!ok || limit < 1)
            limit = RequestLog::kCapacity;
        return PanelReply::success(QJsonObject {{QStringLiteral("requests"),
            m_log.entries(r.queryItem(QStringLiteral("path")), limit)}});
    });
    m_routes.insert(QStringLiteral("GET /admin/clock"), [this](const PanelRequest &) {
        return PanelReply::success(QJsonObject {{QStringLiteral("offset"), m_api.clock().offset()},
            {QStringLiteral("now"), m_api.clock().now()}});
    });
    m_routes.insert(QStringLiteral("POST /admin/clock"), withBody(&AdminApi::setClock));
    m_routes.insert(QStringLiteral("POST /admin/config"), withBody(&AdminApi::configure));
    m_routes.insert(QStringLiteral("GET /admin/mailbox"), [this](const PanelRequest &r) {
        return PanelReply::success(QJsonObject {{QStringLiteral("messages"),
            m_api.mailbox().messages(r.queryItem(QStringLiteral("email")))}});
    });
    m_routes.insert(QStringLiteral("GET /admin/mailbox/latest"), [this](const PanelRequest &r) {
        const QString code = m_api.mailbox().latestCode(
            r.queryItem(QStringLiteral("email")), r.queryItem(QStringLiteral("type")).toInt());
        if (code.isEmpty())
            return PanelReply::refusal(QStringLiteral("No code was sent to this address"), 404);
        return PanelReply::success(QJsonObject {{QStringLiteral("code"), code}});
    });
    m_routes.insert(QStringLiteral("POST /admin/users"), withBody(&AdminApi::createUser));
    m_routes.insert(QStringLiteral("POST /admin/users/funds"), withBody(&AdminApi::setFunds));
    m_routes.insert(QStringLiteral("POST /admin/users/revoke"), withBody(&AdminApi::revoke));
    m_routes.insert(
        QStringLiteral("POST /admin/subscriptions"), withBody(&AdminApi::grantSubscription));
    m_routes.insert(QStringLiteral("POST /admin/plans"), withBody(&AdminApi::addPlan));
    m_routes.insert(QStringLiteral("POST /admin/nodes"), withBody(&AdminApi::addNode));
    m_routes.insert(
        QStringLiteral("POST /admin/payment-methods"), withBody(&AdminApi::addPaymentMethod));
    m_routes.insert(QStringLiteral("POST /admin/payment-methods/enable"),
        withBody(&AdminApi::enablePaymentMethod));
    m_routes.insert(QStringLiteral("POST /admin/coupons"), withBody(&AdminApi::addCoupon));
    m_routes.insert(
        QStringLiteral("POST /admin/announcements"), withBody(&AdminApi::addAnnouncement));
    m_routes.insert(
        QStringLiteral("POST /admin/tickets/reply"), withBody(&AdminApi::replyToTicket));
    m_routes.insert(
        QStringLiteral("POST /admin/orders/status"), withBody(&AdminApi::setOrderStatus));
    m_routes.insert(QStringLiteral("POST /admin/orders/settle"), withBody(&AdminApi::settleOrder));
}

PanelReply AdminApi::handle(const PanelRequest &request, bool fromLoopback)
{
    if (!fromLoopback)
        return PanelReply::httpError(403, QStringLiteral("The admin API answers loopback only"));
    if (!constantTimeEquals(request.header("X-Dev-Key"), m_key))
        return PanelReply::httpError(403, QStringLiteral("Missing or wrong X-Dev-Key"));
    if (request.body().size() > BodyReader::kMaxBodyBytes)
        return PanelReply::httpError(413, QStringLiteral("Request body too large"));
    const auto route = m_routes.constFind(
        QString::fromLatin1(request.method()) + QLatin1Char(' ') + request.path());
    if (route == m_routes.constEnd())
        return PanelReply::httpError(404, QStringLiteral("No such admin endpoint"));
    return (*route)(request);
}

PanelReply AdminApi::state()
{
    PanelConfig &config = m_api.config();
    return PanelReply::success(QJsonObject {
        {QStringLiteral("url"), m_api.baseUrl()},
        {QStringLiteral("version_file_url"),
            m_api.baseUrl() + QString::fromLatin1(PanelApi::kVersionFilePath)},
        {QStringLiteral("clock_offset"), m_api.clock().offset()},
        {QStringLiteral("auth_style"), PanelConfig::authStyleName(config.authStyle())},
        {QStringLiteral("token_lifetime"), config.tokenLifetime()},
        {QStringLiteral("reveal_codes"), config.revealCodes()},
        {QStringLiteral("ticket_auto_reply"), config.ticketAutoReply()},
        {QStringLiteral("free_plan_id"), config.freePlanId()},
        {QStringLiteral("free_cooldown"), config.freeCooldown()},
        {QStringLiteral("free_duration"), config.freeDuration()},
        {QStringLiteral("free_cooldown_style"), config.freeCooldownStyle()},
        {QStringLiteral("site"), config.siteConfig()},
        {QStringLiteral("version"), config.versionFile()},
    });
}

PanelReply AdminApi::setFault(const QByteArray &body)
{
    BodyReader in(body);
    const QString path = in.text(QStringLiteral("path"));
    if (in.ok() && !path.startsWith(QLatin1Char('/')))
        in.fail(QStringLiteral("path must start with /"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    QString error;
    const auto fault = Faults::fromJson(bodyObject(body), &error);
    if (!fault)
        return PanelReply::refusal(error);
    m_faults.set(path, *fault);
    return PanelReply::success();
}

PanelReply AdminApi::setClock(const QByteArray &body)
{
    BodyReader in(body);
    const qint64 offset = in.integer(QStringLiteral("offset"), -3650LL * 86400, 3650LL * 86400);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    m_api.clock().setOffset(offset);
    return PanelReply::success(QJsonObject {
        {QStringLiteral("offset"), offset}, {QStringLiteral("now"), m_api.clock().now()}});
}

PanelReply AdminApi::configure(const QByteArray &body)
{
    BodyReader in(body);
    const QString style = in.optionalText(QStringLiteral("auth_style"));
    const auto lifetime = in.optionalInteger(QStringLiteral("token_lifetime"), 0, 3650LL * 86400);
    const auto reveal = in.optionalBool(QStringLiteral("reveal_codes"));
    const auto autoReply = in.optionalBool(QStringLiteral("ticket_auto_reply"));
    const auto freePlan = in.optionalInteger(QStringLiteral("free_plan_id"), 0, INT32_MAX);
    const auto cooldown = in.optionalInteger(QStringLiteral("free_cooldown"), 0, 3650LL * 86400);
    const auto duration = in.optionalInteger(QStringLiteral("free_duration"), 1, 3650LL * 86400);
    const QString cooldownStyle = in.optionalText(QStringLiteral("free_cooldown_style"));
    if (in.ok() && !cooldownStyle.isEmpty() && !PanelConfig::isFreeCooldownStyle(cooldownStyle))
        in.fail(QStringLiteral("free_cooldown_style must be data, refusal or message"));
    const auto site = in.optionalObject(QStringLiteral("site"));
    const auto version = in.optionalObject(QStringLiteral("version"));
    PanelConfig::AuthStyle authStyle = PanelConfig::AuthStyle::InvalidAccess;
    if (in.ok() && !style.isEmpty() && !PanelConfig::parseAuthStyle(style, authStyle))
        in.fail(QStringLiteral("auth_style must be invalid-access, login-first or http-401"));
    if (!in.ok())
        return PanelReply::refusal(in.error());

    PanelConfig &config = m_api.config();
    if (!style.isEmpty())
        config.setAuthStyle(authStyle);
    if (lifetime)
        config.setTokenLifetime(*lifetime);
    if (reveal)
        config.setRevealCodes(*reveal);
    if (autoReply)
        config.setTicketAutoReply(*autoReply);
    if (freePlan)
        config.setFreePlanId(*freePlan);
    if (cooldown)
        config.setFreeCooldown(*cooldown);
    if (duration)
        config.setFreeDuration(*duration);
    if (!cooldownStyle.isEmpty())
        config.setFreeCooldownStyle(cooldownStyle);
    if (site)
        config.setSiteConfig(*site);
    if (version)
        config.setVersionFile(*version);
    return state();
}

PanelReply AdminApi::createUser(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const QString password = in.text(QStringLiteral("password"));
    const auto balance = in.optionalInteger(QStringLiteral("balance"), 0, 1000000000);
    const auto gift = in.optionalInteger(QStringLiteral("gift_amount"), 0, 1000000000);
    const QString invite = in.optionalText(QStringLiteral("invite"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    Accounts &accounts = m_api.accounts();
    QString error;
    const qint64 id = accounts.createUser(email, password, &error, invite);
    if (id == 0)
        return PanelReply::refusal(error);
    accounts.setFunds(id, balance, gift);
    const auto user = accounts.user(id);
    return PanelReply::success(QJsonObject {{QStringLiteral("id"), id},
        {QStringLiteral("refer_code"), user ? user->value("refer_code").toString() : QString()},
        {QStringLiteral("token"), QString::fromLatin1(accounts.issueToken(id))}});
}

PanelReply AdminApi::setFunds(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const auto balance = in.optionalInteger(QStringLiteral("balance"), 0, 1000000000);
    const auto gift = in.optionalInteger(QStringLiteral("gift_amount"), 0, 1000000000);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const qint64 id = m_api.accounts().userIdByEmail(email);
    if (id == 0 || !m_api.accounts().setFunds(id, balance, gift))
        return PanelReply::refusal(QStringLiteral("User does not exist"));
    return PanelReply::success();
}

PanelReply AdminApi::revoke(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const qint64 id = m_api.accounts().userIdByEmail(email);
    if (id == 0 || !m_api.accounts().revokeTokens(id))
        return PanelReply::refusal(QStringLiteral("User does not exist"));
    return PanelReply::success();
}

PanelReply AdminApi::grantSubscription(const QByteArray &body)
{
    BodyReader in(body);
    const QString email = in.text(QStringLiteral("email"));
    const qint64 planId = in.integer(QStringLiteral("plan_id"), 1, INT32_MAX);
    const auto expireTime = in.optionalInteger(QStringLiteral("expire_time"), 0, 1LL << 50);
    const auto upload = in.optionalInteger(QStringLiteral("upload"), 0, 1LL << 60);
    const auto download = in.optionalInteger(QStringLiteral("download"), 0, 1LL << 60);
    const QString token = in.optionalText(QStringLiteral("token"));
    const bool tokenless = in.optionalBool(QStringLiteral("tokenless")).value_or(false);
    if (in.ok() && tokenless && !token.isEmpty())
        in.fail(QStringLiteral("token and tokenless exclude each other"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const qint64 userId = m_api.accounts().userIdByEmail(email);
    if (userId == 0)
        return PanelReply::refusal(QStringLiteral("User does not exist"));
    if (!m_api.catalogue().plan(planId))
        return PanelReply::refusal(QStringLiteral("Subscribe plan does not exist"));
    if (!token.isEmpty()
        && m_api.storage()
               .value(QStringLiteral("SELECT 1 FROM user_subscriptions WHERE token = ?"), {token})
               .isValid())
        return PanelReply::refusal(QStringLiteral("Token is already in use"));
    const qint64 expiry = expireTime.value_or(m_api.clock().now() + 30 * 86400);
    const qint64 id = m_api.subscriptions().grantUntil(
        userId, planId, expiry, upload.value_or(0), download.value_or(0), token);
    // Some panels list subscriptions whose token was never issued; nothing downloads them.
    if (tokenless)
        m_api.storage().exec(
            QStringLiteral("UPDATE user_subscriptions SET token = '' WHERE id = ?"), {id});
    const auto row = m_api.subscriptions().subscription(id);
    if (!row)
        return PanelReply::refusal(QStringLiteral("Cannot store the subscription"));
    return PanelReply::success(QJsonObject {
        {QStringLiteral("id"), id}, {QStringLiteral("token"), row->value("token").toString()}});
}

PanelReply AdminApi::addPlan(const QByteArray &body)
{
    BodyReader in(body);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const QJsonObject spec = bodyObject(body);
    QString error;
    const qint64 id = m_api.catalogue().addPlan(spec, &error);
    for (const QJsonValue &node : spec.value(QStringLiteral("node_ids")).toArray()) {
        if (id > 0)
            m_api.catalogue().attachNode(id, BodyReader::wholeNumber(node).value_or(0));
    }
    return created("id", id, error);
}

PanelReply AdminApi::addNode(const QByteArray &body)
{
    BodyReader in(body);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const QJsonObject spec = bodyObject(body);
    QString error;
    const qint64 id = m_api.catalogue().addNode(spec, &error);
    for (const QJsonValue &plan : spec.value(QStringLiteral("plan_ids")).toArray()) {
        if (id > 0)
            m_api.catalogue().attachNode(BodyReader::wholeNumber(plan).value_or(0), id);
    }
    return created("id", id, error);
}

PanelReply AdminApi::addPaymentMethod(const QByteArray &body)
{
    BodyReader in(body);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    QString error;
    return created("id", m_api.catalogue().addPaymentMethod(bodyObject(body), &error), error);
}

PanelReply AdminApi::enablePaymentMethod(const QByteArray &body)
{
    BodyReader in(body);
    const qint64 id = in.integer(QStringLiteral("id"), 1, INT32_MAX);
    const auto enabled = in.optionalBool(QStringLiteral("enabled"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (!m_api.catalogue().setPaymentMethodEnabled(id, enabled.value_or(true)))
        return PanelReply::refusal(QStringLiteral("Payment method does not exist"));
    return PanelReply::success();
}

PanelReply AdminApi::addCoupon(const QByteArray &body)
{
    BodyReader in(body);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    QString error;
    if (!m_api.catalogue().addCoupon(bodyObject(body), &error))
        return PanelReply::refusal(error);
    return PanelReply::success();
}

PanelReply AdminApi::addAnnouncement(const QByteArray &body)
{
    BodyReader in(body);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    QString error;
    return created("id", m_api.news().addAnnouncement(bodyObject(body), &error), error);
}

PanelReply AdminApi::replyToTicket(const QByteArray &body)
{
    BodyReader in(body);
    const qint64 ticketId = in.integer(QStringLiteral("ticket_id"), 1, INT32_MAX);
    const QString content = in.text(QStringLiteral("content"));
    const QString from = in.optionalText(QStringLiteral("from"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const QString problem = m_api.support().staffReply(
        ticketId, content, from.isEmpty() ? QStringLiteral("Admin") : from);
    return problem.isEmpty() ? PanelReply::success() : PanelReply::refusal(problem);
}

PanelReply AdminApi::setOrderStatus(const QByteArray &body)
{
    BodyReader in(body);
    const QString orderNo = in.text(QStringLiteral("order_no"));
    const qint64 status = in.integer(QStringLiteral("status"), 1, 5);
    if (!in.ok())
        return PanelReply::refusal(in.error());
    if (!m_api.orders().setStatus(orderNo, int(status)))
        return PanelReply::refusal(QStringLiteral("Order does not exist"));
    return PanelReply::success();
}

PanelReply AdminApi::settleOrder(const QByteArray &body)
{
    BodyReader in(body);
    const QString orderNo = in.text(QStringLiteral("order_no"));
    const auto paid = in.optionalBool(QStringLiteral("paid"));
    if (!in.ok())
        return PanelReply::refusal(in.error());
    const QString problem = m_api.orders().settle(orderNo, paid.value_or(true));
    return problem.isEmpty() ? PanelReply::success() : PanelReply::refusal(problem);
}
