#pragma once

#include "panelreply.h"

#include <QJsonObject>
#include <QVariantMap>

#include <optional>

class Catalogue;
class PanelClock;
class PanelConfig;
class PanelStorage;

// The plans a user holds: the user-subscription list, the free trial and the share-link download
// that a subscription's token opens.
class Subscriptions
{
public:
    Subscriptions(
        PanelStorage &storage, PanelConfig &config, PanelClock &clock, Catalogue &catalogue);

    PanelReply userSubscriptions(qint64 userId);
    PanelReply claimFree(qint64 userId);
    // "/api/subscribe?token=": the Base64 text of the subscription's share links.
    PanelReply shareLinks(const QString &token);

    // A new subscription of `planId` lasting `quantity` units of the plan's unit_time.
    qint64 grant(
        qint64 userId, qint64 planId, qint64 orderId, qint64 quantity, bool tryOut = false);
    // Adds `quantity` units, counted from the later of now and the current expiry.
    bool extend(qint64 userSubscribeId, qint64 quantity);
    // Administration: a subscription with an exact expiry (0: never) and usage figures.
    qint64 grantUntil(qint64 userId, qint64 planId, qint64 expireTime, qint64 upload,
        qint64 download, const QString &token = {});
    std::optional<QVariantMap> subscription(qint64 id);

private:
    QJsonObject itemJson(const QVariantMap &row);
    qint64 nextResetTime(const QVariantMap &row) const;
    QString uniqueToken();

    PanelStorage &m_storage;
    PanelConfig &m_config;
    PanelClock &m_clock;
    Catalogue &m_catalogue;
};
