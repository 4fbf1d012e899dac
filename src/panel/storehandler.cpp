#include "panel/storehandler.h"

#include "network/apiendpoints.h"
#include "network/authfailure.h"
#include "network/authorizedrequest.h"
#include "network/deployment.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "panel/authhandler.h"
#include "panel/iconaddress.h"
#include "panel/localizedname.h"
#include "panel/subscribehandler.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QSettings>
#include <QUrlQuery>
#include <QVariantList>

namespace {

const QString kNotLoggedIn = QStringLiteral("Not logged in");
constexpr int kOrderStatusTimeoutMs = 30000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString orderPreviewKey(int subscribeId, int quantity, int paymentId)
{
    return QStringLiteral("%1:%2:%3").arg(subscribeId).arg(quantity).arg(paymentId);
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray buildOrderBody(
    const QString &planKey, int planId, int quantity, int paymentId, const QString &coupon)
{
    QJsonObject body {{planKey, planId}, {QStringLiteral("quantity"), quantity},
        {QStringLiteral("payment"), paymentId}};
    if (!coupon.isEmpty())
        body.insert(QStringLiteral("coupon"), coupon);
    return compact(body);
}

QByteArray buildOrderRequestBody(
    int subscribeId, int quantity, int paymentId, const QString &coupon)
{
    return buildOrderBody(QStringLiteral("subscribe_id"), subscribeId, quantity, paymentId, coupon);
}

QByteArray buildRenewalOrderRequestBody(
    int userSubscribeId, int quantity, int paymentId, const QString &coupon)
{
    return buildOrderBody(
        QStringLiteral("user_subscribe_id"), userSubscribeId, quantity, paymentId, coupon);
}

// The page opens this address in the system browser: anything but a web page (a file, a custom
// scheme handler) would let the panel start other programs on the user's machine.
bool isWebAddress(const QString &address)
{
    // Tolerant parsing: gateways put all sorts of characters in their queries.
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

QString replyMsg(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("msg")).toString();
}

QJsonObject replyData(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("data")).toObject();
}

} // namespace

