#pragma once

#include "panelreply.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <optional>

class Catalogue;
class PanelClock;
class PanelConfig;
class PanelStorage;
class Subscriptions;

// Orders: price previews, purchase and renewal orders, checkout, order detail and settling.
class Orders
{
public:
    enum Status
    {
        Pending = 1,
        Paid = 2,
        Closed = 3,
        Failed = 4,
        Finished = 5
    };
    enum Type
    {
        Purchase = 1,
        Renewal = 2
    };

    struct Quote
    {
        qint64 price = 0;
        qint64 discount = 0;
        QString coupon;
        qint64 couponDiscount = 0;
        qint64 fee = 0;
        qint64 amount = 0;
    };

    Orders(PanelStorage &storage, PanelConfig &config, PanelClock &clock, Catalogue &catalogue,
        Subscriptions &subscriptions);

    // Where checkout_url points: the panel's own payment page under this base.
    void setPaymentBaseUrl(const QString &baseUrl) { m_paymentBaseUrl = baseUrl; }

    PanelReply preview(qint64 userId, const QByteArray &body);
    PanelReply purchase(qint64 userId, const QByteArray &body);
    PanelReply renewal(qint64 userId, const QByteArray &body);
    PanelReply checkout(qint64 userId, const QByteArray &body);
    PanelReply detail(qint64 userId, const QString &orderNo);

    // The order, with a pending order past its payment window closed first.
    std::optional<QVariantMap> order(const QString &orderNo);
    // Pays (granting or extending the subscription) or fails a pending order. Returns a problem
    // text, empty on success.
    QString settle(const QString &orderNo, bool paid);
    bool setStatus(const QString &orderNo, int status);

    // The price of `quantity` units of a plan; a problem text instead when something is wrong.
    QString quote(
        qint64 planId, qint64 quantity, qint64 paymentId, const QString &coupon, Quote &out);

private:
    PanelReply createOrder(qint64 userId, const QByteArray &body, Type type);
    QString finish(const QVariantMap &order);
    QString uniqueOrderNo();
    QJsonObject detailJson(const QVariantMap &order);

    PanelStorage &m_storage;
    PanelConfig &m_config;
    PanelClock &m_clock;
    Catalogue &m_catalogue;
    Subscriptions &m_subscriptions;
    QString m_paymentBaseUrl;
};
