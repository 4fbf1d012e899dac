#pragma once

#include "panelreply.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class PanelClock;
class PanelRequest;
class PanelStorage;

// What the panel sells: plans with their nodes, payment methods and coupons.
class Catalogue
{
public:
    Catalogue(PanelStorage &storage, PanelClock &clock);

    PanelReply planList(const PanelRequest &request);
    PanelReply paymentMethodList();

    std::optional<QVariantMap> plan(qint64 id);
    std::optional<QVariantMap> paymentMethod(qint64 id);
    std::optional<QVariantMap> coupon(const QString &code);
    QJsonObject planJson(const QVariantMap &plan);
    QJsonObject paymentMethodJson(const QVariantMap &method) const;
    // The plan's nodes as the user-subscription reply lists them.
    QJsonArray planNodes(qint64 planId);
    // The plan's share links, one per node, in node order.
    QStringList planLinks(qint64 planId);

    // Length of one unit of a plan's unit_time in seconds; 0 for a plan that never expires.
    static qint64 unitSeconds(const QString &unitTime);

    // Seeding and administration. `spec` uses the record's keys; "name" may be an object of
    // localised names, which is stored as its JSON text.
    qint64 addPlan(const QJsonObject &spec, QString *error);
    qint64 addNode(const QJsonObject &spec, QString *error);
    bool attachNode(qint64 planId, qint64 nodeId);
    qint64 addPaymentMethod(const QJsonObject &spec, QString *error);
    // A disabled method is neither listed nor accepted for new orders.
    bool setPaymentMethodEnabled(qint64 id, bool enabled);
    bool addCoupon(const QJsonObject &spec, QString *error);

private:
    PanelStorage &m_storage;
    PanelClock &m_clock;
};
