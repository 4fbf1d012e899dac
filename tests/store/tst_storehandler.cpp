// The store against the development panel over HTTPS: caches and who empties them, payment
// methods and their names, icon addresses, price previews, purchase versus renewal, checkout,
// the order-status latch, and what failures report and leave in place.
#include "authhandler.h"
#include "clientprofile.h"
#include "iconaddress.h"
#include "localizedname.h"
#include "storehandler.h"
#include "subscribehandler.h"
#include "testpanel.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kList = QStringLiteral("/v1/public/subscribe/list");
const QString kMethods = QStringLiteral("/v1/public/portal/payment-method");
const QString kSite = QStringLiteral("/v1/common/site/config");
const QString kPre = QStringLiteral("/v1/public/order/pre");
const QString kPurchase = QStringLiteral("/v1/public/order/purchase");
const QString kRenewal = QStringLiteral("/v1/public/order/renewal");
const QString kCheckout = QStringLiteral("/v1/public/portal/order/checkout");
const QString kDetail = QStringLiteral("/v1/public/order/detail");
const QString kLogin = QStringLiteral("/v1/auth/login");
const QString kPassword = QStringLiteral("store-buyer-1");
const QString kAuthExpired = QStringLiteral("Authentication expired, please log in again");
// Seeded: plan 1 Basic; payment methods 1 balance, 2 test card, 3 test wallet.
constexpr int kBasic = 1;
constexpr int kCard = 2;

// A fault written as text: an HTTP status, "msg:<text>", "malformed" or "drop".
TestPanel::Fault faultFrom(const QString &text)
{
    TestPanel::Fault fault;
    if (text.startsWith(QLatin1String("msg:")))
        fault.msg = text.mid(4);
    fault.status = text.toInt();
    if (text == QLatin1String("malformed"))
        fault.body = text;
    fault.dropConnection = text == QLatin1String("drop");
    return fault;
}

QStringList texts(const QSignalSpy &spy, int argument = 0)
{
    QStringList out;
    for (const QList<QVariant> &signal : spy)
        out.append(signal.at(argument).toString());
    return out;
}

} // namespace

class StoreHandlerTest : public QObject
{
    Q_OBJECT

private:
    TestPanel m_panel;
    QTemporaryDir m_settingsDir;
    QJsonObject m_seededSite;
    QList<int> m_addedMethods;
    int m_accounts = 0;

    // A fresh account, so that held subscriptions and orders of other cases do not count.
    QString newAccount(qint64 balance = 0)
    {
        const QString email = QStringLiteral("buyer%1@example.test").arg(++m_accounts);
        return m_panel.createUser(email, kPassword, balance).isEmpty() ? QString() : email;
    }
    QString placeOrder(StoreHandler &store, int paymentId)
    {
        QSignalSpy created(&store, &StoreHandler::orderCreated);
        store.createOrder(kBasic, 1, paymentId);
        return created.isEmpty() ? QString() : created.at(0).at(0).toString();
    }
    // The panel's own price for the same choice.
    QJsonObject panelPrice(const QString &email, int plan, int quantity, int payment,
        const QString &coupon = QString())
    {
        QJsonObject body {{"subscribe_id", plan}, {"quantity", quantity}, {"payment", payment}};
        if (!coupon.isEmpty())
            body.insert("coupon", coupon);
        return m_panel.call("POST", kPre, body, m_panel.login(email, kPassword))["data"].toObject();
    }

private slots:
    void initTestCase();
    void init() { QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError())); }
    void cleanup();
    void caches_data();
    void caches();
    void signInChangeEmptiesUserCaches();
    void refreshAfterNodeFetch();
    void catalogueAndMethodMaps();
    void paymentMethods_data();
    void paymentMethods();
    void localizedNames_data();
    void localizedNames();
    void iconAddresses_data();
    void iconAddresses();
    void previews_data();
    void previews();
    void renewal_data();
    void renewal();
    void checkout_data();
    void checkout();
    void orderStatus_data();
    void orderStatus();
    void orderStatusLatch_data();
    void orderStatusLatch();
    void signedOut_data();
    void signedOut();
    void siteConfig_data();
    void siteConfig();
    void listFaults_data();
    void listFaults();
};

