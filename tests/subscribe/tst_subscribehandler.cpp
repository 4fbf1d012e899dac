// Subscriptions against the development panel over HTTPS, downloaded into a real local store:
// which ones are kept, what a failure leaves behind, the auth-failure recovery, the free plan
// and the clusters read back from the store.
#include "database/databasehandler.h"
#include "network/apiendpoints.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "panelsuite.h"
#include "subscription/subscriptionhandler.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <memory>

namespace {

const QString kUserSubscribe = QStringLiteral("/v1/public/user/subscribe");
const QString kDownload = QStringLiteral("/api/subscribe");
const QString kLogin = QStringLiteral("/v1/auth/login");
const QString kClaim = QStringLiteral("/v1/public/subscribe/claim_free");

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

const QStringList kNodeNames {u("香港-01"), u("美国-01"), u("香港-02 VIP"), u("日本-01"), "Home"};

// One user's session and handler over the suite's store.
struct Client
{
    explicit Client(SubscriptionHandler *store)
        : handler(&auth, store)
    { }
    AuthHandler auth;
    SubscribeHandler handler;
};

} // namespace

class SubscribeHandlerTest : public PanelSuite
{
    Q_OBJECT

private:
    std::unique_ptr<DatabaseHandler> m_database;
    std::unique_ptr<SubscriptionHandler> m_store;
    int m_nodesPlan = 0;
    int m_emptyPlan = 0;
    QString m_email; // of the last client()

    // A new account holding the given subscriptions ({plan, expire_time}), signed in unless
    // `signIn` is false. Tokens go to `tokens`.
    std::unique_ptr<Client> client(const QList<QPair<int, qint64>> &subscriptions = {},
        QStringList *tokens = nullptr, bool signIn = true)
    {
        m_email = newAccount();
        auto session = std::make_unique<Client>(m_store.get());
        if (m_email.isEmpty())
            return {};
        for (const auto &[plan, expireTime] : subscriptions) {
            const QString token = grant(plan, expireTime);
            if (tokens)
                tokens->append(token);
        }
        if (signIn && !session->auth.login(m_email, kPassword))
            return {};
        return session;
    }
    QString grant(int plan, qint64 expireTime = 0)
    {
        return m_panel.grantSubscription(m_email, plan, expireTime).value("token").toString();
    }
    // Changes the panel's own records where its admin API has no switch for it.
    bool panelSql(const QString &statement, const QString &token)
    {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "panel");
            db.setDatabaseName(m_panel.dataDir() + QStringLiteral("/panel.db"));
            QSqlQuery query(db);
            ok = db.open() && query.prepare(statement);
            query.addBindValue(token);
            ok = ok && query.exec();
            if (!ok)
                qWarning() << query.lastError().text();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("panel"));
        return ok;
    }
    QStringList downloadedTokens()
    {
        QStringList tokens;
        for (const QJsonValue &request : m_panel.requests(kDownload))
            tokens.append(request.toObject().value("query")["token"].toString());
        return tokens;
    }

private slots:
    void initTestCase();
    void validity_data();
    void validity();
    void secondFetch_data();
    void secondFetch();
    void refusals_data();
    void refusals();
    void claimFree_data();
    void claimFree();
    void nodesAndClusters();
};

void SubscribeHandlerTest::initTestCase()
{
    PanelSuite::initTestCase();
    m_database = std::make_unique<DatabaseHandler>();
    QVERIFY(m_database->initializeDatabase());
    m_store = std::make_unique<SubscriptionHandler>(*m_database);

    m_nodesPlan = m_panel.admin("POST", "/admin/plans", {{"name", "Nodes"}}).value("id").toInt();
    m_emptyPlan = m_panel.admin("POST", "/admin/plans", {{"name", "Empty"}}).value("id").toInt();
    QVERIFY2(m_nodesPlan > 0 && m_emptyPlan > 0, qPrintable(m_panel.lastError()));
    const QByteArray user
        = QByteArrayLiteral("aes-256-gcm:node-secret")
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    int port = 20001;
    for (const QString &name : kNodeNames) {
        const QString link = QStringLiteral("ss://%1@127.0.0.1:%2#%3")
                                 .arg(QString::fromLatin1(user))
                                 .arg(port++)
                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(name)));
        QVERIFY2(!m_panel
                      .admin("POST", "/admin/nodes",
                          {{"name", name}, {"link", link}, {"plan_ids", QJsonArray {m_nodesPlan}}})
                      .isEmpty(),
            qPrintable(m_panel.lastError()));
    }
}

