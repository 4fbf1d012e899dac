#include "panel/subscribehandler.h"

#include "base/debugger.h"
#include "config/nodeclusters.h"
#include "network/apiendpoints.h"
#include "network/authfailure.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "panel/accountsubscriptions.h"
#include "panel/authhandler.h"
#include "subscription/subscriptionhandler.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>
#include <QUrlQuery>

#include <utility>

namespace {

const QString kAuthExpired = QStringLiteral("Authentication expired, please log in again");
const QString kNotLoggedIn = QStringLiteral("Not logged in");
constexpr qint64 kLargestSeconds = 99999999999LL;
constexpr int kLongestRetryMs = 5 * 60 * 1000;

bool isValidSubscription(const API::UserSubscribeItem &item, qint64 nowMs)
{
    if (item.token.isEmpty())
        return false;
    return item.expire_time <= 0 || nowMs < normalizedPanelTime(item.expire_time);
}

} // namespace

qint64 normalizedPanelTime(qint64 value)
{
    if (value >= 1 && value <= kLargestSeconds)
        return value * 1000;
    return value;
}

qint64 cooldownSecondsFromMessage(const QString &message)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\b(\\d+)\\s+seconds?\\b"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(message);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const qint64 seconds = match.captured(1).toLongLong(&ok);
    return ok && seconds > 0 ? seconds : 0;
}

SubscribeHandler::SubscribeHandler(AuthHandler *auth, SubscriptionHandler *store, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
    , m_store(store)
{
    connect(m_auth, &AuthHandler::isLoggedInChanged, this, &SubscribeHandler::invalidateCache);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_auth->isLoggedIn())
            fetchNodes();
        else
            setOffline(false);
    });
}

SubscribeHandler *SubscribeHandler::getInstance()
{
    // Never destroyed: the UI and the tunnel controller hold it until the process ends.
    static SubscribeHandler *const instance
        = new SubscribeHandler(AuthHandler::getInstance(), &SubscriptionHandler::getInstance());
    return instance;
}

// --- Fetching ---

SubscribeHandler::SubscribeReply SubscribeHandler::requestUserSubscriptions(const QString &token)
{
    const QJsonObject reply = NetworkHandler::getDirectInstance()
                                  ->request()
                                  .url(QUrl(ApiEndpoints::User::Subscribe))
                                  .header("Authorization", token.toUtf8())
                                  .get()
                                  .object();
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    return {reply.value(QStringLiteral("msg")).toString(),
        API::arrayFromJson<API::UserSubscribeItem>(data.value(QStringLiteral("list")).toArray())};
}

QString SubscribeHandler::subscriptionUrlFor(const QString &token)
{
    QUrl url(ApiEndpoints::Subscribe::Config);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("token"), token);
    url.setQuery(query);
    return url.toString();
}