void StoreHandlerTest::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    useTestProfile(QStringLiteral("qivro"), m_settingsDir.path());
    QVERIFY2(m_panel.start(), qPrintable(m_panel.lastError()));
    QVERIFY(pointClientAt(m_panel));
    m_seededSite = m_panel.admin("GET", QStringLiteral("/admin/state"))["site"].toObject();
    QVERIFY(!m_seededSite.isEmpty());
}

void StoreHandlerTest::cleanup()
{
    for (int id : {1, 2, 3})
        QVERIFY(m_panel.setPaymentMethodEnabled(id, true));
    for (int id : std::as_const(m_addedMethods))
        QVERIFY(m_panel.setPaymentMethodEnabled(id, false));
    m_addedMethods.clear();
    QVERIFY(m_panel.configure({{"site", m_seededSite}}));
    QSettings().remove(QStringLiteral("Language"));
}

void StoreHandlerTest::caches_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("signInAgain"); // between the two fetches
    QTest::addColumn<int>("requests");
    QTest::newRow("catalogue") << kList << false << 1;
    QTest::newRow("catalogue, signed in again") << kList << true << 2;
    QTest::newRow("payment methods") << kMethods << false << 1;
    QTest::newRow("payment methods, signed in again") << kMethods << true << 2;
    QTest::newRow("site configuration") << kSite << false << 1;
    QTest::newRow("site configuration, signed in again") << kSite << true << 1;
}

void StoreHandlerTest::caches()
{
    QFETCH(QString, path);
    QFETCH(bool, signInAgain);
    QFETCH(int, requests);
    const QString email = newAccount();
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    const auto fetch = [&] {
        return path == kList   ? store.fetchSubscriptions()
            : path == kMethods ? store.fetchPaymentMethods()
                               : store.fetchSiteConfig();
    };
    QVERIFY(fetch());
    if (signInAgain) {
        auth.logout();
        QVERIFY(auth.login(email, kPassword));
    }
    QVERIFY(fetch());
    QCOMPARE(m_panel.requestCount(path), requests);

    const QJsonObject sent = m_panel.lastRequest(path);
    const QJsonObject headers = sent["headers"].toObject();
    // The site configuration is public: no token travels with it.
    QCOMPARE(headers.contains("authorization"), path != kSite);
    if (path != kSite)
        QCOMPARE(headers["authorization"].toString(), auth.authToken());
    if (path == kList)
        QCOMPARE(sent["query"].toObject(), QJsonObject({{"language", "zh-CN"}}));
}

void StoreHandlerTest::signInChangeEmptiesUserCaches()
{
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    QJsonObject site = m_seededSite;
    site["currency"] = QJsonObject {{"currency_unit", "EUR"}, {"currency_symbol", "€"}};
    QVERIFY(m_panel.configure({{"site", site}}));
    QVERIFY(store.fetchSiteConfig());
    QVERIFY(store.fetchSubscriptions());
    QVERIFY(store.fetchPaymentMethods());
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
    QVERIFY(store.subscriptionNames().isEmpty());
    QVERIFY(store.paymentMethodNames().isEmpty());
    QVERIFY(!store.hasBalancePaymentMethod());
    QCOMPARE(store.calculatedAmount() + store.couponDiscount(), 0.0);
    QVERIFY(store.getOrderPreview(kBasic, 1, kCard).isEmpty());
    QCOMPARE(store.currencySymbol(), QStringLiteral("€")); // not the account's: it stays

    order.clear();
    auth.logout(); // nothing left to empty
    QVERIFY(order.isEmpty());
}

void StoreHandlerTest::refreshAfterNodeFetch()
{
    AuthHandler auth;
    SubscribeHandler nodes(&auth, nullptr);
    StoreHandler store(&auth, &nodes);
    QVERIFY(auth.login(newAccount(), kPassword));
    QVERIFY(m_panel.resetCounters());
    QSignalSpy methods(&store, &StoreHandler::paymentMethodsChanged);
    emit nodes.nodesFetched();
    QVERIFY(!store.isLoading()); // queued: nothing runs inside the node fetch's signal
    QVERIFY(methods.wait());
    QStringList paths;
    for (const QJsonValue &request : m_panel.requests())
        paths.append(request["path"].toString());
    QCOMPARE(paths, QStringList({kSite, kList, kMethods}));
}

