// The store against the development panel over HTTPS: caches and who empties them, payment
// methods and their names, icon addresses, price previews, purchase versus renewal, checkout,
// the order-status latch, and what failures report and leave in place.
#include "panel/authhandler.h"
#include "panel/iconaddress.h"
#include "panel/storehandler.h"
#include "panel/subscribehandler.h"
#include "panelsuite.h"

#include <QDateTime>
#include <QSettings>
#include <QTimer>

#include <utility>

namespace {

const QString kList = QStringLiteral("/v1/public/subscribe/list");
const QString kMethods = QStringLiteral("/v1/public/portal/payment-method");
const QString kSite = QStringLiteral("/v1/common/site/config");
const QString kPre = QStringLiteral("/v1/public/order/pre");
const QString kPurchase = QStringLiteral("/v1/public/order/purchase");
const QString kRenewal = QStringLiteral("/v1/public/order/renewal");
const QString kCheckout = QStringLiteral("/v1/public/portal/order/checkout");
const QString kDetail = QStringLiteral("/v1/public/order/detail");
// Seeded: plan 1 Basic; payment methods 1 balance, 2 test card, 3 test wallet.
constexpr int kBasic = 1;
constexpr int kCard = 2;

QStringList unlessEmpty(const QString &text)
{
    return text.isEmpty() ? QStringList() : QStringList {text};
}

} // namespace

// Each case buys with an account of its own, so that held subscriptions and orders of other
// cases do not count.
class StoreHandlerTest : public PanelSuite
{
    Q_OBJECT

private:
    QJsonObject m_seededSite;
    int m_addedMethod = 0;

    static QString placeOrder(StoreHandler &store, int paymentId)
    {
        QSignalSpy created(&store, &StoreHandler::orderCreated);
        store.createOrder(kBasic, 1, paymentId);
        return created.isEmpty() ? QString() : created.at(0).at(0).toString();
    }

private slots:
    void initTestCase();
    void cleanup();
    void caches();
    void paymentMethods_data();
    void paymentMethods();
    void iconAddresses();
    void previews_data();
    void previews();
    void renewal_data();
    void renewal();
    void checkout_data();
    void checkout();
    void orderStatus_data();
    void orderStatus();
    void listFaults_data();
    void listFaults();
};

void StoreHandlerTest::initTestCase()
{
    PanelSuite::initTestCase();
    m_seededSite = m_panel.admin("GET", QStringLiteral("/admin/state"))["site"].toObject();
    QVERIFY(!m_seededSite.isEmpty());
}

void StoreHandlerTest::cleanup()
{
    for (int id : {1, 2, 3})
        QVERIFY(m_panel.setPaymentMethodEnabled(id, true));
    if (m_addedMethod > 0)
        QVERIFY(m_panel.setPaymentMethodEnabled(std::exchange(m_addedMethod, 0), false));
    QVERIFY(m_panel.configure({{"site", m_seededSite}}));
    QSettings().remove(QStringLiteral("Language"));
}

