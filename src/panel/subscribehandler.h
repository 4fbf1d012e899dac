#pragma once

#include "network/api.h"
#include "subscription/rememberedselection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <vector>

class AuthHandler;
class SubscriptionHandler;

// A panel time in milliseconds: values from 1 to 99999999999 are seconds, anything else (0,
// negative, larger) is already milliseconds.
qint64 normalizedPanelTime(qint64 value);

// The first "<n> second(s)" of a panel message as a number above 0, or 0.
qint64 cooldownSecondsFromMessage(const QString &message);

// The signed-in user's subscriptions from the panel, downloaded into the local store, and the
// node clusters of each; also the free trial claim. It shows the remembered node choice per
// subscription, which the tunnel controller records and reads back after connecting.
class SubscribeHandler
    : public QObject
    , public RememberedSelection
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(int subscriptionCount READ subscriptionCount NOTIFY subscriptionsChanged)
    Q_PROPERTY(int rememberedSelectionRevision READ rememberedSelectionRevision NOTIFY
            rememberedSelectionChanged)
    // The list shown is the one kept from the last fetch: the panel could not be reached.
    Q_PROPERTY(bool offline READ offline NOTIFY offlineChanged)

public:
    // Tests build their own with their own session and store; the program uses getInstance().
    SubscribeHandler(AuthHandler *auth, SubscriptionHandler *store, QObject *parent = nullptr);
    static SubscribeHandler *getInstance();

    bool isLoading() const { return m_isLoading; }
    int subscriptionCount() const { return int(m_subscriptions.size()); }
    bool offline() const { return m_offline; }
    // The first wait before fetching again while offline; it doubles up to five minutes.
    void setRetryDelay(int milliseconds) { m_firstRetryMs = milliseconds; }

    // Refreshes the cache from the panel and downloads every valid subscription into the local
    // store. True while a fetch is already running (that one reports).
    Q_INVOKABLE bool fetchNodes();
    Q_INVOKABLE bool claimFreeSubscription();
    // Empty map outside the cache.
    Q_INVOKABLE QVariantMap getSubscription(int index) const;
    // The clusters of the stored subscription, in display order.
    Q_INVOKABLE QVariantList getNodes(int subscriptionIndex) const;
    Q_INVOKABLE QString clusterForTag(int subscriptionIndex, const QString &tag) const;
    Q_INVOKABLE QString randomTagForCluster(int subscriptionIndex, const QString &cluster) const;
    Q_INVOKABLE QString randomTagForSubscription(int subscriptionIndex) const;
    Q_INVOKABLE bool rememberedAutoForSubscription(const QString &subscriptionUrl) const
    {
        return RememberedSelection::rememberedAutoForSubscription(subscriptionUrl);
    }
    Q_INVOKABLE QString rememberedClusterForSubscription(const QString &subscriptionUrl) const
    {
        return RememberedSelection::rememberedClusterForSubscription(subscriptionUrl);
    }
    Q_INVOKABLE QString clusterFlagIconPath(const QString &cluster) const;
    Q_INVOKABLE QString clusterDisplayName(const QString &cluster, const QString &language) const;

    // "/api/subscribe?token=..." of the cache entry; empty out of range or without a token.
    QString getSubscriptionUrl(int index) const;
    // Forgets the panel's subscriptions (not the local store); on every sign-in state change.
    void invalidateCache();

signals:
    void isLoadingChanged();
    void subscriptionsChanged();
    void nodesFetched();
    void fetchFailed(QString error);
    void freeSubscriptionClaimed();
    void freeSubscriptionClaimUnavailable(qint64 remainingSeconds);
    void freeSubscriptionClaimFailed(QString error);
    void rememberedSelectionChanged();
    void offlineChanged();

protected:
    void rememberedSelectionRecorded() override { emit rememberedSelectionChanged(); }

private:
    struct SubscribeReply
    {
        QString msg;
        std::vector<API::UserSubscribeItem> list;
    };

    // The request routine of the auth-failure recovery; throws NetworkError.
    static SubscribeReply requestUserSubscriptions(const QString &token);
    static QString subscriptionUrlFor(const QString &token);
    bool fetchFailedWith(const QString &error);
    void setLoading(bool loading);
    void replaceCache(std::vector<API::UserSubscribeItem> items);
    QStringList storedTags(int subscriptionIndex) const;
    // Serves the account's kept list when the panel cannot be reached; false when there is none.
    bool serveKeptList();
    void setOffline(bool offline);

    AuthHandler *m_auth = nullptr;
    SubscriptionHandler *m_store = nullptr;
    bool m_isLoading = false;
    std::vector<API::UserSubscribeItem> m_subscriptions;
    bool m_offline = false;
    QTimer m_retry;
    int m_firstRetryMs = 5000;
    int m_retryMs = 0;
};