bool SubscribeHandler::fetchNodes()
{
    if (!m_auth->isLoggedIn()) {
        emit fetchFailed(kNotLoggedIn);
        return false;
    }
    if (m_isLoading)
        return true;
    setLoading(true);

    const QString token = m_auth->authToken();
    if (token.isEmpty())
        return fetchFailedWith(kNotLoggedIn);

    try {
        SubscribeReply reply = requestUserSubscriptions(token);
        if (reply.msg != API::SuccessMsg && looksLikeAuthFailureMessage(reply.msg)
            && m_auth->recoverFromAuthFailure(token) && !m_auth->authToken().isEmpty())
            reply = requestUserSubscriptions(m_auth->authToken());

        if (reply.msg != API::SuccessMsg) {
            if (looksLikeAuthFailureMessage(reply.msg))
                return fetchFailedWith(kAuthExpired);
            // No envelope at all: something answered, but not the panel.
            if (reply.msg.isEmpty() && serveKeptList())
                return true;
            return fetchFailedWith(
                reply.msg.isEmpty() ? QStringLiteral("Failed to fetch subscriptions") : reply.msg);
        }

        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        std::vector<API::UserSubscribeItem> valid;
        for (API::UserSubscribeItem &item : reply.list) {
            if (isValidSubscription(item, nowMs))
                valid.push_back(std::move(item));
        }
        DEBUG_LOG << "Filtered to " << qint64(valid.size()) << " valid subscriptions";

        std::vector<AccountSubscriptions::Entry> kept;
        bool stale = false;
        for (const API::UserSubscribeItem &item : valid) {
            DEBUG_LOG << "Processing subscription id: " << item.id;
            const QUrl url(subscriptionUrlFor(item.token));
            DEBUG_LOG << "Fetching subscription config";
            if (!m_store->addSubURL(url)) {
                // The nodes stored before still connect; the next retry brings the new ones.
                if (m_store->getSubscription(url.toString()).tags.isEmpty()) {
                    replaceCache({});
                    return fetchFailedWith(QStringLiteral("Failed to fetch subscription config"));
                }
                stale = true;
            }
            kept.push_back({item, url.toString()});
        }
        AccountSubscriptions::remember(m_auth->userEmail(), kept);

        replaceCache(std::move(valid));
        setOffline(stale);
        setLoading(false);
        emit nodesFetched();
        return true;
    } catch (const NetworkError &error) {
        const bool unreachable
            = error.isConnectionError() || error.isTimeoutError() || error.isServerError();
        if (!error.isAuthError() && unreachable && serveKeptList())
            return true;
        return fetchFailedWith(error.isAuthError() ? kAuthExpired : error.userMessage());
    }
}

bool SubscribeHandler::serveKeptList()
{
    if (m_subscriptions.empty()) {
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        std::vector<API::UserSubscribeItem> items;
        for (AccountSubscriptions::Entry &entry :
            AccountSubscriptions::recall(m_auth->userEmail(), *m_store)) {
            if (isValidSubscription(entry.item, nowMs))
                items.push_back(std::move(entry.item));
        }
        if (items.empty())
            return false;
        replaceCache(std::move(items));
    }
    qDebug() << "[SubscribeHandler] Panel unreachable; offering the subscriptions kept for"
             << "the account";
    setOffline(true);
    setLoading(false);
    emit nodesFetched();
    return true;
}

void SubscribeHandler::setOffline(bool offline)
{
    // Every failed attempt waits longer for the next, up to the longest wait.
    if (offline) {
        m_retryMs = m_retryMs == 0 ? m_firstRetryMs : qMin(m_retryMs * 2, kLongestRetryMs);
        m_retry.start(m_retryMs);
    } else {
        m_retry.stop();
        m_retryMs = 0;
    }
    if (m_offline == offline)
        return;
    m_offline = offline;
    emit offlineChanged();
}

bool SubscribeHandler::fetchFailedWith(const QString &error)
{
    // The panel answered, so there is nothing to wait for.
    setOffline(false);
    setLoading(false);
    emit fetchFailed(error);
    return false;
}

bool SubscribeHandler::claimFreeSubscription()
{
    const QString token = m_auth->isLoggedIn() ? m_auth->authToken() : QString();
    if (token.isEmpty()) {
        emit freeSubscriptionClaimFailed(kNotLoggedIn);
        return false;
    }

    QJsonObject reply;
    try {
        reply = NetworkHandler::getDirectInstance()
                    ->request()
                    .url(QUrl(ApiEndpoints::Subscribe::ClaimFree))
                    .header("Authorization", token.toUtf8())
                    .post()
                    .object();
    } catch (const NetworkError &error) {
        emit freeSubscriptionClaimFailed(error.isAuthError() ? kAuthExpired : error.userMessage());
        return false;
    }

    const QString msg = reply.value(QStringLiteral("msg")).toString();
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    const qint64 remaining = data.value(QStringLiteral("remaining_time")).toInteger();
    if (msg == API::SuccessMsg) {
        if (data.value(QStringLiteral("success")).toBool()) {
            emit freeSubscriptionClaimed();
            fetchNodes();
            return true;
        }
        emit freeSubscriptionClaimUnavailable(remaining);
        return false;
    }
    if (remaining > 0) {
        emit freeSubscriptionClaimUnavailable(remaining);
        return false;
    }
    const qint64 cooldown = cooldownSecondsFromMessage(msg);
    if (cooldown > 0)
        emit freeSubscriptionClaimUnavailable(cooldown);
    else
        emit freeSubscriptionClaimFailed(
            msg.isEmpty() ? QStringLiteral("Failed to claim free plan") : msg);
    return false;
}