void StoreHandlerTest::catalogueAndMethodMaps()
{
    const QString email = newAccount();
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(store.fetchSubscriptions());
    QVERIFY(store.fetchPaymentMethods());

    const QJsonArray plans = m_panel.call("GET", kList, {}, auth.authToken().toUtf8())["data"]
                                 .toObject()["list"]
                                 .toArray();
    QCOMPARE(store.subscriptionNames().size(), plans.size());
    for (int i = 0; i < plans.size(); ++i) {
        const QJsonObject plan = plans[i].toObject();
        const QVariantMap map = store.getSubscription(i);
        QCOMPARE(map["id"].toInt(), plan["id"].toInt());
        QCOMPARE(map["name"].toString(), plan["name"].toString()); // localised names as sent
        QCOMPARE(map["unit_price"].toDouble(), plan["unit_price"].toDouble() / 100);
        QCOMPARE(map["discount"].toList().size(), plan["discount"].toArray().size());
        QCOMPARE(map["traffic"].toLongLong(), plan["traffic"].toInteger());
    }
    QVERIFY(store.getSubscription(-1).isEmpty());
    QVERIFY(store.getSubscription(int(plans.size())).isEmpty());

    // The card's icon sits in the admin site's assets, the wallet's is a bare file name.
    const QVariantMap card = store.getPaymentMethod(0);
    QCOMPARE(card["id"].toInt(), kCard);
    QCOMPARE(card["icon_url"].toString(),
        QStringLiteral("https://admin.%1/assets/payment/card.svg").arg(m_panel.host()));
    const QVariantMap wallet = store.getPaymentMethod(1);
    QCOMPARE(
        wallet["icon_url"].toString(), QStringLiteral("https://%1/wallet.svg").arg(m_panel.host()));
    QCOMPARE(wallet["fee_percent"].toDouble(), 2.0);
    QVERIFY(store.getPaymentMethod(2).isEmpty());
}

void StoreHandlerTest::paymentMethods_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QList<int>>("disabled");
    QTest::addColumn<QString>("added"); // platform of an extra method named after it
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("balance");
    const QStringList seeded {"Test card", "Test wallet"};
    QTest::newRow("en") << "en" << QList<int>() << "" << seeded << true;
    QTest::newRow("zh") << "zh" << QList<int>() << "" << QStringList {"测试卡", "Test wallet"}
                        << true;
    QTest::newRow("zh-Hant") << "zh-Hant" << QList<int>() << "" << seeded << true;
    QTest::newRow("only a Balance entry")
        << "en" << QList<int> {1, 2, 3} << "Balance" << QStringList() << true;
    QTest::newRow("no balance method") << "en" << QList<int> {1} << "" << seeded << false;
}

void StoreHandlerTest::paymentMethods()
{
    QFETCH(QString, language);
    QFETCH(QList<int>, disabled);
    QFETCH(QString, added);
    QFETCH(QStringList, names);
    QFETCH(bool, balance);
    for (int id : disabled)
        QVERIFY(m_panel.setPaymentMethodEnabled(id, false));
    if (!added.isEmpty()) {
        const int id = int(m_panel
                               .admin("POST", "/admin/payment-methods",
                                   {{"name", added}, {"platform", added}})["id"]
                               .toInt());
        QVERIFY(id > 0);
        m_addedMethods.append(id);
    }
    QSettings().setValue(QStringLiteral("Language/language"), language);

    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    QSignalSpy changed(&store, &StoreHandler::paymentMethodsChanged);
    QVERIFY(store.fetchPaymentMethods());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(store.paymentMethodNames(), names);
    QCOMPARE(store.hasBalancePaymentMethod(), balance);
}

void StoreHandlerTest::localizedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("shown");
    const QString both = QStringLiteral(R"({"zh-CN":"A","en-US":"B"})");
    QTest::newRow("zh") << both << "zh"
                        << "A";
    QTest::newRow("zh-Hant") << both << "zh-Hant"
                             << "B";
    QTest::newRow("en") << both << "en"
                        << "B";
    QTest::newRow("only another language") << R"({"zh-CN":"A"})"
                                           << "en"
                                           << "A";
    QTest::newRow("number") << R"({"en-US":5})"
                            << "en"
                            << "5";
    QTest::newRow("empty object") << "{}"
                                  << "zh"
                                  << "{}";
    QTest::newRow("array") << R"(["A"])"
                           << "en"
                           << R"(["A"])";
    QTest::newRow("plain text") << "Card"
                                << "zh"
                                << "Card";
}

