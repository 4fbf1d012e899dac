#include "config/configbuilder.h"

#include "base/debugger.h"
#include "config/dnsconfig.h"
#include "config/nodeclusters.h"
#include "config/routeconfig.h"

#include <QDebug>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace {

const QString kDefaultTestInterval = QStringLiteral("3m");

// The interval of the latency test groups; QIVRO_URLTEST_INTERVAL shortens it for tests.
QString testInterval()
{
    static const QString interval = [] {
        const QString configured = qEnvironmentVariable("QIVRO_URLTEST_INTERVAL");
        if (configured.isEmpty())
            return kDefaultTestInterval;
        // Never above the idle timeout, which the engine would refuse.
        static const QRegularExpression duration(
            QStringLiteral("^([1-9][0-9]{0,4}(ms|s)|([1-9]|[12][0-9]|30)m)$"));
        if (duration.match(configured).hasMatch())
            return configured;
        qWarning().noquote() << "[Config] QIVRO_URLTEST_INTERVAL ignored:" << configured;
        return kDefaultTestInterval;
    }();
    return interval;
}

// A group prefers earlier members within its tolerance and uses the first before its first
// test: nodes that answered or were never tried come first, VIP ones ahead.
QList<QString> groupOrder(QList<QString> tags, const QList<QString> &unanswered)
{
    const auto answering = std::stable_partition(tags.begin(), tags.end(),
        [&unanswered](const QString &tag) { return !unanswered.contains(tag); });
    std::stable_partition(tags.begin(), answering, isVipTag);
    return tags;
}

} // namespace

const QString autoGroupTag = QStringLiteral("urltest");

QString latencyTestUrl()
{
    // Answers 204 with an empty body; any public endpoint like it will do.
    return QStringLiteral("https://www.gstatic.com/generate_204");
}

QString clusterGroupTag(const QString &cluster)
{
    return autoGroupTag + QLatin1Char(':') + cluster;
}

QStringList clusterGroupTags(const QList<QString> &tags)
{
    QStringList groups;
    for (const QString &tag : tags) {
        const QString group = clusterGroupTag(clusterFromTag(tag));
        if (!groups.contains(group))
            groups.append(group);
    }
    return groups;
}

QJsonObject buildConfig(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &controller, const QString &secret, const QString &selectorTag, bool tun,
    const ProxyAccess &access, const QList<QString> &unanswered)
{
    if (tags.isEmpty()) {
        DEBUG_LOG << "No valid configurations found";
        return {};
    }

    QJsonObject config;
    config.insert(
        QStringLiteral("outbounds"), createOutbounds(outbounds, tags, selectorTag, unanswered));
    config.insert(QStringLiteral("log"), createLog());
    config.insert(QStringLiteral("dns"), createDNS());
    config.insert(QStringLiteral("inbounds"), createInbounds(tun, access));
    config.insert(QStringLiteral("route"), createRoute(selectorTag));
    config.insert(QStringLiteral("experimental"), createExperimental(controller, secret));
    return config;
}

QJsonArray createOutbounds(const QJsonArray &outbounds, const QList<QString> &tags,
    const QString &selectorTag, const QList<QString> &unanswered)
{
    const QStringList groups = clusterGroupTags(tags);
    QJsonArray working = outbounds;
    working.append(createSelector(QList<QString> {autoGroupTag} + groups + tags, selectorTag));
    working.append(createUrlTest(groupOrder(tags, unanswered), autoGroupTag));
    for (const QString &group : groups) {
        const QString cluster = group.mid(autoGroupTag.size() + 1);
        working.append(createUrlTest(groupOrder(tagsInCluster(tags, cluster), unanswered), group));
    }
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
        {QStringLiteral("url"), latencyTestUrl()},
        {QStringLiteral("interval"), testInterval()},
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

int localProxyPort(const ProxyAccess &access)
{
    return access.sharesOnLan() ? kLoopbackProxyPort : kMixedProxyPort;
}

QJsonArray createInbounds(bool tun, const ProxyAccess &access)
{
    if (tun)
        return {createTun()};
    QJsonArray inbounds {createMixedProxy(access)};
    if (access.sharesOnLan()) {
        inbounds.append(QJsonObject {
            {QStringLiteral("type"), QStringLiteral("mixed")},
            {QStringLiteral("tag"), QStringLiteral("mixed-local")},
            {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("listen_port"), kLoopbackProxyPort},
            {QStringLiteral("sniff"), true},
        });
    }
    return inbounds;
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
