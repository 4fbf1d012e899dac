#include "config/dnsconfig.h"

#include "config/ruledirectory.h"

#include <QJsonArray>

QJsonObject createDNS()
{
    const QJsonArray servers {
        QJsonObject {{QStringLiteral("tag"), QStringLiteral("dns_fakeip")},
            {QStringLiteral("address"), QStringLiteral("fakeip")}},
        QJsonObject {{QStringLiteral("tag"), QStringLiteral("dns_proxy")},
            {QStringLiteral("address"), QStringLiteral("https://1.1.1.1/dns-query")},
            {QStringLiteral("address_resolver"), QStringLiteral("dns_direct")},
            // The selector's tag as the tunnel controller fixes it, not the route's final.
            {QStringLiteral("detour"), QStringLiteral("proxy")}},
        QJsonObject {{QStringLiteral("tag"), QStringLiteral("dns_direct")},
            {QStringLiteral("address"), QStringLiteral("223.5.5.5")},
            {QStringLiteral("detour"), QStringLiteral("direct")}},
    };

    const RuleSetListing listing = listRuleSets(extractRuleSets());

    QJsonArray rules {
        QJsonObject {{QStringLiteral("outbound"), QStringLiteral("any")},
            {QStringLiteral("server"), QStringLiteral("dns_direct")}},
    };
    if (!listing.domainTags.isEmpty()) {
        rules.append(QJsonObject {
            {QStringLiteral("rule_set"), QJsonArray::fromStringList(listing.domainTags)},
            {QStringLiteral("server"), QStringLiteral("dns_direct")}});
    }
    rules.append(QJsonObject {
        {QStringLiteral("query_type"), QJsonArray {QStringLiteral("A"), QStringLiteral("AAAA")}},
        {QStringLiteral("server"), QStringLiteral("dns_fakeip")}});

    return QJsonObject {
        {QStringLiteral("servers"), servers},
        {QStringLiteral("rules"), rules},
        {QStringLiteral("final"), QStringLiteral("dns_proxy")},
        {QStringLiteral("fakeip"),
            QJsonObject {{QStringLiteral("enabled"), true},
                {QStringLiteral("inet4_range"), QStringLiteral("198.18.0.0/15")},
                {QStringLiteral("inet6_range"), QStringLiteral("fc00::/18")}}},
        {QStringLiteral("independent_cache"), true},
    };
}
