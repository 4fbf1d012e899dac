#include "configbuilder.h"

#include "debugger.h"
#include "dnsconfig.h"
#include "routeconfig.h"

#include <QHash>
#include <QStandardPaths>

namespace {

// Answers 204 with an empty body; any public endpoint like it will do.
const QString latencyTestUrl = QStringLiteral("https://www.gstatic.com/generate_204");

} // namespace

QJsonObject buildConfig(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &controller, const QString &secret, const QString &selectorTag, bool tun,
    const ProxyAccess &access)
{
    if (tags.isEmpty()) {
        DEBUG_LOG << "No valid configurations found";
        return {};
    }

    QJsonObject config;
    config.insert(QStringLiteral("outbounds"), createOutbounds(outbounds, tags, selectorTag));
    config.insert(QStringLiteral("log"), createLog());
    config.insert(QStringLiteral("dns"), createDNS());
    config.insert(QStringLiteral("inbounds"), createInbounds(tun, access));
    config.insert(QStringLiteral("route"), createRoute(selectorTag));
    config.insert(QStringLiteral("experimental"), createExperimental(controller, secret));
    return config;
}

QJsonArray createOutbounds(
    const QJsonArray &outbounds, const QList<QString> &tags, const QString &selectorTag)
{
    QJsonArray working = outbounds;
    working.append(createSelector(tags, selectorTag));
    working.append(createUrlTest(tags, QStringLiteral("urltest")));
    working.append(createDirect());

    // The engine refuses duplicate tags.
    QJsonArray result;
    QHash<QString, qsizetype> positions;
    positions.reserve(working.size());
    for (const QJsonValue &value : std::as_const(working)) {
        const QJsonObject outbound = value.toObject();
        const QString tag = outbound.value(QLatin1String("tag")).toString();
        const auto found = positions.constFind(tag);
        if (found != positions.constEnd()) {
            result.replace(*found, outbound);
        } else {
            positions.insert(tag, result.size());
            result.append(outbound);
        }
    }
    return result;
}

QJsonObject createSelector(const QList<QString> &tags, const QString &tag)
{
    return {
        {QStringLiteral("type"), QStringLiteral("selector")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("outbounds"), QJsonArray::fromStringList(tags)},
    };
}

QJsonObject createUrlTest(const QList<QString> &tags, const QString &tag)
{
    return {
        {QStringLiteral("type"), QStringLiteral("urltest")},
        {QStringLiteral("tag"), tag},
        {QStringLiteral("outbounds"), QJsonArray::fromStringList(tags)},
        {QStringLiteral("url"), latencyTestUrl},
        {QStringLiteral("interval"), QStringLiteral("3m")},
        {QStringLiteral("tolerance"), 50},
        {QStringLiteral("idle_timeout"), QStringLiteral("30m")},
    };
}

QJsonObject createDirect()
{
    return {
        {QStringLiteral("type"), QStringLiteral("direct")},
        {QStringLiteral("tag"), QStringLiteral("direct")},
    };
}

QJsonObject createLog()
{
    return {
        {QStringLiteral("level"), QStringLiteral("info")},
        {QStringLiteral("timestamp"), true},
    };
}

QJsonArray createInbounds(bool tun, const ProxyAccess &access)
{
    return {tun ? createTun() : createMixedProxy(access)};
}

QJsonObject createTun()
{
    return {
        {QStringLiteral("type"), QStringLiteral("tun")},
        {QStringLiteral("tag"), QStringLiteral("tun-in")},
        {QStringLiteral("address"), QJsonArray {QStringLiteral("172.19.0.1/30")}},
        {QStringLiteral("auto_route"), true},
        {QStringLiteral("strict_route"), true},
        {QStringLiteral("sniff"), true},
        {QStringLiteral("stack"), QStringLiteral("mixed")},
        {QStringLiteral("mtu"), 1500},
        {QStringLiteral("interface_name"), QStringLiteral("tun0")},
    };
}

QJsonObject createMixedProxy(const ProxyAccess &access)
{
    // Loopback unless shared: on every interface an open proxy would carry anyone's traffic and
    // reach this machine's own local services.
    QJsonObject inbound {
        {QStringLiteral("type"), QStringLiteral("mixed")},
        {QStringLiteral("tag"), QStringLiteral("mixed-in")},
        {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("listen_port"), kMixedProxyPort},
        {QStringLiteral("sniff"), true},
    };
    if (access.sharesOnLan()) {
        inbound.insert(QStringLiteral("listen"), QStringLiteral("::"));
        inbound.insert(QStringLiteral("users"),
            QJsonArray {QJsonObject {{QStringLiteral("username"), access.username},
                {QStringLiteral("password"), access.password}}});
    }
    return inbound;
}

QJsonObject createExperimental(const QString &controller, const QString &secret)
{
    QJsonObject experimental {
        {QStringLiteral("cache_file"),
            QJsonObject {{QStringLiteral("enabled"), true},
                {QStringLiteral("path"),
                    QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                        + QStringLiteral("/cache.db")},
                {QStringLiteral("store_fakeip"), true}}},
    };
    if (!controller.isEmpty()) {
        // Written as given, even empty: the engine then runs the API without a secret.
        experimental.insert(QStringLiteral("clash_api"),
            QJsonObject {{QStringLiteral("external_controller"), controller},
                {QStringLiteral("secret"), secret}});
    }
    return experimental;
}