void SubscribeHandlerTest::validity_data()
{
    QTest::addColumn<qint64>("expireTime");
    QTest::addColumn<bool>("dropToken");
    QTest::addColumn<bool>("kept");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    // The panel compares in seconds and serves all of these: only the client's reading decides.
    QTest::newRow("ten digits, ahead") << now + 3600 << false << true;
    QTest::newRow("thirteen digits, ahead") << (now + 3600) * 1000 << false << true;
    QTest::newRow("thirteen digits, past") << (now - 60) * 1000 << false << false;
    QTest::newRow("no token") << qint64(0) << true << false;
}

void SubscribeHandlerTest::validity()
{
    QFETCH(qint64, expireTime);
    QFETCH(bool, dropToken);
    QFETCH(bool, kept);
    QStringList tokens;
    const auto c = client({{m_nodesPlan, expireTime}}, &tokens);
    QVERIFY(c);
    if (dropToken)
        QVERIFY(panelSql("UPDATE user_subscriptions SET token = '' WHERE token = ?", tokens[0]));

    QSignalSpy fetched(&c->handler, &SubscribeHandler::nodesFetched);
    QVERIFY(m_panel.resetCounters());
    QVERIFY(c->handler.fetchNodes());
    QCOMPARE(fetched.size(), 1);
    QCOMPARE(c->handler.subscriptionCount(), kept ? 1 : 0);
    QCOMPARE(downloadedTokens(), kept ? tokens : QStringList());
    if (kept) {
        const QVariantMap entry = c->handler.getSubscription(0);
        const qint64 ms = expireTime < 100000000000LL ? expireTime * 1000 : expireTime;
        QCOMPARE(entry.value("expire_time").toDouble(), double(ms));
    }
}

void SubscribeHandlerTest::secondFetch_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("error"); // empty: the fetch succeeds
    QTest::newRow("empty list") << "delete" << QString();
    // The second has no node the store could take; the third is never asked for.
    QTest::newRow("config failing mid-way") << "add"
                                            << "Failed to fetch subscription config";
}

// Both empty a filled cache, once.
void SubscribeHandlerTest::secondFetch()
{
    QFETCH(QString, change);
    QFETCH(QString, error);
    QStringList tokens;
    const auto c = client({{m_nodesPlan, 0}}, &tokens);
    QVERIFY(c && c->handler.fetchNodes());
    QCOMPARE(c->handler.subscriptionCount(), 1);
    if (change == QLatin1String("delete")) {
        QVERIFY(panelSql("DELETE FROM user_subscriptions WHERE token = ?", tokens[0]));
        tokens.clear();
    } else {
        tokens.append(grant(m_emptyPlan));
        grant(m_nodesPlan);
    }

    QVERIFY(m_panel.resetCounters());
    QSignalSpy changed(&c->handler, &SubscribeHandler::subscriptionsChanged);
    QSignalSpy fetched(&c->handler, &SubscribeHandler::nodesFetched);
    QSignalSpy failed(&c->handler, &SubscribeHandler::fetchFailed);
    QCOMPARE(c->handler.fetchNodes(), error.isEmpty());
    QCOMPARE(c->handler.subscriptionCount(), 0);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(fetched.size(), error.isEmpty() ? 1 : 0);
    QCOMPARE(failed.value(0).value(0).toString(), error);
    QVERIFY(!c->handler.isLoading());
    QCOMPARE(downloadedTokens(), tokens);
}

