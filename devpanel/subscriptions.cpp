#include "subscriptions.h"

#include "catalogue.h"
#include "panelclock.h"
#include "panelconfig.h"
#include "panelstorage.h"

#include <QDebug>
#include <QJsonArray>
#include <QRandomGenerator>

namespace {

constexpr qint64 kResetPeriod = 30 * 86400;

enum Status
{
    Active = 1,
    Expired = 3
};

} // namespace

Subscriptions::Subscriptions(
    PanelStorage &storage, PanelConfig &config, PanelClock &clock, Catalogue &catalogue)
    : m_storage(storage)
    , m_config(config)
    , m_clock(clock)
    , m_catalogue(catalogue)
{ }

QString Subscriptions::uniqueToken()
{
    for (;;) {
        QByteArray bytes(16, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), 4);
        const QString token = QString::fromLatin1(bytes.toHex());
        if (!m_storage
                 .value(QStringLiteral("SELECT 1 FROM user_subscriptions WHERE token = ?"), {token})
                 .isValid())
            return token;
    }
}

qint64 Subscriptions::nextResetTime(const QVariantMap &row) const
{
    const auto plan = m_catalogue.plan(row.value("subscribe_id").toLongLong());
    if (!plan || plan->value("reset_cycle").toLongLong() == 0)
        return 0;
    const qint64 start = row.value("start_time").toLongLong();
    const qint64 elapsed = qMax<qint64>(0, m_clock.now() - start);
    return start + (elapsed / kResetPeriod + 1) * kResetPeriod;
}

QJsonObject Subscriptions::itemJson(const QVariantMap &row)
{
    const qint64 planId = row.value("subscribe_id").toLongLong();
    const auto plan = m_catalogue.plan(planId);
    const qint64 expireTime = row.value("expire_time").toLongLong();
    const bool expired = expireTime > 0 && expireTime <= m_clock.now();
    return QJsonObject {
        {QStringLiteral("id"), row.value("id").toLongLong()},
        {QStringLiteral("user_id"), row.value("user_id").toLongLong()},
        {QStringLiteral("order_id"), row.value("order_id").toLongLong()},
        {QStringLiteral("subscribe_id"), planId},
        {QStringLiteral("subscribe"),
            QJsonObject {{QStringLiteral("id"), planId},
                {QStringLiteral("name"), plan ? plan->value("name").toString() : QString()},
                {QStringLiteral("description"),
                    plan ? plan->value("description").toString() : QString()}}},
        {QStringLiteral("start_time"), row.value("start_time").toLongLong()},
        {QStringLiteral("expire_time"), expireTime},
        {QStringLiteral("finished_at"), expired ? expireTime : 0},
        {QStringLiteral("reset_time"), nextResetTime(row)},
        {QStringLiteral("traffic"), row.value("traffic").toLongLong()},
        {QStringLiteral("download"), row.value("download").toLongLong()},
        {QStringLiteral("upload"), row.value("upload").toLongLong()},
        {QStringLiteral("token"), row.value("token").toString()},
        {QStringLiteral("status"), expired ? Expired : row.value("status").toInt()},
        {QStringLiteral("created_at"), row.value("created_at").toLongLong()},
        {QStringLiteral("updated_at"), row.value("updated_at").toLongLong()},
        {QStringLiteral("is_try_out"), row.value("is_try_out").toBool()},
        {QStringLiteral("nodes"), m_catalogue.planNodes(planId)},
    };
}

PanelReply Subscriptions::userSubscriptions(qint64 userId)
{
    QJsonArray list;
    for (const QVariantMap &row : m_storage.rows(
             QStringLiteral("SELECT * FROM user_subscriptions WHERE user_id = ? ORDER BY id"),
             {userId}))
        list.append(itemJson(row));
    return PanelReply::success(
        QJsonObject {{QStringLiteral("list"), list}, {QStringLiteral("total"), list.size()}});
}

