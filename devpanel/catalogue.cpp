#include "catalogue.h"

#include "bodyreader.h"
#include "panelclock.h"
#include "panelrequest.h"
#include "panelstorage.h"

#include <QJsonDocument>

namespace {

QJsonArray jsonArray(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

QString compact(const QJsonValue &value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toString();
}

qint64 integerOr(const QJsonObject &spec, const char *key, qint64 fallback)
{
    const QJsonValue value = spec.value(QLatin1String(key));
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    return BodyReader::wholeNumber(value).value_or(fallback);
}

} // namespace

Catalogue::Catalogue(PanelStorage &storage, PanelClock &clock)
    : m_storage(storage)
    , m_clock(clock)
{ }

qint64 Catalogue::unitSeconds(const QString &unitTime)
{
    const QString unit = unitTime.toLower();
    if (unit == QLatin1String("minute"))
        return 60;
    if (unit == QLatin1String("hour"))
        return 3600;
    if (unit == QLatin1String("day"))
        return 86400;
    if (unit == QLatin1String("week"))
        return 7 * 86400;
    if (unit == QLatin1String("month"))
        return 30 * 86400;
    if (unit == QLatin1String("year"))
        return 365 * 86400;
    return 0;
}

PanelReply Catalogue::planList(const PanelRequest &request)
{
    // Names are stored as sent (text or an object of localised names); the language only tells
    // which description a real panel would pick, and every plan here has one description.
    Q_UNUSED(request);
    QJsonArray list;
    for (const QVariantMap &row :
        m_storage.rows(QStringLiteral("SELECT * FROM plans WHERE show = 1 ORDER BY sort, id")))
        list.append(planJson(row));
    return PanelReply::success(
        QJsonObject {{QStringLiteral("list"), list}, {QStringLiteral("total"), list.size()}});
}

QJsonObject Catalogue::planJson(const QVariantMap &plan)
{
    const qint64 id = plan.value("id").toLongLong();
    QJsonArray nodeIds;
    for (const QVariantMap &row : m_storage.rows(
             QStringLiteral("SELECT node_id FROM plan_nodes WHERE plan_id = ? ORDER BY node_id"),
             {id}))
        nodeIds.append(row.value("node_id").toLongLong());
    return QJsonObject {
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), plan.value("name").toString()},
        {QStringLiteral("language"), QString()},
        {QStringLiteral("description"), plan.value("description").toString()},
        {QStringLiteral("unit_price"), plan.value("unit_price").toLongLong()},
        {QStringLiteral("unit_time"), plan.value("unit_time").toString()},
        {QStringLiteral("discount"), jsonArray(plan.value("discount").toString())},
        {QStringLiteral("replacement"), 0},
        {QStringLiteral("inventory"), plan.value("inventory").toLongLong()},
        {QStringLiteral("traffic"), plan.value("traffic").toLongLong()},
        {QStringLiteral("speed_limit"), plan.value("speed_limit").toLongLong()},
        {QStringLiteral("device_limit"), plan.value("device_limit").toLongLong()},
        {QStringLiteral("quota"), plan.value("quota").toLongLong()},
        {QStringLiteral("nodes"), nodeIds},
        {QStringLiteral("node_tags"), QJsonArray()},
        {QStringLiteral("show"), plan.value("show").toBool()},
        {QStringLiteral("sell"), plan.value("sell").toBool()},
        {QStringLiteral("sort"), plan.value("sort").toLongLong()},
        {QStringLiteral("deduction_ratio"), 0},
        {QStringLiteral("allow_deduction"), false},
        {QStringLiteral("reset_cycle"), plan.value("reset_cycle").toLongLong()},
        {QStringLiteral("renewal_reset"), plan.value("renewal_reset").toBool()},
        {QStringLiteral("show_original_price"), false},
        {QStringLiteral("created_at"), plan.value("created_at").toLongLong()},
        {QStringLiteral("updated_at"), plan.value("updated_at").toLongLong()},
    };
}

PanelReply Catalogue::paymentMethodList()
{
    QJsonArray list;
    for (const QVariantMap &row : m_storage.rows(
             QStringLiteral("SELECT * FROM payment_methods WHERE enabled = 1 ORDER BY id")))
        list.append(paymentMethodJson(row));
    return PanelReply::success(QJsonObject {{QStringLiteral("list"), list}});
}