void SubscribeHandlerTest::refusals_data()
{
    QTest::addColumn<QString>("setup"); // what goes wrong
    QTest::addColumn<QString>("error"); // empty: the fetch succeeds
    QTest::addColumn<int>("listRequests");
    QTest::addColumn<int>("logins");
    QTest::addColumn<bool>("offline"); // the kept list is served, the panel retried later
    const auto row = [](const char *name, const char *setup, const QString &error, int lists,
                         int logins, bool offline = false) {
        QTest::newRow(name) << setup << error << lists << logins << offline;
    };
    row("token refused, renewed", "revoke", "", 2, 1);
    row("asked again while waiting", "slow", "", 1, 0); // the second call joins the first
    row("still refused after renewal", "msg:Invalid Access", kAuthExpired, 2, 1);
    row("renewal refused", "revoke, login refused", kAuthExpired, 1, 1);
    row("HTTP 401, no renewal", "revoke http-401", kAuthExpired, 1, 0);
    row("other refusal", "msg:Service paused", "Service paused", 1, 0);
    // Not the panel's envelope, or the panel down: what was listed before stays on offer.
    row("server error", "502", "", 1, 0, true);
}

void SubscribeHandlerTest::refusals()
{
    QFETCH(QString, setup);
    QFETCH(QString, error);
    QFETCH(int, listRequests);
    QFETCH(int, logins);
    QFETCH(bool, offline);
    const auto c = client({{m_nodesPlan, 0}});
    QVERIFY(c && c->handler.fetchNodes());
    const QString token = c->auth.authToken();

    if (setup.startsWith(QLatin1String("revoke"))) {
        QVERIFY(m_panel.revokeTokens(m_email));
        if (setup.contains(QLatin1String("http-401")))
            QVERIFY(m_panel.setAuthStyle(QStringLiteral("http-401")));
        if (setup.endsWith(QLatin1String("login refused")))
            QVERIFY(m_panel.setFault(kLogin, QStringLiteral("msg:Incorrect password")));
    } else if (setup == QLatin1String("slow")) {
        TestPanel::Fault slow;
        slow.delayMs = 400;
        QVERIFY(m_panel.setFault(kUserSubscribe, slow));
    } else {
        QVERIFY(m_panel.setFault(kUserSubscribe, setup));
    }
    QVERIFY(m_panel.resetCounters());

    QSignalSpy failed(&c->handler, &SubscribeHandler::fetchFailed);
    QSignalSpy fetched(&c->handler, &SubscribeHandler::nodesFetched);
    QSignalSpy loading(&c->handler, &SubscribeHandler::isLoadingChanged);
    bool again = setup != QLatin1String("slow");
    if (!again)
        QTimer::singleShot(50, &c->handler, [&] { again = c->handler.fetchNodes(); });
    const bool result = error.isEmpty();
    QCOMPARE(c->handler.fetchNodes(), result);
    QVERIFY(again);
    QCOMPARE(loading.size(), 2);
    QCOMPARE(m_panel.requestCount(kUserSubscribe), listRequests);
    QCOMPARE(m_panel.requestCount(kLogin), logins);
    QCOMPARE(fetched.size(), result ? 1 : 0);
    QCOMPARE(failed.value(0).value(0).toString(), error);
    QCOMPARE(c->handler.offline(), offline);
    // A failure before the list arrives keeps the cache; nothing here signs out.
    QCOMPARE(c->handler.subscriptionCount(), 1);
    QVERIFY(c->auth.isLoggedIn());
    if (listRequests == 2) { // the retry carries the renewed token
        const QJsonArray sent = m_panel.requests(kUserSubscribe);
        QCOMPARE(sent.at(0)["headers"]["authorization"].toString(), token);
        QCOMPARE(sent.at(1)["headers"]["authorization"].toString(), c->auth.authToken());
    }
}

void SubscribeHandlerTest::claimFree_data()
{
    QTest::addColumn<QString>("style"); // of the panel's cooldown answer; empty: no cooldown
    QTest::addColumn<QString>("fault"); // on the claim: "msg:<text>", an HTTP status
    QTest::addColumn<QString>("outcome"); // "claimed", "wait:<seconds>" or "failed:<text>"
    const auto row
        = [](const char *name, const char *style, const char *fault, const QString &outcome) {
              QTest::newRow(name) << style << fault << outcome;
          };
    row("claimed", "", "", "claimed");
    row("remaining time in data", "data", "", "wait:~3600");
    row("seconds in the msg", "", "msg:Please wait 120 seconds before claiming again", "wait:120");
    row("zero seconds", "", "msg:Wait 0 seconds", "failed:Wait 0 seconds");
    row("no msg", "", "msg:", "failed:Failed to claim free plan");
    row("signed out", "", "signed out", "failed:Not logged in");
}

