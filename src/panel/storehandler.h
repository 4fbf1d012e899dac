#pragma once

#include "network/api.h"
#include "panel/orderstatuslatch.h"

#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <vector>

class AuthHandler;
class NetworkError;
class SubscribeHandler;

// The store: site configuration (currency symbol), plan catalogue and payment methods, each
// cached for a while and, where they belong to the account, dropped on every sign-in state
// change; price previews for the whole catalogue; orders (new or renewal), checkout to a payment
// page or the balance, and the order-status poll of the payment view.
class StoreHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QStringList subscriptionNames READ subscriptionNames NOTIFY subscriptionsChanged)
    Q_PROPERTY(QStringList paymentMethodNames READ paymentMethodNames NOTIFY paymentMethodsChanged)
    Q_PROPERTY(
        bool hasBalancePaymentMethod READ hasBalancePaymentMethod NOTIFY paymentMethodsChanged)
    Q_PROPERTY(double calculatedAmount READ calculatedAmount NOTIFY preOrderChanged)
    Q_PROPERTY(double calculatedPrice READ calculatedPrice NOTIFY preOrderChanged)
    Q_PROPERTY(double couponDiscount READ couponDiscount NOTIFY preOrderChanged)
    Q_PROPERTY(QString currencySymbol READ currencySymbol NOTIFY siteConfigChanged)
    Q_PROPERTY(int orderPreviewRevision READ orderPreviewRevision NOTIFY orderPreviewChanged)

public:
    // The catalogue is always asked for in this language; names carry their own translations.
    static inline const QString kSubscriptionCatalogLanguage = QStringLiteral("zh-CN");
    static constexpr qint64 kSiteConfigMaxAgeMs = 1800000;
    static constexpr qint64 kCatalogueMaxAgeMs = 600000;
    static constexpr qint64 kPaymentMethodsMaxAgeMs = 600000;

    // Tests build their own with their own session; the program uses getInstance(). nodes may be
    // null: then nothing refreshes the caches after a node fetch.
    StoreHandler(AuthHandler *auth, SubscribeHandler *nodes, QObject *parent = nullptr);
    static StoreHandler *getInstance();

    bool isLoading() const { return m_isLoading; }
    QStringList subscriptionNames() const;
    // In the UI language stored in the settings, read at each call.
    QStringList paymentMethodNames() const;
    bool hasBalancePaymentMethod() const { return m_balancePaymentMethodId != 0; }
    double calculatedAmount() const { return m_preOrder.amount / 100.0; }
    double calculatedPrice() const { return m_preOrder.price / 100.0; }
    double couponDiscount() const { return m_preOrder.coupon_discount / 100.0; }
    QString currencySymbol() const { return m_currencySymbol; }
    int orderPreviewRevision() const { return m_orderPreviewRevision; }

    // True when fetched or still fresh in the cache.
    Q_INVOKABLE bool fetchSiteConfig();
    Q_INVOKABLE bool fetchSubscriptions();
    Q_INVOKABLE bool fetchPaymentMethods();
    // The price of the plan being bought; only coupon-free prices go into the preview cache.
    Q_INVOKABLE bool preCreateOrder(
        int subscribeId, int quantity, int paymentId, const QString &coupon = QString());
    // A renewal when the account already holds the plan, else a new purchase.
    Q_INVOKABLE bool createOrder(
        int subscribeId, int quantity, int paymentId, const QString &coupon = QString());
    Q_INVOKABLE bool createBalanceOrder(int subscribeId, int quantity);
    Q_INVOKABLE bool checkoutOrder(const QString &orderNo);
    // One poll. True without a request while an earlier poll still waits for its reply.
    Q_INVOKABLE bool fetchOrderStatus(const QString &orderNo);
    Q_INVOKABLE void cancelOrderStatusPolling();
    // Empty maps outside the lists.
    Q_INVOKABLE QVariantMap getSubscription(int index) const;
    Q_INVOKABLE QVariantMap getPaymentMethod(int index) const;
    // Silent background price for one catalogue row; reports nothing on failure.
    Q_INVOKABLE bool fetchOrderPreview(int subscribeId, int quantity, int paymentId);
    // Empty until fetchOrderPreview or a coupon-free preCreateOrder has stored it.
    Q_INVOKABLE QVariantMap getOrderPreview(int subscribeId, int quantity, int paymentId) const;

signals:
    void isLoadingChanged();
    void siteConfigChanged();
    void subscriptionsChanged();
    void paymentMethodsChanged();
    void preOrderChanged();
    void orderPreviewChanged();
    void orderCreated(QString orderNo);
    void checkoutReady(QString checkoutUrl);
    void balanceCheckoutCompleted(QString orderNo);
    void orderStatusUpdated(QString orderNo, int status);
    void orderStatusFailed(QString orderNo, QString error);
    void operationFailed(QString error);

private:
    // The reply of send() when its msg is "success"; otherwise the failure is reported (the
    // reply's msg, or failureText when it has none), loading cleared and nothing returned.
    std::optional<QJsonObject> exchange(
        const std::function<QJsonObject()> &send, const QString &failureText);
    // "data"."list" of an authorised GET, with one retry on a renewed token.
    std::optional<QJsonArray> fetchUserList(const QUrl &url, const QString &failureText);
    // The held subscription of the plan to renew (a running one first, else the first held),
    // 0 for a new purchase; false (already reported) when the panel cannot tell.
    bool resolveRenewalUserSubscribeId(int subscribeId, int &userSubscribeId);
    // Authorised POSTs; throw NetworkError.
    QJsonObject post(const QString &endpoint, const QByteArray &body) const;
    QJsonObject requestPreview(
        int subscribeId, int quantity, int paymentId, const QString &coupon) const;

    static bool isCacheFresh(qint64 timestamp, qint64 maxAgeMs);
    void setLoading(bool loading);
    void handleNetworkError(const NetworkError &error);
    // Not signed in: reported, false.
    bool signedIn();
    bool failWith(const QString &error);
    // Empties the preview cache; true when it held entries.
    bool clearPreviewCache();
    void announcePreviewChange();
    void storePreview(const QString &key, const API::PreOrderData &preview);
    void finishListFetch();
    void invalidateUserCache();
    void queueStoreRefresh();

    AuthHandler *m_auth = nullptr;
    bool m_isLoading = false;
    QString m_currencySymbol = QStringLiteral("$");
    std::vector<API::Subscribe> m_catalogue;
    std::vector<API::PaymentMethod> m_paymentMethods;
    std::vector<int> m_paymentMethodIds;
    int m_balancePaymentMethodId = 0;
    API::PreOrderData m_preOrder;
    QHash<QString, API::PreOrderData> m_orderPreviewCache;
    OrderStatusLatch m_statusPolling;
    int m_orderPreviewRevision = 0;
    qint64 m_siteConfigFetchedAt = 0;
    qint64 m_catalogueFetchedAt = 0;
    qint64 m_paymentMethodsFetchedAt = 0;
    QString m_catalogueLanguage;
    QString m_catalogueUserEmail;
    QString m_paymentMethodsUserEmail;
};