QJsonObject Catalogue::paymentMethodJson(const QVariantMap &method) const
{
    return QJsonObject {
        {QStringLiteral("id"), method.value("id").toLongLong()},
        {QStringLiteral("name"), method.value("name").toString()},
        {QStringLiteral("platform"), method.value("platform").toString()},
        {QStringLiteral("description"), method.value("description").toString()},
        {QStringLiteral("icon"), method.value("icon").toString()},
        {QStringLiteral("fee_mode"), method.value("fee_mode").toLongLong()},
        {QStringLiteral("fee_percent"), method.value("fee_percent").toDouble()},
        {QStringLiteral("fee_amount"), method.value("fee_amount").toLongLong()},
    };
}

std::optional<QVariantMap> Catalogue::plan(qint64 id)
{
    return m_storage.row(QStringLiteral("SELECT * FROM plans WHERE id = ?"), {id});
}

std::optional<QVariantMap> Catalogue::paymentMethod(qint64 id)
{
    return m_storage.row(
        QStringLiteral("SELECT * FROM payment_methods WHERE id = ? AND enabled = 1"), {id});
}

std::optional<QVariantMap> Catalogue::coupon(const QString &code)
{
    return m_storage.row(QStringLiteral("SELECT * FROM coupons WHERE code = ?"), {code});
}

QJsonArray Catalogue::planNodes(qint64 planId)
{
    QJsonArray nodes;
    for (const QVariantMap &row : m_storage.rows(
             QStringLiteral("SELECT n.* FROM nodes n JOIN plan_nodes p ON p.node_id = n.id "
                            "WHERE p.plan_id = ? ORDER BY n.id"),
             {planId})) {
        nodes.append(QJsonObject {
            {QStringLiteral("id"), row.value("id").toLongLong()},
            {QStringLiteral("name"), row.value("name").toString()},
            {QStringLiteral("uuid"), row.value("uuid").toString()},
            {QStringLiteral("protocol"), row.value("protocol").toString()},
            {QStringLiteral("port"), row.value("port").toLongLong()},
            {QStringLiteral("address"), row.value("address").toString()},
            {QStringLiteral("tags"), jsonArray(row.value("tags").toString())},
            {QStringLiteral("country"), row.value("country").toString()},
            {QStringLiteral("city"), row.value("city").toString()},
            {QStringLiteral("created_at"), row.value("created_at").toLongLong()},
        });
    }
    return nodes;
}

QStringList Catalogue::planLinks(qint64 planId)
{
    QStringList links;
    for (const QVariantMap &row : m_storage.rows(
             QStringLiteral("SELECT n.link FROM nodes n JOIN plan_nodes p ON p.node_id = n.id "
                            "WHERE p.plan_id = ? ORDER BY n.id"),
             {planId}))
        links.append(row.value("link").toString());
    return links;
}

qint64 Catalogue::addPlan(const QJsonObject &spec, QString *error)
{
    const QJsonValue name = spec.value(QStringLiteral("name"));
    const QString unitTime
        = spec.value(QStringLiteral("unit_time")).toString(QStringLiteral("Month"));
    if (!(name.isString() && !name.toString().isEmpty()) && !name.isObject()) {
        *error = QStringLiteral("A plan needs a name");
        return 0;
    }
    if (unitSeconds(unitTime) == 0 && unitTime != QLatin1String("NoLimit")) {
        *error = QStringLiteral("Unknown unit_time: %1").arg(unitTime);
        return 0;
    }
    const qint64 now = m_clock.now();
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO plans (name, description, unit_price, unit_time, discount, "
                       "traffic, speed_limit, device_limit, inventory, quota, show, sell, sort, "
                       "reset_cycle, renewal_reset, created_at, updated_at) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {compact(name), spec.value(QStringLiteral("description")).toString(),
            qBound(qint64(0), integerOr(spec, "unit_price", 0), qint64(100000000)), unitTime,
            compact(spec.value(QStringLiteral("discount")).toArray()),
            integerOr(spec, "traffic", 0), integerOr(spec, "speed_limit", 0),
            integerOr(spec, "device_limit", 0), integerOr(spec, "inventory", -1),
            integerOr(spec, "quota", 0), integerOr(spec, "show", 1), integerOr(spec, "sell", 1),
            integerOr(spec, "sort", 0), integerOr(spec, "reset_cycle", 0),
            integerOr(spec, "renewal_reset", 0), now, now});
    if (id <= 0)
        *error = QStringLiteral("Cannot store the plan");
    return qMax<qint64>(id, 0);
}