// A node fetch refreshes the store afterwards, queued; each list is then asked for once while
// fresh. Signing out empties the account's lists, in this order; the site configuration belongs
// to nobody and stays, so a new session asks again for the account's lists only.
void StoreHandlerTest::caches()
{
    const QString email = newAccount();
    AuthHandler auth;
    SubscribeHandler nodes(&auth, nullptr);
    StoreHandler store(&auth, &nodes);
    QVERIFY(auth.login(email, kPassword));
    QJsonObject site = m_seededSite;
    site["currency"] = QJsonObject {{"currency_unit", "EUR"}, {"currency_symbol", "€"}};
    QVERIFY(m_panel.configure({{"site", site}}) && m_panel.resetCounters());
    QSignalSpy refreshed(&store, &StoreHandler::paymentMethodsChanged);
    emit nodes.nodesFetched();
    QVERIFY(!store.isLoading()); // nothing runs inside the node fetch's signal
    QVERIFY(refreshed.wait());
    QStringList paths;
    for (const QJsonValue &request : m_panel.requests())
        paths.append(request["path"].toString());
    QCOMPARE(paths, QStringList({kSite, kList, kMethods}));
    const auto fetchAll = [&] {
        return store.fetchSiteConfig() && store.fetchSubscriptions() && store.fetchPaymentMethods();
    };
    QVERIFY(fetchAll());
    QCOMPARE(m_panel.requests().size(), 3);
    // The site configuration is public: no token travels with it.
    QCOMPARE(m_panel.lastRequest(kSite).value("headers")["authorization"].toString(), QString());
    QVERIFY(store.fetchOrderPreview(kBasic, 1, kCard));
    QVERIFY(store.preCreateOrder(kBasic, 3, kCard, QStringLiteral("WELCOME10")));

    QStringList order;
    connect(&store, &StoreHandler::subscriptionsChanged, this, [&] { order << "plans"; });
    connect(&store, &StoreHandler::paymentMethodsChanged, this, [&] { order << "methods"; });
    connect(&store, &StoreHandler::preOrderChanged, this, [&] { order << "price"; });
    connect(&store, &StoreHandler::orderPreviewChanged, this, [&] { order << "previews"; });
    const int revision = store.orderPreviewRevision();
    auth.logout();
    QCOMPARE(order, QStringList({"plans", "methods", "price", "previews"}));
    QCOMPARE(store.orderPreviewRevision(), revision + 1);
    QVERIFY(store.subscriptionNames().isEmpty() && store.paymentMethodNames().isEmpty());
    QVERIFY(!store.hasBalancePaymentMethod());
    QCOMPARE(store.calculatedAmount() + store.couponDiscount(), 0.0);
    QVERIFY(store.getOrderPreview(kBasic, 1, kCard).isEmpty());
    QCOMPARE(store.currencySymbol(), QStringLiteral("€"));

    QVERIFY(auth.login(email, kPassword));
    QVERIFY(fetchAll());
    QCOMPARE(m_panel.requestCount(kSite), 1);
    for (const QString &path : {kList, kMethods}) {
        QVERIFY2(m_panel.requestCount(path) == 2, qPrintable(path));
        QCOMPARE(m_panel.lastRequest(path).value("headers")["authorization"].toString(),
            auth.authToken());
    }
}

void StoreHandlerTest::paymentMethods_data()
{
    QTest::addColumn<QList<int>>("disabled");
    QTest::addColumn<bool>("addBalance"); // an extra method named and of platform "Balance"
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("balance");
    // The seeded list itself is what the store road shows.
    QTest::newRow("only Balance") << QList<int> {1, 2, 3} << true << QStringList() << true;
    QTest::newRow("no balance") << QList<int> {1} << false
                                << QStringList {"Test card", "Test wallet"} << false;
}

void StoreHandlerTest::paymentMethods()
{
    QFETCH(QList<int>, disabled);
    QFETCH(bool, addBalance);
    QFETCH(QStringList, names);
    QFETCH(bool, balance);
    for (int id : disabled)
        QVERIFY(m_panel.setPaymentMethodEnabled(id, false));
    if (addBalance) {
        m_addedMethod = m_panel
                            .admin("POST", "/admin/payment-methods",
                                {{"name", "Balance"}, {"platform", "Balance"}})["id"]
                            .toInt();
        QVERIFY(m_addedMethod > 0);
    }
    QSettings().setValue(QStringLiteral("Language/language"), QStringLiteral("en"));

    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    QSignalSpy changed(&store, &StoreHandler::paymentMethodsChanged);
    QVERIFY(store.fetchPaymentMethods());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(store.paymentMethodNames(), names);
    QCOMPARE(store.hasBalancePaymentMethod(), balance);
    if (!names.isEmpty()) // the seeded card's icon lies in the admin site's assets
        QCOMPARE(store.getPaymentMethod(0)["icon_url"].toString(),
            QStringLiteral("https://admin.%1/assets/payment/card.svg").arg(m_panel.host()));
    QVERIFY(store.getPaymentMethod(int(names.size())).isEmpty());
}

// Every rule of IconAddress::resolve() once; the API host is api.qivro.example.
void StoreHandlerTest::iconAddresses()
{
    const QString admin = QStringLiteral("https://admin.api.qivro.example");
    const QString site = QStringLiteral("https://qivro.example");
    const struct
    {
        const char *domain, *icon;
        QString address;
    } rows[] = {
        {"qivro.example", "  ", QString()},
        {"qivro.example", "//cdn.example/a", "https://cdn.example/a"},
        {"localhost", "localhost/a.png", admin + "/a.png"}, // the brand's upload folder
        {"qivro.example", "/assets/a.png", admin + "/assets/a.png"},
        {"qivro.example", "/img/a.png", site + "/img/a.png"},
        {"qivro.example", "Assets/a.png", site + "/Assets/a.png"},
    };
    for (const auto &row : rows)
        QVERIFY2(IconAddress(row.domain, QStringLiteral("api.qivro.example")).resolve(row.icon)
                == row.address,
            row.icon);
}