StoreHandler::StoreHandler(AuthHandler *auth, SubscribeHandler *nodes, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
{
    connect(m_auth, &AuthHandler::isLoggedInChanged, this, &StoreHandler::invalidateUserCache);
    if (nodes)
        connect(nodes, &SubscribeHandler::nodesFetched, this, &StoreHandler::queueStoreRefresh);
}

StoreHandler *StoreHandler::getInstance()
{
    // Never destroyed: the UI holds it until the process ends.
    static StoreHandler *const instance
        = new StoreHandler(AuthHandler::getInstance(), SubscribeHandler::getInstance());
    return instance;
}

// --- Shared plumbing ---

bool StoreHandler::isCacheFresh(qint64 timestamp, qint64 maxAgeMs)
{
    return timestamp > 0 && nowMs() - timestamp < maxAgeMs;
}

void StoreHandler::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

void StoreHandler::handleNetworkError(const NetworkError &error)
{
    qWarning() << "[StoreHandler] Request failed:" << error.message()
               << "httpStatus:" << error.httpStatusCode();
    emit operationFailed(error.userMessage());
}

bool StoreHandler::signedIn()
{
    if (m_auth->isLoggedIn())
        return true;
    emit operationFailed(kNotLoggedIn);
    return false;
}

bool StoreHandler::failWith(const QString &error)
{
    setLoading(false);
    emit operationFailed(error);
    return false;
}

std::optional<QJsonObject> StoreHandler::exchange(
    const std::function<QJsonObject()> &send, const QString &failureText)
{
    QJsonObject reply;
    try {
        reply = send();
    } catch (const NetworkError &error) {
        setLoading(false);
        handleNetworkError(error);
        return std::nullopt;
    }
    const QString msg = replyMsg(reply);
    if (msg != API::SuccessMsg) {
        failWith(msg.isEmpty() ? failureText : msg);
        return std::nullopt;
    }
    return reply;
}

std::optional<QJsonArray> StoreHandler::fetchUserList(const QUrl &url, const QString &failureText)
{
    setLoading(true);
    const auto reply = exchange(
        [&] {
            const QString token = m_auth->authToken();
            const QJsonObject first = authorizedRequest(url, token).get().object();
            const QString msg = replyMsg(first);
            if (msg != API::SuccessMsg && looksLikeAuthFailureMessage(msg)
                && m_auth->recoverFromAuthFailure(token) && !m_auth->authToken().isEmpty())
                return authorizedRequest(url, m_auth->authToken()).get().object();
            return first;
        },
        failureText);
    if (!reply)
        return std::nullopt;
    return replyData(*reply).value(QStringLiteral("list")).toArray();
}

QJsonObject StoreHandler::post(const QString &endpoint, const QByteArray &body) const
{
    return authorizedRequest(QUrl(endpoint), m_auth->authToken()).body(body).post().object();
}

bool StoreHandler::clearPreviewCache()
{
    const bool hadEntries = !m_orderPreviewCache.isEmpty();
    m_orderPreviewCache.clear();
    return hadEntries;
}

void StoreHandler::announcePreviewChange()
{
    ++m_orderPreviewRevision;
    emit orderPreviewChanged();
}

void StoreHandler::storePreview(const QString &key, const API::PreOrderData &preview)
{
    m_orderPreviewCache.insert(key, preview);
    announcePreviewChange();
}

void StoreHandler::finishListFetch()
{
    // Prices depend on the plans and on how one pays: new lists make every preview stale.
    const bool hadPreviews = clearPreviewCache();
    setLoading(false);
    if (hadPreviews)
        announcePreviewChange();
}

// --- Catalogue, payment methods, site configuration ---

bool StoreHandler::fetchSiteConfig()
{
    if (isCacheFresh(m_siteConfigFetchedAt, kSiteConfigMaxAgeMs))
        return true;
    setLoading(true);
    // Public: the currency shows before anyone signs in.
    const auto reply = exchange(
        [] {
            return NetworkHandler::getDirectInstance()
                ->request()
                .url(QUrl(ApiEndpoints::Common::SiteConfig))
                .get()
                .object();
        },
        QStringLiteral("Failed to fetch site config"));
    if (!reply)
        return false;
    m_currencySymbol = API::fromJson<API::SiteConfig>(replyData(*reply)).currency.currency_symbol;
    m_siteConfigFetchedAt = nowMs();
    setLoading(false);
    emit siteConfigChanged();
    return true;
}

bool StoreHandler::fetchSubscriptions()
{
    if (!signedIn())
        return false;
    if (isCacheFresh(m_catalogueFetchedAt, kCatalogueMaxAgeMs)
        && m_auth->userEmail() == m_catalogueUserEmail
        && m_catalogueLanguage == kSubscriptionCatalogLanguage)
        return true;

    QUrl url(ApiEndpoints::Subscribe::List);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("language"), kSubscriptionCatalogLanguage);
    url.setQuery(query);
    const auto list = fetchUserList(url, QStringLiteral("Failed to fetch subscriptions"));
    if (!list)
        return false;

    // Hidden and unsold plans stay: the page decides what to offer.
    m_catalogue = API::arrayFromJson<API::Subscribe>(*list);
    m_catalogueFetchedAt = nowMs();
    m_catalogueLanguage = kSubscriptionCatalogLanguage;
    m_catalogueUserEmail = m_auth->userEmail();
    finishListFetch();
    emit subscriptionsChanged();
    return true;
}

bool StoreHandler::fetchPaymentMethods()
{
    if (!signedIn())
        return false;
    if (isCacheFresh(m_paymentMethodsFetchedAt, kPaymentMethodsMaxAgeMs)
        && m_auth->userEmail() == m_paymentMethodsUserEmail)
        return true;

    const auto list = fetchUserList(QUrl(ApiEndpoints::Portal::PaymentMethod),
        QStringLiteral("Failed to fetch payment methods"));
    if (!list)
        return false;

    m_paymentMethods.clear();
    m_balancePaymentMethodId = 0;
    for (API::PaymentMethod &method : API::arrayFromJson<API::PaymentMethod>(*list)) {
        // The balance is offered as its own way to pay, not as one of the listed methods.
        if (method.platform.compare(QLatin1String("balance"), Qt::CaseInsensitive) == 0)
            m_balancePaymentMethodId = method.id;
        else
            m_paymentMethods.push_back(std::move(method));
    }
    m_paymentMethodIds.clear();
    for (const API::PaymentMethod &method : m_paymentMethods)
        m_paymentMethodIds.push_back(method.id);
    m_paymentMethodsFetchedAt = nowMs();
    m_paymentMethodsUserEmail = m_auth->userEmail();
    finishListFetch();
    emit paymentMethodsChanged();
    return true;
}