qint64 Catalogue::addNode(const QJsonObject &spec, QString *error)
{
    const QString link = spec.value(QStringLiteral("link")).toString();
    const QString name = spec.value(QStringLiteral("name")).toString();
    if (!link.contains(QLatin1String("://")) || name.isEmpty()) {
        *error = QStringLiteral("A node needs a name and a share link");
        return 0;
    }
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO nodes (name, protocol, address, port, uuid, country, city, "
                       "tags, link, created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {name, spec.value(QStringLiteral("protocol")).toString(),
            spec.value(QStringLiteral("address")).toString(), integerOr(spec, "port", 0),
            spec.value(QStringLiteral("uuid")).toString(),
            spec.value(QStringLiteral("country")).toString(),
            spec.value(QStringLiteral("city")).toString(),
            compact(spec.value(QStringLiteral("tags")).toArray()), link, m_clock.now()});
    if (id <= 0)
        *error = QStringLiteral("Cannot store the node");
    return qMax<qint64>(id, 0);
}

bool Catalogue::attachNode(qint64 planId, qint64 nodeId)
{
    return m_storage.exec(
        QStringLiteral("INSERT OR IGNORE INTO plan_nodes (plan_id, node_id) VALUES (?, ?)"),
        {planId, nodeId});
}

qint64 Catalogue::addPaymentMethod(const QJsonObject &spec, QString *error)
{
    const QString name = compact(spec.value(QStringLiteral("name")));
    const QString platform = spec.value(QStringLiteral("platform")).toString();
    if (name.isEmpty() || platform.isEmpty()) {
        *error = QStringLiteral("A payment method needs a name and a platform");
        return 0;
    }
    const qint64 id = m_storage.insert(
        QStringLiteral("INSERT INTO payment_methods (name, platform, description, icon, fee_mode, "
                       "fee_percent, fee_amount, enabled) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
        {name, platform, spec.value(QStringLiteral("description")).toString(),
            spec.value(QStringLiteral("icon")).toString(), integerOr(spec, "fee_mode", 0),
            spec.value(QStringLiteral("fee_percent")).toDouble(), integerOr(spec, "fee_amount", 0),
            integerOr(spec, "enabled", 1)});
    if (id <= 0)
        *error = QStringLiteral("Cannot store the payment method");
    return qMax<qint64>(id, 0);
}

bool Catalogue::setPaymentMethodEnabled(qint64 id, bool enabled)
{
    return m_storage.value(QStringLiteral("SELECT 1 FROM payment_methods WHERE id = ?"), {id})
               .isValid()
        && m_storage.exec(QStringLiteral("UPDATE payment_methods SET enabled = ? WHERE id = ?"),
            {enabled ? 1 : 0, id});
}

bool Catalogue::addCoupon(const QJsonObject &spec, QString *error)
{
    const QString code = spec.value(QStringLiteral("code")).toString();
    const qint64 kind = integerOr(spec, "kind", 0);
    const qint64 value = integerOr(spec, "value", 0);
    if (code.isEmpty() || (kind != 1 && kind != 2) || value <= 0 || (kind == 1 && value > 100)) {
        *error
            = QStringLiteral("A coupon needs a code, kind 1 (percent) or 2 (amount) and a value");
        return false;
    }
    const bool stored = m_storage.exec(
        QStringLiteral("INSERT OR REPLACE INTO coupons (code, kind, value, plans, remaining, "
                       "expire_at) VALUES (?, ?, ?, ?, ?, ?)"),
        {code, kind, value, compact(spec.value(QStringLiteral("plans")).toArray()),
            integerOr(spec, "remaining", -1), integerOr(spec, "expire_at", 0)});
    if (!stored)
        *error = QStringLiteral("Cannot store the coupon");
    return stored;
}