PanelReply Subscriptions::claimFree(qint64 userId)
{
    const qint64 planId = m_config.freePlanId();
    if (planId == 0 || !m_catalogue.plan(planId))
        return PanelReply::refusal(QStringLiteral("No free plan is available"));
    const qint64 now = m_clock.now();
    const qint64 claimedAt
        = m_storage
              .value(QStringLiteral("SELECT free_claimed_at FROM users WHERE id = ?"), {userId})
              .toLongLong();
    const qint64 cooldown = m_config.freeCooldown();
    if (claimedAt > 0 && now - claimedAt < cooldown) {
        const qint64 remaining = cooldown - (now - claimedAt);
        const QString style = m_config.freeCooldownStyle();
        if (style == QLatin1String("message"))
            return PanelReply::refusal(
                QStringLiteral("Please wait %1 seconds before claiming again").arg(remaining), 429);
        const QJsonObject data {
            {QStringLiteral("success"), false}, {QStringLiteral("remaining_time"), remaining}};
        if (style == QLatin1String("refusal")) {
            PanelReply reply = PanelReply::success(data);
            reply.replaceMsg(QStringLiteral("The free plan was claimed recently"));
            return reply;
        }
        return PanelReply::success(data);
    }

    const qint64 expireTime = now + m_config.freeDuration();
    const auto existing = m_storage.row(
        QStringLiteral("SELECT id FROM user_subscriptions WHERE user_id = ? AND subscribe_id = ? "
                       "AND is_try_out = 1"),
        {userId, planId});
    if (existing) {
        m_storage.exec(QStringLiteral("UPDATE user_subscriptions SET expire_time = ?, status = 1, "
                                      "updated_at = ? WHERE id = ?"),
            {expireTime, now, existing->value("id")});
    } else {
        const qint64 id = grantUntil(userId, planId, expireTime, 0, 0);
        m_storage.exec(
            QStringLiteral("UPDATE user_subscriptions SET is_try_out = 1 WHERE id = ?"), {id});
    }
    m_storage.exec(
        QStringLiteral("UPDATE users SET free_claimed_at = ? WHERE id = ?"), {now, userId});
    return PanelReply::success(QJsonObject {
        {QStringLiteral("success"), true}, {QStringLiteral("remaining_time"), cooldown}});
}

PanelReply Subscriptions::shareLinks(const QString &token)
{
    if (token.isEmpty())
        return PanelReply::text("missing token\n", 400);
    const auto row = m_storage.row(
        QStringLiteral("SELECT * FROM user_subscriptions WHERE token = ?"), {token});
    if (!row)
        return PanelReply::text("subscription not found\n", 404);
    const qint64 expireTime = row->value("expire_time").toLongLong();
    if (expireTime > 0 && expireTime <= m_clock.now())
        return PanelReply::text("subscription expired\n", 403);
    const QStringList links = m_catalogue.planLinks(row->value("subscribe_id").toLongLong());
    PanelReply reply = PanelReply::text(links.join(QLatin1Char('\n')).toUtf8().toBase64());
    reply.headers.append({"subscription-userinfo",
        QStringLiteral("upload=%1; download=%2; total=%3; expire=%4")
            .arg(row->value("upload").toLongLong())
            .arg(row->value("download").toLongLong())
            .arg(row->value("traffic").toLongLong())
            .arg(expireTime)
            .toLatin1()});
    return reply;
}

qint64 Subscriptions::grant(
    qint64 userId, qint64 planId, qint64 orderId, qint64 quantity, bool tryOut)
{
    const auto plan = m_catalogue.plan(planId);
    if (!plan)
        return 0;
    const qint64 unit = Catalogue::unitSeconds(plan->value("unit_time").toString());
    const qint64 expireTime = unit == 0 ? 0 : m_clock.now() + unit * quantity;
    const qint64 id = grantUntil(userId, planId, expireTime, 0, 0);
    m_storage.exec(
        QStringLiteral("UPDATE user_subscriptions SET order_id = ?, is_try_out = ? WHERE id = ?"),
        {orderId, tryOut ? 1 : 0, id});
    return id;
}

bool Subscriptions::extend(qint64 userSubscribeId, qint64 quantity)
{
    const auto row = subscription(userSubscribeId);
    if (!row)
        return false;
    const auto plan = m_catalogue.plan(row->value("subscribe_id").toLongLong());
    if (!plan)
        return false;
    const qint64 unit = Catalogue::unitSeconds(plan->value("unit_time").toString());
    const qint64 now = m_clock.now();
    const qint64 current = row->value("expire_time").toLongLong();
    // A subscription without expiry stays without one.
    const qint64 expireTime
        = (unit == 0 || current == 0) ? 0 : qMax(now, current) + unit * quantity;
    const bool reset = plan->value("renewal_reset").toBool();
    return m_storage.exec(
        QStringLiteral("UPDATE user_subscriptions SET expire_time = ?, status = 1, updated_at = ?, "
                       "upload = CASE WHEN ? THEN 0 ELSE upload END, "
                       "download = CASE WHEN ? THEN 0 ELSE download END WHERE id = ?"),
        {expireTime, now, reset, reset, userSubscribeId});
}

qint64 Subscriptions::grantUntil(qint64 userId, qint64 planId, qint64 expireTime, qint64 upload,
    qint64 download, const QString &token)
{
    const auto plan = m_catalogue.plan(planId);
    if (!plan)
        return 0;
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO user_subscriptions (user_id, subscribe_id, start_time, "
                       "expire_time, traffic, download, upload, token, status, created_at, "
                       "updated_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 1, ?, ?)"),
        {userId, planId, now, expireTime, plan->value("traffic").toLongLong(), download, upload,
            token.isEmpty() ? uniqueToken() : token, now, now});
    if (id > 0)
        qInfo().noquote() << "[Subscriptions] User" << userId << "holds plan" << planId << "until"
                          << expireTime;
    return qMax<qint64>(id, 0);
}

std::optional<QVariantMap> Subscriptions::subscription(qint64 id)
{
    return m_storage.row(QStringLiteral("SELECT * FROM user_subscriptions WHERE id = ?"), {id});
}