void StoreHandlerTest::localizedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, language);
    QFETCH(QString, shown);
    QCOMPARE(localizedName(name, localeKeyForLanguage(language)), shown);
}

void StoreHandlerTest::iconAddresses_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("address");
    const QString d = QStringLiteral("qivro.example");
    const QString admin = QStringLiteral("https://admin.api.qivro.example");
    QTest::newRow("1 empty") << d << "  " << QString();
    QTest::newRow("2 scheme-relative") << d << "//cdn.example/a.png"
                                       << "https://cdn.example/a.png";
    QTest::newRow("3 full address") << d << " http://cdn.example/a.png "
                                    << "http://cdn.example/a.png";
    QTest::newRow("3 data address") << d << "data:image/png;base64,AAAA"
                                    << "data:image/png;base64,AAAA";
    QTest::newRow("4 asset folder") << d << "assets/a.png" << admin + "/assets/a.png";
    QTest::newRow("5 brand folder") << d << "QIVRO/pay/a.png" << admin + "/pay/a.png";
    QTest::newRow("5 brand of a dotless host") << "localhost"
                                               << "localhost/a.png" << admin + "/a.png";
    QTest::newRow("6 admin host") << d << "Admin.api.qivro.example/a.png"
                                  << "https://Admin.api.qivro.example/a.png";
    QTest::newRow("7 rooted asset folder") << d << "/assets/a.png" << admin + "/assets/a.png";
    QTest::newRow("8 rooted path") << d << "/img/a.png"
                                   << "https://qivro.example/img/a.png";
    QTest::newRow("9 web domain") << d << "qivro.example/a.png"
                                  << "https://qivro.example/a.png";
    QTest::newRow("9 API host") << d << "API.qivro.example/a.png"
                                << "https://API.qivro.example/a.png";
    QTest::newRow("10 bare name") << d << "a.png"
                                  << "https://qivro.example/a.png";
    QTest::newRow("10 asset folder in other case") << d << "Assets/a.png"
                                                   << "https://qivro.example/Assets/a.png";
}

void StoreHandlerTest::iconAddresses()
{
    QFETCH(QString, domain);
    QFETCH(QString, icon);
    QFETCH(QString, address);
    const IconAddress icons(domain, QStringLiteral("api.qivro.example"));
    QCOMPARE(icons.resolve(icon), address);
}

void StoreHandlerTest::previews_data()
{
    QTest::addColumn<bool>("background"); // fetchOrderPreview, else preCreateOrder
    QTest::addColumn<QList<int>>("choice"); // plan, quantity, payment method
    QTest::addColumn<QString>("coupon");
    QTest::addColumn<int>("calls");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("revisions");
    const QList<int> basic3 {kBasic, 3, kCard};
    QTest::newRow("preview") << true << basic3 << "" << 1 << true << 1 << 1;
    QTest::newRow("preview twice") << true << basic3 << "" << 2 << true << 1 << 1;
    QTest::newRow("preview without quantity")
        << true << QList<int> {5, 0, 2} << "" << 1 << false << 0 << 0;
    QTest::newRow("preview without plan")
        << true << QList<int> {0, 1, 2} << "" << 1 << false << 0 << 0;
    QTest::newRow("preview without method")
        << true << QList<int> {1, 1, 0} << "" << 1 << false << 0 << 0;
    QTest::newRow("refused preview") << true << QList<int> {99, 1, 2} << "" << 1 << false << 1 << 0;
    QTest::newRow("price") << false << basic3 << "" << 1 << true << 1 << 1;
    QTest::newRow("price twice") << false << basic3 << "" << 2 << true << 2 << 2;
    QTest::newRow("price with coupon") << false << basic3 << "WELCOME10" << 1 << true << 1 << 0;
}