void SubscribeHandlerTest::claimFree()
{
    QFETCH(QString, style);
    QFETCH(QString, fault);
    QFETCH(QString, outcome);
    QJsonObject config {
        {"free_plan_id", m_nodesPlan}, {"free_cooldown", style.isEmpty() ? 0 : 3600}};
    if (!style.isEmpty())
        config.insert("free_cooldown_style", style);
    QVERIFY(m_panel.configure(config));
    const auto c = client({}, nullptr, fault != QLatin1String("signed out"));
    QVERIFY(c);
    if (!style.isEmpty()) // claimed once already: the cooldown runs
        QVERIFY(c->handler.claimFreeSubscription());
    if (fault.startsWith(QLatin1String("msg:")) || fault.toInt() > 0)
        QVERIFY(m_panel.setFault(kClaim, fault));

    QSignalSpy claimed(&c->handler, &SubscribeHandler::freeSubscriptionClaimed);
    QSignalSpy unavailable(&c->handler, &SubscribeHandler::freeSubscriptionClaimUnavailable);
    QSignalSpy failed(&c->handler, &SubscribeHandler::freeSubscriptionClaimFailed);
    QSignalSpy fetched(&c->handler, &SubscribeHandler::nodesFetched);
    const bool result = c->handler.claimFreeSubscription();
    QCOMPARE(result, outcome == QLatin1String("claimed"));
    QCOMPARE(claimed.size(), result ? 1 : 0);
    QCOMPARE(fetched.size(), result ? 1 : 0); // the new plan is fetched at once
    QCOMPARE(c->handler.subscriptionCount(), result || !style.isEmpty() ? 1 : 0);
    QCOMPARE(unavailable.size(), outcome.startsWith(QLatin1String("wait:")) ? 1 : 0);
    QCOMPARE(failed.value(0).value(0).toString(),
        outcome.startsWith(QLatin1String("failed:")) ? outcome.mid(7) : QString());
    if (outcome.startsWith(QLatin1String("wait:~"))) {
        const qint64 seconds = unavailable.at(0).at(0).toLongLong();
        QVERIFY2(seconds > 3590 && seconds <= 3600, qPrintable(QString::number(seconds)));
    } else if (outcome.startsWith(QLatin1String("wait:"))) {
        QCOMPARE(unavailable.at(0).at(0).toLongLong(), outcome.mid(5).toLongLong());
    }
}

// The countries offered are the panel road's.
void SubscribeHandlerTest::nodesAndClusters()
{
    QStringList tokens;
    const auto c = client({{m_nodesPlan, 0}}, &tokens);
    QVERIFY(c && c->handler.fetchNodes());
    const QString url = ApiEndpoints::Subscribe::Config + QStringLiteral("?token=") + tokens[0];
    QCOMPARE(c->handler.getSubscriptionUrl(0), url);
    QCOMPARE(m_store->getSubscription(url).tags, kNodeNames);
    const QVariantMap entry = c->handler.getSubscription(0);
    QCOMPARE(entry.value("name").toString(), QStringLiteral("Nodes"));
    QCOMPARE(entry.value("node_count").toInt(), 4);
    QVERIFY(c->handler.getSubscription(1).isEmpty() && c->handler.getNodes(1).isEmpty());
    QCOMPARE(c->handler.clusterForTag(0, u("香港-02 VIP")), u("香港"));
    QCOMPARE(c->handler.randomTagForSubscription(0), u("香港-02 VIP"));
    QCOMPARE(c->handler.randomTagForCluster(0, u("日本")), u("日本-01"));

    // Signing out forgets the panel's list once; a second sign-out has nothing to forget.
    QSignalSpy changed(&c->handler, &SubscribeHandler::subscriptionsChanged);
    c->auth.logout();
    c->auth.logout();
    QCOMPARE(c->handler.subscriptionCount(), 0);
    QCOMPARE(changed.size(), 1);
}

QTEST_GUILESS_MAIN(SubscribeHandlerTest)
#include "tst_subscribehandler.moc"
