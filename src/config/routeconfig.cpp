#include "config/routeconfig.h"

#include "config/ruledirectory.h"

#include <QJsonArray>

QJsonObject createRoute(const QString &finalOutbound)
{
    const QString directory = extractRuleSets();
    const RuleSetListing listing = listRuleSets(directory);

    QJsonArray ruleSets;
    for (const QString &name : listing.fileNames) {
        ruleSets.append(QJsonObject {
            {QStringLiteral("tag"), ruleSetTag(name)},
            {QStringLiteral("type"), QStringLiteral("local")},
            {QStringLiteral("format"), QStringLiteral("binary")},
            {QStringLiteral("path"), directory + QLatin1Char('/') + name},
        });
    }

    QJsonArray rules {
        QJsonObject {{QStringLiteral("protocol"), QStringLiteral("dns")},
            {QStringLiteral("action"), QStringLiteral("hijack-dns")}},
        QJsonObject {{QStringLiteral("ip_is_private"), true},
            {QStringLiteral("outbound"), QStringLiteral("direct")}},
    };
    if (!listing.domainTags.isEmpty()) {
        rules.append(QJsonObject {
            {QStringLiteral("rule_set"), QJsonArray::fromStringList(listing.domainTags)},
            {QStringLiteral("outbound"), QStringLiteral("direct")}});
    }
    if (!listing.addressTags.isEmpty()) {
        rules.append(QJsonObject {
            {QStringLiteral("rule_set"), QJsonArray::fromStringList(listing.addressTags)},
            {QStringLiteral("outbound"), QStringLiteral("direct")}});
    }

    QJsonObject route {
        {QStringLiteral("rules"), rules},
        {QStringLiteral("final"), finalOutbound},
        {QStringLiteral("auto_detect_interface"), true},
    };
    if (!ruleSets.isEmpty())
        route.insert(QStringLiteral("rule_set"), ruleSets);
    return route;
}