void StoreHandlerTest::previews()
{
    QFETCH(bool, background);
    QFETCH(QList<int>, choice);
    QFETCH(QString, coupon);
    QFETCH(int, calls);
    QFETCH(bool, result);
    QFETCH(int, requests);
    QFETCH(int, revisions);
    const QString email = newAccount();
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(m_panel.resetCounters());
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    QSignalSpy revised(&store, &StoreHandler::orderPreviewChanged);

    for (int i = 0; i < calls; ++i) {
        QCOMPARE(background ? store.fetchOrderPreview(choice[0], choice[1], choice[2])
                            : store.preCreateOrder(choice[0], choice[1], choice[2], coupon),
            result);
    }
    QCOMPARE(m_panel.requestCount(kPre), requests);
    QCOMPARE(store.orderPreviewRevision(), revisions);
    QCOMPARE(revised.size(), revisions);
    QCOMPARE(failed.size(), 0);

    const QJsonObject panel = panelPrice(email, choice[0], choice[1], choice[2], coupon);
    const QVariantMap cached = store.getOrderPreview(choice[0], choice[1], choice[2]);
    QCOMPARE(cached.isEmpty(), revisions == 0);
    if (!cached.isEmpty())
        QCOMPARE(cached["amount"].toDouble(), panel["amount"].toDouble() / 100);
    if (!background) {
        QCOMPARE(store.calculatedAmount(), panel["amount"].toDouble() / 100);
        QCOMPARE(store.couponDiscount(), panel["coupon_discount"].toDouble() / 100);
    }
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
    QTest::newRow("another plan held") << QStringList {"2@future"} << -1;
    QTest::newRow("expired, then running") << QStringList {"1@past", "1@future"} << 1;
    QTest::newRow("both expired") << QStringList {"1@past", "1@past"} << 0;
    QTest::newRow("never expires") << QStringList {"1@past", "1@0"} << 1;
    QTest::newRow("running in milliseconds") << QStringList {"1@past", "1@futureMs"} << 1;
    QTest::newRow("99,999,999,999 is seconds") << QStringList {"1@past", "1@99999999999"} << 1;
    QTest::newRow("100,000,000,000 is milliseconds")
        << QStringList {"1@100000000000", "1@futureMs"} << 1;
    QTest::newRow("without token") << QStringList {"1@future!"} << -1;
    QTest::newRow("expired with token beats running without")
        << QStringList {"1@future!", "1@past"} << 1;
}

void StoreHandlerTest::renewal()
{
    QFETCH(QStringList, held);
    QFETCH(int, renewed);
    const QString email = newAccount();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<int> ids;
    for (QString spec : held) {
        const bool tokenless = spec.endsWith(QLatin1Char('!'));
        spec.remove(QLatin1Char('!'));
        const QString expiry = spec.section(QLatin1Char('@'), 1);
        const qint64 expireTime = expiry == "past" ? now - 86400
            : expiry == "future"                   ? now + 30 * 86400
            : expiry == "futureMs"                 ? (now + 30 * 86400) * 1000
                                                   : expiry.toLongLong();
        ids.append(int(m_panel
                           .grantSubscription(
                               email, spec.section('@', 0, 0).toInt(), expireTime, tokenless)["id"]
                           .toInt()));
        QVERIFY(ids.last() > 0);
    }
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(email, kPassword));
    QVERIFY(m_panel.resetCounters());

    QVERIFY(!placeOrder(store, kCard).isEmpty());
    QCOMPARE(m_panel.requestCount(kRenewal), renewed >= 0 ? 1 : 0);
    QCOMPARE(m_panel.requestCount(kPurchase), renewed >= 0 ? 0 : 1);
    const QString body
        = m_panel.lastRequest(renewed >= 0 ? kRenewal : kPurchase)["body"].toString();
    const QString expected = renewed >= 0
        ? QStringLiteral(R"({"payment":2,"quantity":1,"user_subscribe_id":%1})")
              .arg(ids.value(renewed))
        : QStringLiteral(R"({"payment":2,"quantity":1,"subscribe_id":1})");
    QCOMPARE(body, expected);
}