void StoreHandler::invalidateUserCache()
{
    const bool hadCatalogue = !m_catalogue.empty();
    const bool hadPaymentMethods = !m_paymentMethods.empty();
    const bool hadPreOrder
        = m_preOrder.price != 0 || m_preOrder.amount != 0 || m_preOrder.coupon_discount != 0;

    m_catalogueFetchedAt = 0;
    m_paymentMethodsFetchedAt = 0;
    m_catalogueLanguage.clear();
    m_catalogueUserEmail.clear();
    m_paymentMethodsUserEmail.clear();
    m_catalogue.clear();
    m_paymentMethods.clear();
    m_paymentMethodIds.clear();
    m_balancePaymentMethodId = 0;
    m_preOrder = API::PreOrderData();
    const bool hadPreviews = clearPreviewCache();

    if (hadCatalogue)
        emit subscriptionsChanged();
    if (hadPaymentMethods)
        emit paymentMethodsChanged();
    if (hadPreOrder)
        emit preOrderChanged();
    if (hadPreviews)
        announcePreviewChange();
}

void StoreHandler::queueStoreRefresh()
{
    // After the current event, so the node fetch that triggered it has finished reporting.
    QMetaObject::invokeMethod(
        this,
        [this] {
            fetchSiteConfig();
            fetchSubscriptions();
            fetchPaymentMethods();
        },
        Qt::QueuedConnection);
}

QStringList StoreHandler::subscriptionNames() const
{
    QStringList names;
    names.reserve(qsizetype(m_catalogue.size()));
    for (const API::Subscribe &plan : m_catalogue)
        names.append(plan.name);
    return names;
}

QStringList StoreHandler::paymentMethodNames() const
{
    const QString language
        = QSettings().value(QStringLiteral("Language/language"), QStringLiteral("en")).toString();
    const QString localeKey = localeKeyForLanguage(language);
    QStringList names;
    names.reserve(qsizetype(m_paymentMethods.size()));
    for (const API::PaymentMethod &method : m_paymentMethods)
        names.append(localizedName(method.name, localeKey));
    return names;
}

QVariantMap StoreHandler::getSubscription(int index) const
{
    if (index < 0 || std::size_t(index) >= m_catalogue.size())
        return {};
    const API::Subscribe &plan = m_catalogue[std::size_t(index)];
    QVariantList discounts;
    for (const API::SubscribeDiscount &discount : plan.discount)
        discounts.append(QVariantMap {{QStringLiteral("quantity"), discount.quantity},
            {QStringLiteral("discount"), discount.discount}});
    return {{QStringLiteral("id"), plan.id}, {QStringLiteral("name"), plan.name},
        {QStringLiteral("description"), plan.description},
        {QStringLiteral("unit_price"), plan.unit_price / 100.0},
        {QStringLiteral("unit_time"), plan.unit_time}, {QStringLiteral("discount"), discounts},
        {QStringLiteral("traffic"), plan.traffic},
        {QStringLiteral("speed_limit"), plan.speed_limit},
        {QStringLiteral("device_limit"), plan.device_limit}};
}

QVariantMap StoreHandler::getPaymentMethod(int index) const
{
    if (index < 0 || std::size_t(index) >= m_paymentMethods.size())
        return {};
    const API::PaymentMethod &method = m_paymentMethods[std::size_t(index)];
    const IconAddress icons(Deployment::webDomain(), Deployment::apiHost());
    return {{QStringLiteral("id"), method.id}, {QStringLiteral("name"), method.name},
        {QStringLiteral("platform"), method.platform}, {QStringLiteral("icon"), method.icon},
        {QStringLiteral("icon_url"), icons.resolve(method.icon)},
        {QStringLiteral("fee_percent"), method.fee_percent},
        {QStringLiteral("fee_amount"), method.fee_amount}};
}