void StoreHandlerTest::previews_data()
{
    QTest::addColumn<bool>("background"); // fetchOrderPreview, else preCreateOrder
    QTest::addColumn<QList<int>>("choice"); // plan, quantity, payment method, calls
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("revisions");
    // The price with a coupon is the store road's.
    QTest::newRow("preview twice") << true << QList<int> {kBasic, 3, kCard, 2} << true << 1 << 1;
    QTest::newRow("preview of nothing") << true << QList<int> {5, 0, 2, 1} << false << 0 << 0;
    QTest::newRow("price twice") << false << QList<int> {kBasic, 3, kCard, 2} << true << 2 << 2;
}

void StoreHandlerTest::previews()
{
    QFETCH(bool, background);
    QFETCH(QList<int>, choice);
    QFETCH(bool, result);
    QFETCH(int, requests);
    QFETCH(int, revisions);
    const QString email = newAccount();
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(m_panel.resetCounters());
    QSignalSpy revised(&store, &StoreHandler::orderPreviewChanged);
    for (int i = 0; i < choice[3]; ++i)
        QCOMPARE(background ? store.fetchOrderPreview(choice[0], choice[1], choice[2])
                            : store.preCreateOrder(choice[0], choice[1], choice[2], QString()),
            result);
    QCOMPARE(m_panel.requestCount(kPre), requests);
    QCOMPARE(store.orderPreviewRevision(), revisions);
    QCOMPARE(revised.size(), revisions);

    // The panel's own price for the same choice.
    const QJsonObject body {
        {"subscribe_id", choice[0]}, {"quantity", choice[1]}, {"payment", choice[2]}};
    const double amount = m_panel.call("POST", kPre, body, auth.authToken().toUtf8())["data"]
                              .toObject()["amount"]
                              .toDouble()
        / 100;
    const QVariantMap cached = store.getOrderPreview(choice[0], choice[1], choice[2]);
    QCOMPARE(cached.value("amount", -1.0).toDouble(), revisions > 0 ? amount : -1.0);
    if (!background)
        QCOMPARE(store.calculatedAmount(), amount);
    // A new catalogue makes every preview stale.
    QVERIFY(store.fetchSubscriptions());
    QCOMPARE(store.orderPreviewRevision(), revisions == 0 ? 0 : revisions + 1);
    QVERIFY(store.getOrderPreview(choice[0], choice[1], choice[2]).isEmpty());
}

void StoreHandlerTest::renewal_data()
{
    // Subscriptions the account holds, in panel order: "<plan>@<expiry>", "!" for one without a
    // token. Expiries: past and future in seconds, futureMs in milliseconds, or a literal.
    QTest::addColumn<QStringList>("held");
    QTest::addColumn<int>("renewed"); // index into held, -1: a new purchase
    QTest::newRow("nothing held") << QStringList() << -1;
    QTest::newRow("both expired") << QStringList {"1@past", "1@past"} << 0;
    QTest::newRow("never expires") << QStringList {"1@past", "1@0"} << 1;
    QTest::newRow("99,999,999,999 is seconds") << QStringList {"1@past", "1@99999999999"} << 1;
    QTest::newRow("100,000,000,000 is ms") << QStringList {"1@100000000000", "1@futureMs"} << 1;
    QTest::newRow("expired beats tokenless") << QStringList {"1@future!", "1@past"} << 1;
}