void StoreHandlerTest::checkout_data()
{
    QTest::addColumn<int>("payment");
    QTest::addColumn<QJsonObject>("patch"); // members the panel's reply data gets instead
    QTest::addColumn<QString>("outcome"); // "page", "balance", or the reported error
    QTest::newRow("payment page") << kCard << QJsonObject() << "page";
    QTest::newRow("balance") << 1 << QJsonObject() << "balance";
    QTest::newRow("balance, empty address")
        << kCard << QJsonObject {{"type", "balance"}, {"checkout_url", ""}} << "balance";
    QTest::newRow("Balance in another case")
        << kCard << QJsonObject {{"type", "Balance"}, {"checkout_url", ""}}
        << "No checkout URL in response";
    QTest::newRow("address that is no web page")
        << kCard << QJsonObject {{"checkout_url", "file:///etc/passwd"}}
        << "No checkout URL in response";
    QTest::newRow("balance through the balance order") << -1 << QJsonObject() << "balance";
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
    if (payment < 0)
        QVERIFY(store.createBalanceOrder(kBasic, 1));
    else
        QVERIFY(store.createOrder(kBasic, 1, payment));
    QCOMPARE(created.size(), 1);
    const QString orderNo = created.at(0).at(0).toString();
    if (payment < 0)
        QCOMPARE(QJsonDocument::fromJson(
                     m_panel.lastRequest(kPurchase)["body"].toString().toUtf8())["payment"]
                     .toInt(),
            1);
    TestPanel::Fault fault;
    fault.data = patch;
    QVERIFY(patch.isEmpty() || m_panel.setFault(kCheckout, fault));

    QSignalSpy page(&store, &StoreHandler::checkoutReady);
    QSignalSpy balance(&store, &StoreHandler::balanceCheckoutCompleted);
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    QCOMPARE(store.checkoutOrder(orderNo), outcome == "page" || outcome == "balance");
    const QString sentBody = QStringLiteral(R"({"orderNo":"%1","returnUrl":"%2"})")
                                 .arg(orderNo, QStringLiteral("https://") + m_panel.host());
    QCOMPARE(m_panel.lastRequest(kCheckout)["body"].toString(), sentBody);
    QCOMPARE(texts(page),
        outcome == "page" ? QStringList {m_panel.url("/pay/" + orderNo).toString()}
                          : QStringList());
    QCOMPARE(texts(balance), outcome == "balance" ? QStringList {orderNo} : QStringList());
    QCOMPARE(texts(failed),
        outcome == "page" || outcome == "balance" ? QStringList() : QStringList {outcome});
    QVERIFY(!store.isLoading());
}

void StoreHandlerTest::orderStatus_data()
{
    QTest::addColumn<QString>("situation"); // "status:<n>" set on the panel, or a fault
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    for (int status : {1, 2, 3, 4, 5})
        QTest::addRow("status %d", status)
            << QStringLiteral("status:%1").arg(status) << status << "";
    QTest::newRow("refused without msg") << "msg:" << 0 << "Failed to fetch order status";
    QTest::newRow("refused") << "msg:Order is gone" << 0 << "Order is gone";
    QTest::newRow("server error") << "503" << 0 << "Server error, please try again later";
    QTest::newRow("dropped connection") << "drop" << 0 << "Unable to connect to server";
    QTest::newRow("no order number") << "none" << 0 << "Missing order number";
    QTest::newRow("signed out") << "signed out" << 0 << "Not logged in";
}

void StoreHandlerTest::orderStatus()
{
    QFETCH(QString, situation);
    QFETCH(int, status);
    QFETCH(QString, error);
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    QString orderNo = placeOrder(store, kCard);
    QVERIFY(!orderNo.isEmpty());
    if (situation.startsWith("status:"))
        QVERIFY(m_panel.setOrderStatus(orderNo, situation.mid(7).toInt()));
    else if (situation == "none")
        orderNo.clear();
    else if (situation == "signed out")
        auth.logout();
    else
        QVERIFY(m_panel.setFault(kDetail, faultFrom(situation)));
    QVERIFY(m_panel.resetCounters());

    QSignalSpy updated(&store, &StoreHandler::orderStatusUpdated);
    QSignalSpy failed(&store, &StoreHandler::orderStatusFailed);
    QCOMPARE(store.fetchOrderStatus(orderNo), error.isEmpty());
    QCOMPARE(updated.size(), error.isEmpty() ? 1 : 0);
    if (error.isEmpty()) {
        QCOMPARE(updated.at(0), QVariantList({orderNo, status}));
    } else {
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0), QVariantList({orderNo, error}));
    }
    const bool sent = situation != "none" && situation != "signed out";
    QCOMPARE(m_panel.requestCount(kDetail) > 0, sent);
    if (sent)
        QCOMPARE(
            m_panel.lastRequest(kDetail)["query"].toObject(), QJsonObject({{"order_no", orderNo}}));
}