// --- Prices ---

QJsonObject StoreHandler::requestPreview(
    int subscribeId, int quantity, int paymentId, const QString &coupon) const
{
    return post(
        ApiEndpoints::Order::Pre, buildOrderRequestBody(subscribeId, quantity, paymentId, coupon));
}

bool StoreHandler::preCreateOrder(
    int subscribeId, int quantity, int paymentId, const QString &coupon)
{
    if (!signedIn())
        return false;
    setLoading(true);
    const auto reply
        = exchange([&] { return requestPreview(subscribeId, quantity, paymentId, coupon); },
            QStringLiteral("Failed to calculate order"));
    if (!reply)
        return false;
    m_preOrder = API::fromJson<API::PreOrderResponse>(*reply).data;
    // A coupon's price is the user's alone; the cache holds the catalogue's list prices.
    if (coupon.isEmpty())
        storePreview(orderPreviewKey(subscribeId, quantity, paymentId), m_preOrder);
    setLoading(false);
    emit preOrderChanged();
    return true;
}

bool StoreHandler::fetchOrderPreview(int subscribeId, int quantity, int paymentId)
{
    if (!m_auth->isLoggedIn() || subscribeId < 1 || quantity < 1 || paymentId < 1)
        return false;
    const QString key = orderPreviewKey(subscribeId, quantity, paymentId);
    if (m_orderPreviewCache.contains(key))
        return true;
    try {
        const auto reply = API::fromJson<API::PreOrderResponse>(
            requestPreview(subscribeId, quantity, paymentId, QString()));
        if (reply.msg != API::SuccessMsg)
            return false;
        storePreview(key, reply.data);
        return true;
    } catch (const NetworkError &) {
        return false;
    }
}

QVariantMap StoreHandler::getOrderPreview(int subscribeId, int quantity, int paymentId) const
{
    const auto found
        = m_orderPreviewCache.constFind(orderPreviewKey(subscribeId, quantity, paymentId));
    if (found == m_orderPreviewCache.constEnd())
        return {};
    return {{QStringLiteral("price"), found->price / 100.0},
        {QStringLiteral("amount"), found->amount / 100.0},
        {QStringLiteral("discount"), found->discount / 100.0},
        {QStringLiteral("coupon_discount"), found->coupon_discount / 100.0},
        {QStringLiteral("fee_amount"), found->fee_amount / 100.0}};
}

// --- Orders ---

bool StoreHandler::resolveRenewalUserSubscribeId(int subscribeId, int &userSubscribeId)
{
    userSubscribeId = 0;
    const auto reply = exchange(
        [this] {
            return authorizedRequest(QUrl(ApiEndpoints::User::Subscribe), m_auth->authToken())
                .get()
                .object();
        },
        QStringLiteral("Failed to fetch current subscriptions"));
    if (!reply)
        return false;
    const auto held = API::arrayFromJson<API::UserSubscribeItem>(
        replyData(*reply).value(QStringLiteral("list")).toArray());

    const qint64 now = nowMs();
    int firstHeld = 0;
    for (const API::UserSubscribeItem &item : held) {
        if (item.subscribe_id != subscribeId || item.token.isEmpty())
            continue;
        if (firstHeld == 0)
            firstHeld = item.id;
        if (item.expire_time < 1 || now < normalizedPanelTime(item.expire_time)) {
            userSubscribeId = item.id;
            return true;
        }
    }
    // An expired subscription is renewed too rather than bought again.
    userSubscribeId = firstHeld;
    return true;
}