void StoreHandlerTest::renewal()
{
    QFETCH(QStringList, held);
    QFETCH(int, renewed);
    const QString email = newAccount();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QHash<QString, qint64> expiries {
        {"past", now - 86400}, {"future", now + 2592000}, {"futureMs", (now + 2592000) * 1000}};
    QList<int> ids;
    for (const QString &entry : held) {
        const QString expiry = entry.section('@', 1).remove('!');
        ids.append(m_panel
                       .grantSubscription(email, entry.section('@', 0, 0).toInt(),
                           expiries.value(expiry, expiry.toLongLong()), entry.endsWith('!'))["id"]
                       .toInt());
        QVERIFY(ids.last() > 0);
    }
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(m_panel.resetCounters());

    QVERIFY(!placeOrder(store, kCard).isEmpty());
    QCOMPARE(m_panel.requestCount(kRenewal), renewed >= 0 ? 1 : 0);
    QCOMPARE(m_panel.requestCount(kPurchase), renewed >= 0 ? 0 : 1);
    const QString expected = renewed >= 0
        ? QStringLiteral(R"({"payment":2,"quantity":1,"user_subscribe_id":%1})")
              .arg(ids.value(renewed))
        : QStringLiteral(R"({"payment":2,"quantity":1,"subscribe_id":1})");
    QCOMPARE(m_panel.lastRequest(renewed >= 0 ? kRenewal : kPurchase)["body"].toString(), expected);
}

void StoreHandlerTest::checkout_data()
{
    // A payment page by card and a balance order are the store road's.
    QTest::addColumn<int>("payment");
    QTest::addColumn<QJsonObject>("patch"); // members the panel's reply data gets instead
    QTest::addColumn<QString>("outcome"); // "balance", or the reported error
    QTest::newRow("balance") << 1 << QJsonObject() << "balance";
    QTest::newRow("balance, empty address")
        << kCard << QJsonObject {{"type", "balance"}, {"checkout_url", ""}} << "balance";
    QTest::newRow("not a web page") << kCard << QJsonObject {{"checkout_url", "file:///etc/passwd"}}
                                    << "No checkout URL in response";
}

void StoreHandlerTest::checkout()
{
    QFETCH(int, payment);
    QFETCH(QJsonObject, patch);
    QFETCH(QString, outcome);
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(100000), kPassword));
    QSignalSpy created(&store, &StoreHandler::orderCreated);
    QVERIFY(store.createOrder(kBasic, 1, payment));
    const QString orderNo = created.value(0).value(0).toString();
    QCOMPARE(sentBody(kPurchase)["payment"].toInt(), payment);
    TestPanel::Fault fault;
    fault.data = patch;
    QVERIFY(patch.isEmpty() || m_panel.setFault(kCheckout, fault));

    QSignalSpy page(&store, &StoreHandler::checkoutReady);
    QSignalSpy balance(&store, &StoreHandler::balanceCheckoutCompleted);
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    const bool paid = outcome == "balance";
    QCOMPARE(store.checkoutOrder(orderNo), paid);
    const QString sent = QStringLiteral(R"({"orderNo":"%1","returnUrl":"%2"})")
                             .arg(orderNo, QStringLiteral("https://") + m_panel.host());
    QCOMPARE(m_panel.lastRequest(kCheckout)["body"].toString(), sent);
    QCOMPARE(page.size(), 0);
    QCOMPARE(texts(balance), paid ? unlessEmpty(orderNo) : QStringList());
    QCOMPARE(texts(failed), paid ? QStringList() : unlessEmpty(outcome));
    QVERIFY(!store.isLoading());
}

void StoreHandlerTest::orderStatus_data()
{
    QTest::addColumn<QString>("situation"); // "status:<n>" set on the panel, "none", "signed out"
    // What the page does while a slow first poll waits: "poll", "cancel" or "cancel, poll".
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("updates");
    QTest::addColumn<QString>("error");
    QTest::newRow("status 5") << "status:5"
                              << "" << 1 << 1 << "";
    QTest::newRow("no order number") << "none"
                                     << "" << 0 << 0 << "Missing order number";
    QTest::newRow("signed out") << "signed out"
                                << "" << 0 << 0 << "Not logged in";
    QTest::newRow("poll again") << ""
                                << "poll" << 1 << 1 << "";
    QTest::newRow("cancel") << ""
                            << "cancel" << 1 << 0 << "";
    QTest::newRow("cancel and poll again") << ""
                                           << "cancel, poll" << 2 << 1 << "";
}