void StoreHandlerTest::orderStatusLatch_data()
{
    QTest::addColumn<QString>("meanwhile"); // what the page does while the first poll waits
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("updates");
    QTest::newRow("poll again") << "poll" << 1 << 1;
    QTest::newRow("poll another order") << "poll other" << 1 << 1;
    QTest::newRow("cancel") << "cancel" << 1 << 0;
    QTest::newRow("cancel and poll again") << "cancel, poll" << 2 << 1;
    QTest::newRow("cancel a failing poll") << "cancel, fail" << 1 << 0;
}

void StoreHandlerTest::orderStatusLatch()
{
    QFETCH(QString, meanwhile);
    QFETCH(int, requests);
    QFETCH(int, updates);
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(auth.login(newAccount(), kPassword));
    const QString orderNo = placeOrder(store, kCard);
    QVERIFY(!orderNo.isEmpty());
    TestPanel::Fault slow;
    slow.delayMs = 300;
    slow.status = meanwhile.endsWith("fail") ? 502 : 0;
    QVERIFY(m_panel.setFault(kDetail, slow));
    QVERIFY(m_panel.resetCounters());

    QSignalSpy updated(&store, &StoreHandler::orderStatusUpdated);
    QSignalSpy failed(&store, &StoreHandler::orderStatusFailed);
    bool innerResult = false;
    bool ran = false;
    QTimer::singleShot(50, &store, [&] {
        ran = true;
        if (meanwhile.startsWith("cancel"))
            store.cancelOrderStatusPolling();
        innerResult = meanwhile.endsWith("poll") || meanwhile == "poll other"
            ? store.fetchOrderStatus(meanwhile == "poll other" ? "other" : orderNo)
            : true;
    });
    store.fetchOrderStatus(orderNo);
    QVERIFY(ran);
    QVERIFY(innerResult);
    QCOMPARE(m_panel.requestCount(kDetail), requests);
    QCOMPARE(updated.size(), updates);
    QCOMPARE(failed.size(), 0);
    for (const QList<QVariant> &update : updated)
        QCOMPARE(update.at(0).toString(), orderNo);
}

void StoreHandlerTest::signedOut_data()
{
    QTest::addColumn<QString>("operation");
    for (const char *operation :
        {"catalogue", "payment methods", "price", "preview", "order", "balance order", "checkout"})
        QTest::newRow(operation) << operation;
}

void StoreHandlerTest::signedOut()
{
    QFETCH(QString, operation);
    AuthHandler auth;
    StoreHandler store(&auth, nullptr);
    QVERIFY(m_panel.resetCounters());
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    const bool result = operation == "catalogue" ? store.fetchSubscriptions()
        : operation == "payment methods"         ? store.fetchPaymentMethods()
        : operation == "price"                   ? store.preCreateOrder(kBasic, 1, kCard)
        : operation == "preview"                 ? store.fetchOrderPreview(kBasic, 1, kCard)
        : operation == "order"                   ? store.createOrder(kBasic, 1, kCard)
        : operation == "balance order"           ? store.createBalanceOrder(kBasic, 1)
                                                 : store.checkoutOrder(QStringLiteral("1"));
    QVERIFY(!result);
    // Background previews fail silently; everything else says why.
    QCOMPARE(texts(failed), operation == "preview" ? QStringList() : QStringList {"Not logged in"});
    QVERIFY(m_panel.requests().isEmpty());
    QVERIFY(!store.isLoading());
}

void StoreHandlerTest::siteConfig_data()
{
    QTest::addColumn<QJsonObject>("currency"); // replaces the seeded one; empty: left out
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("error");
    const QJsonObject euro {{"currency_unit", "EUR"}, {"currency_symbol", "€"}};
    QTest::newRow("symbol") << euro << ""
                            << "€"
                            << "";
    QTest::newRow("no currency") << QJsonObject() << ""
                                 << ""
                                 << "";
    QTest::newRow("server error") << euro << "502"
                                  << "$"
                                  << "Server error, please try again later";
    QTest::newRow("malformed") << euro << "malformed"
                               << "$"
                               << "Failed to fetch site config";
    QTest::newRow("refused") << euro << "msg:Closed"
                             << "$"
                             << "Closed";
}