bool StoreHandler::createOrder(int subscribeId, int quantity, int paymentId, const QString &coupon)
{
    if (!signedIn())
        return false;
    setLoading(true);
    int userSubscribeId = 0;
    if (!resolveRenewalUserSubscribeId(subscribeId, userSubscribeId))
        return false;
    const auto reply = exchange(
        [&] {
            return userSubscribeId >= 1
                ? post(ApiEndpoints::Order::Renewal,
                    buildRenewalOrderRequestBody(userSubscribeId, quantity, paymentId, coupon))
                : post(ApiEndpoints::Order::Purchase,
                    buildOrderRequestBody(subscribeId, quantity, paymentId, coupon));
        },
        QStringLiteral("Failed to create order"));
    if (!reply)
        return false;
    setLoading(false);
    // A purchase can change what the account is offered and how it may pay.
    m_catalogueFetchedAt = 0;
    m_paymentMethodsFetchedAt = 0;
    emit orderCreated(replyData(*reply).value(QStringLiteral("order_no")).toString());
    return true;
}

bool StoreHandler::createBalanceOrder(int subscribeId, int quantity)
{
    if (m_balancePaymentMethodId == 0 && !fetchPaymentMethods())
        return false;
    if (m_balancePaymentMethodId == 0) {
        emit operationFailed(QStringLiteral("Balance payment method is unavailable"));
        return false;
    }
    return createOrder(subscribeId, quantity, m_balancePaymentMethodId, QString());
}

bool StoreHandler::checkoutOrder(const QString &orderNo)
{
    if (!signedIn())
        return false;
    setLoading(true);
    const auto reply = exchange(
        [&] {
            return post(ApiEndpoints::Portal::OrderCheckout,
                compact({{QStringLiteral("orderNo"), orderNo},
                    {QStringLiteral("returnUrl"), ApiEndpoints::Domain}}));
        },
        QStringLiteral("Failed to checkout"));
    if (!reply)
        return false;
    setLoading(false);
    const QJsonObject data = replyData(*reply);
    const QJsonValue checkoutUrl = data.value(QStringLiteral("checkout_url"));
    const QString address = checkoutUrl.isUndefined() || checkoutUrl.isNull()
        ? QString()
        : checkoutUrl.toVariant().toString();
    if (!address.isEmpty() && isWebAddress(address)) {
        emit checkoutReady(address);
        return true;
    }
    if (!address.isEmpty())
        qWarning() << "[StoreHandler] Ignoring a checkout address that is not a web page";
    if (data.value(QStringLiteral("type")).toString() == QLatin1String("balance")) {
        emit balanceCheckoutCompleted(orderNo);
        return true;
    }
    emit operationFailed(QStringLiteral("No checkout URL in response"));
    return false;
}

bool StoreHandler::fetchOrderStatus(const QString &orderNo)
{
    if (!m_auth->isLoggedIn()) {
        emit orderStatusFailed(orderNo, kNotLoggedIn);
        return false;
    }
    if (orderNo.isEmpty()) {
        emit orderStatusFailed(orderNo, QStringLiteral("Missing order number"));
        return false;
    }
    if (!m_statusPolling.begin(orderNo))
        return true;

    QUrl url(ApiEndpoints::Order::Detail);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("order_no"), orderNo);
    url.setQuery(query);
    QJsonObject body;
    try {
        body = authorizedRequest(url, m_auth->authToken())
                   .timeout(kOrderStatusTimeoutMs)
                   .get()
                   .object();
    } catch (const NetworkError &error) {
        if (m_statusPolling.release(orderNo))
            emit orderStatusFailed(orderNo, error.userMessage());
        return false;
    }
    // Cancelled or replaced while waiting: the page no longer wants this answer.
    if (!m_statusPolling.release(orderNo))
        return true;

    const auto reply = API::fromJson<API::OrderDetailResponse>(body);
    if (reply.msg != API::SuccessMsg) {
        emit orderStatusFailed(orderNo,
            reply.msg.isEmpty() ? QStringLiteral("Failed to fetch order status") : reply.msg);
        return false;
    }
    emit orderStatusUpdated(
        reply.data.order_no.isEmpty() ? orderNo : reply.data.order_no, reply.data.status);
    return true;
}

void StoreHandler::cancelOrderStatusPolling()
{
    m_statusPolling.cancel();
}