void SubscribeHandler::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

void SubscribeHandler::replaceCache(std::vector<API::UserSubscribeItem> items)
{
    m_subscriptions = std::move(items);
    emit subscriptionsChanged();
}

void SubscribeHandler::invalidateCache()
{
    setOffline(false);
    if (m_subscriptions.empty())
        return;
    m_subscriptions.clear();
    emit subscriptionsChanged();
}

// --- Reading the cache ---

QString SubscribeHandler::getSubscriptionUrl(int index) const
{
    if (index < 0 || std::size_t(index) >= m_subscriptions.size())
        return QString();
    const QString &token = m_subscriptions[std::size_t(index)].token;
    return token.isEmpty() ? QString() : subscriptionUrlFor(token);
}

QStringList SubscribeHandler::storedTags(int subscriptionIndex) const
{
    const QString url = getSubscriptionUrl(subscriptionIndex);
    if (url.isEmpty())
        return {};
    return m_store->getSubscription(url).tags;
}

QVariantMap SubscribeHandler::getSubscription(int index) const
{
    if (index < 0 || std::size_t(index) >= m_subscriptions.size())
        return {};
    const API::UserSubscribeItem &item = m_subscriptions[std::size_t(index)];
    const QString url = getSubscriptionUrl(index);
    const int nodeCount = url.isEmpty() ? 0 : int(groupTagsByCluster(storedTags(index)).size());
    return {{QStringLiteral("id"), item.id}, {QStringLiteral("name"), item.subscribe.name},
        {QStringLiteral("token"), item.token}, {QStringLiteral("traffic"), double(item.traffic)},
        {QStringLiteral("download"), double(item.download)},
        {QStringLiteral("upload"), double(item.upload)},
        {QStringLiteral("expire_time"), double(normalizedPanelTime(item.expire_time))},
        {QStringLiteral("reset_time"), double(normalizedPanelTime(item.reset_time))},
        {QStringLiteral("created_at"), double(normalizedPanelTime(item.created_at))},
        {QStringLiteral("node_count"), nodeCount},
        {QStringLiteral("subscribe_id"), item.subscribe_id}, {QStringLiteral("url"), url}};
}

QVariantList SubscribeHandler::getNodes(int subscriptionIndex) const
{
    return sortClustersForDisplay(groupTagsByCluster(storedTags(subscriptionIndex)));
}

QString SubscribeHandler::clusterForTag(int subscriptionIndex, const QString &tag) const
{
    if (tag.isEmpty())
        return QString();
    return storedTags(subscriptionIndex).contains(tag) ? clusterFromTag(tag) : QString();
}

QString SubscribeHandler::randomTagForCluster(int subscriptionIndex, const QString &cluster) const
{
    return pickRandomTag(tagsInCluster(storedTags(subscriptionIndex), cluster));
}

QString SubscribeHandler::randomTagForSubscription(int subscriptionIndex) const
{
    return pickAutoTag(storedTags(subscriptionIndex));
}

QString SubscribeHandler::clusterFlagIconPath(const QString &cluster) const
{
    return flagIconPathForCluster(cluster);
}

QString SubscribeHandler::clusterDisplayName(const QString &cluster, const QString &language) const
{
    return displayNameForCluster(cluster, language);
}