void StoreHandlerTest::siteConfig()
{
    QFETCH(QJsonObject, currency);
    QFETCH(QString, fault);
    QFETCH(QString, symbol);
    QFETCH(QString, error);
    QJsonObject site = m_seededSite;
    site.remove("currency");
    if (!currency.isEmpty())
        site["currency"] = currency;
    QVERIFY(m_panel.configure({{"site", site}}));
    QVERIFY(fault.isEmpty() || m_panel.setFault(kSite, faultFrom(fault)));
    AuthHandler auth; // signed out: the site configuration needs no account
    StoreHandler store(&auth, nullptr);
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    QSignalSpy changed(&store, &StoreHandler::siteConfigChanged);
    QCOMPARE(store.fetchSiteConfig(), error.isEmpty());
    QCOMPARE(store.currencySymbol(), symbol);
    QCOMPARE(texts(failed), error.isEmpty() ? QStringList() : QStringList {error});
    QCOMPARE(changed.size(), error.isEmpty() ? 1 : 0);
}

void StoreHandlerTest::listFaults_data()
{
    // A fault on both lists ("auth:<style>": the token refused in that style and the saved
    // password refused too; "recovered": refused, then renewed with the saved password).
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("catalogueError");
    QTest::addColumn<QString>("methodsError");
    QTest::newRow("server error") << "502"
                                  << "Server error, please try again later"
                                  << "Server error, please try again later";
    QTest::newRow("malformed JSON") << "malformed"
                                    << "Failed to fetch subscriptions"
                                    << "Failed to fetch payment methods";
    QTest::newRow("refused without msg") << "msg:"
                                         << "Failed to fetch subscriptions"
                                         << "Failed to fetch payment methods";
    QTest::newRow("refused") << "msg:Store closed"
                             << "Store closed"
                             << "Store closed";
    QTest::newRow("dropped connection") << "drop"
                                        << "Unable to connect to server"
                                        << "Unable to connect to server";
    QTest::newRow("invalid access") << "auth:invalid-access"
                                    << "Invalid Access"
                                    << "Invalid Access";
    QTest::newRow("login first") << "auth:login-first"
                                 << "请先登录"
                                 << "请先登录";
    QTest::newRow("HTTP 401") << "auth:http-401" << kAuthExpired << kAuthExpired;
    QTest::newRow("recovered") << "recovered"
                               << ""
                               << "";
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
    QVERIFY(store.fetchSubscriptions());
    QVERIFY(store.fetchPaymentMethods());
    const QStringList plans = store.subscriptionNames();
    const QStringList methods = store.paymentMethodNames();
    // An order makes the next fetches go to the server while the lists stay.
    QVERIFY(!placeOrder(store, kCard).isEmpty());

    if (fault.startsWith("auth:") || fault == "recovered") {
        QVERIFY(m_panel.setAuthStyle(fault == "recovered" ? "invalid-access" : fault.mid(5)));
        QVERIFY(m_panel.revokeTokens(email));
        if (fault != "recovered")
            QVERIFY(m_panel.setFault(kLogin, faultFrom("msg:Wrong password")));
    } else {
        QVERIFY(m_panel.setFault(kList, faultFrom(fault)));
        QVERIFY(m_panel.setFault(kMethods, faultFrom(fault)));
    }
    QVERIFY(m_panel.resetCounters());
    QSignalSpy failed(&store, &StoreHandler::operationFailed);
    QSignalSpy changed(&store, &StoreHandler::subscriptionsChanged);
    QCOMPARE(store.fetchSubscriptions(), catalogueError.isEmpty());
    QCOMPARE(store.fetchPaymentMethods(), methodsError.isEmpty());
    QStringList errors {catalogueError, methodsError};
    errors.removeAll(QString());
    QCOMPARE(texts(failed), errors);
    QCOMPARE(changed.size(), catalogueError.isEmpty() ? 1 : 0);
    QCOMPARE(store.subscriptionNames(), plans);
    QCOMPARE(store.paymentMethodNames(), methods);
    QVERIFY(store.hasBalancePaymentMethod());
    QVERIFY(!store.isLoading());
    if (fault == "recovered")
        QCOMPARE(m_panel.requestCount(kList), 2); // refused once, then with the renewed token
}

QTEST_GUILESS_MAIN(StoreHandlerTest)
#include "tst_storehandler.moc"