void StoreHandlerTest::orderStatus()
{
    QFETCH(QString, situation);
    QFETCH(QString, meanwhile);
    QFETCH(int, requests);
    QFETCH(int, updates);
    QFETCH(QString, error);
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    QString orderNo = placeOrder(store, kCard);
    QVERIFY(!orderNo.isEmpty());
    const QString placed = orderNo;
    if (situation.startsWith("status:"))
        QVERIFY(m_panel.setOrderStatus(orderNo, situation.mid(7).toInt()));
    else if (situation == "none")
        orderNo.clear();
    else if (situation == "signed out")
        auth.logout();
    TestPanel::Fault slow;
    slow.delayMs = 300;
    QVERIFY(meanwhile.isEmpty() || m_panel.setFault(kDetail, slow));
    QVERIFY(m_panel.resetCounters());

    QSignalSpy updated(&store, &StoreHandler::orderStatusUpdated);
    QSignalSpy failed(&store, &StoreHandler::orderStatusFailed);
    bool innerResult = meanwhile.isEmpty();
    if (!meanwhile.isEmpty())
        QTimer::singleShot(50, &store, [&] {
            if (meanwhile.startsWith("cancel"))
                store.cancelOrderStatusPolling();
            innerResult = !meanwhile.endsWith("poll") || store.fetchOrderStatus(orderNo);
        });
    QCOMPARE(store.fetchOrderStatus(orderNo), error.isEmpty());
    QVERIFY(innerResult);
    QCOMPARE(m_panel.requestCount(kDetail), requests);
    QCOMPARE(updated.size(), updates);
    if (situation.startsWith("status:"))
        QCOMPARE(updated.value(0), QVariantList({orderNo, situation.mid(7).toInt()}));
    QCOMPARE(failed.value(0), error.isEmpty() ? QVariantList() : QVariantList({orderNo, error}));
    QCOMPARE(m_panel.lastRequest(kDetail)["query"].toObject(),
        requests ? QJsonObject({{"order_no", placed}}) : QJsonObject());
}

void StoreHandlerTest::listFaults_data()
{
    // A fault on both lists, or "auth:<style>": the token refused in that style and the saved
    // password refused too; "recovered": refused, then renewed with the saved password.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("catalogueError");
    QTest::addColumn<QString>("methodsError");
    const auto row = [](const char *fault, const QString &catalogue, const QString &methods) {
        QTest::newRow(fault) << fault << catalogue << methods;
    };
    row("malformed", "Failed to fetch subscriptions", "Failed to fetch payment methods");
    row("msg:Store closed", "Store closed", "Store closed");
    row("auth:http-401", kAuthExpired, kAuthExpired);
    row("recovered", "", "");
}

void StoreHandlerTest::listFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, catalogueError);
    QFETCH(QString, methodsError);
    const QString email = newAccount();
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(store.fetchSubscriptions() && store.fetchPaymentMethods());
    const QStringList plans = store.subscriptionNames();
    const QStringList methods = store.paymentMethodNames();
    // An order makes the next fetches go to the server while the lists stay.
    QVERIFY(!placeOrder(store, kCard).isEmpty());

    if (fault.startsWith("auth:") || fault == "recovered") {
        QVERIFY(m_panel.setAuthStyle(fault == "recovered" ? "invalid-access" : fault.mid(5)));
        QVERIFY(m_panel.revokeTokens(email));
        QVERIFY(fault == "recovered"
            || m_panel.setFault("/v1/auth/login", QStringLiteral("msg:Wrong password")));
    } else {
        QVERIFY(m_panel.setFault(kList, fault) && m_panel.setFault(kMethods, fault));
    }
    QVERIFY(m_panel.resetCounters());
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    QSignalSpy changed(&store, &StoreHandler::subscriptionsChanged);
    QCOMPARE(store.fetchSubscriptions(), catalogueError.isEmpty());
    QCOMPARE(store.fetchPaymentMethods(), methodsError.isEmpty());
    QCOMPARE(texts(failed), unlessEmpty(catalogueError) + unlessEmpty(methodsError));
    QCOMPARE(changed.size(), catalogueError.isEmpty() ? 1 : 0);
    QCOMPARE(store.subscriptionNames(), plans);
    QCOMPARE(store.paymentMethodNames(), methods);
    QVERIFY(store.hasBalancePaymentMethod() && !store.isLoading());
    // Refused once, then with the renewed token; never a second retry.
    QCOMPARE(m_panel.requestCount(kList), fault == "recovered" ? 2 : 1);
}

QTEST_GUILESS_MAIN(StoreHandlerTest)
#include "tst_storehandler.moc"
