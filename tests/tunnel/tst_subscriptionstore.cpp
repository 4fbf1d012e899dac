#include "httpstestserver.h"
#include "tunneltest.h"

#include <QHttpServerRequest>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTest>

namespace {

QString ssLink(const QString &tag, int port = 8388)
{
    const QByteArray credentials
        = QByteArrayLiteral("aes-256-gcm:pw")
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("ss://%1@127.0.0.1:%2#%3")
        .arg(QString::fromLatin1(credentials))
        .arg(port)
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(tag)));
}

QJsonObject outbound(const QString &type, const QString &tag)
{
    return QJsonObject {{"type", type}, {"tag", tag}};
}

QJsonObject configWith(const QJsonArray &outbounds)
{
    return QJsonObject {{"outbounds", outbounds}};
}

} // namespace

class SubscriptionStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void extraction_data();
    void extraction();
    void storeReplaceAndReload();
    void addSubURL_data();
    void addSubURL();

private:
    int rowCount(const QString &name);

    TestProfile m_profile;
    HttpsTestServer m_https;
    QMap<QString, QByteArray> m_bodies; // served at /sub/<name>, Base64-encoded on the way out
    QByteArray m_userAgent;
};

void SubscriptionStoreTest::initTestCase()
{
    QVERIFY(m_profile.open("subscription-store"));

    m_https.server().route("/sub/<arg>", [this](const QString &name, const QHttpServerRequest &r) {
        m_userAgent = r.value("User-Agent");
        if (!m_bodies.contains(name))
            return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound);
        return QHttpServerResponse("text/plain", m_bodies.value(name).toBase64());
    });
    QVERIFY2(m_https.start(), qPrintable(m_https.errorString()));
}

void SubscriptionStoreTest::init()
{
    QVERIFY(m_profile.database->executeSql("DELETE FROM subscriptions", true));
}

int SubscriptionStoreTest::rowCount(const QString &name)
{
    QSqlQuery &query = m_profile.database->getQuery();
    query.prepare("SELECT COUNT(*) FROM subscriptions WHERE name = ?");
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toInt();
}

void SubscriptionStoreTest::extraction_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<int>("outbounds");
    QTest::addColumn<QStringList>("tags");

    QTest::newRow("groups and built-ins left out, repeated tag once") << configWith(
        {outbound("Selector", "proxy"), outbound("direct", "direct"), outbound("dns", "dns-out"),
            outbound("shadowsocks", "HK"), outbound("BLOCK", "block"), outbound("URLTest", "auto"),
            outbound("vless", "HK")}) << 2 << QStringList {"HK"};
    QTest::newRow("empty tag and missing type stay, without a tag") << configWith(
        {outbound("vless", QString()), QJsonObject {{"tag", "JP"}}, QJsonValue(5),
            outbound("trojan", "US")}) << 3 << QStringList {"JP", "US"};
    QTest::newRow("outbounds is an object")
        << QJsonObject {{"outbounds", outbound("vless", "A")}} << 0 << QStringList {};
}

void SubscriptionStoreTest::extraction()
{
    QFETCH(QJsonObject, config);
    QFETCH(int, outbounds);
    QFETCH(QStringList, tags);
    const Subscription result = SubscriptionHandler::extractFromConfig(config);
    QCOMPARE(result.outbounds.size(), outbounds);
    QCOMPARE(result.tags, tags);
}

void SubscriptionStoreTest::storeReplaceAndReload()
{
    SubscriptionHandler store(*m_profile.database);
    QSignalSpy names(&store, &SubscriptionHandler::subscriptionNamesChanged);
    const QJsonObject first = configWith({outbound("shadowsocks", "B-1")});
    const QJsonObject second = configWith({outbound("vless", "B-2"), outbound("vless", "B-3")});

    QVERIFY(store.addSubJson("b", first));
    QVERIFY(store.addSubJson("a", first));
    QCOMPARE(names.count(), 2);
    QCOMPARE(store.subscriptionNames(), QStringList({"a", "b"}));

    QVERIFY(store.addSubJson("b", second));
    QSqlQuery &query = m_profile.database->getQuery();
    QVERIFY(query.exec("SELECT id FROM subscriptions WHERE name = 'b'"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QString::number(SubscriptionHandler::subscriptionId("b")));
    QVERIFY(!query.next()); // replaced in place
    QCOMPARE(store.getSubscription("b").tags, QList<QString>({"B-2", "B-3"}));
    QCOMPARE(store.getSubscription("B").outbounds.size(), 0);

    // A row that is not JSON stays in the table but not in the cache; a new instance (the next
    // start) reads the rest back.
    QVERIFY(query.exec(QStringLiteral(
        "INSERT INTO subscriptions (id, name, content) VALUES ('1', 'broken', '{not json')")));
    SubscriptionHandler restarted(*m_profile.database);
    {
        LogCapture log;
        restarted.loadFromDatabase();
        QCOMPARE(LogCapture::count("Invalid JSON for entry: broken"), 1);
    }
    QCOMPARE(restarted.subscriptionNames(), QStringList({"a", "b"}));
    QCOMPARE(rowCount("broken"), 1);

    // A fetch that fails keeps what was stored; a fetch that works replaces in place, as above.
    LogCapture log;
    QVERIFY(!restarted.addSubURL(m_https.url("/sub/missing")));
    QCOMPARE(LogCapture::count("Failed to load subscription: "), 1);
    QCOMPARE(restarted.subscriptionNames(), QStringList({"a", "b"}));
}

void SubscriptionStoreTest::addSubURL_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<int>("unhandled");

    const QByteArray a = ssLink("HK-01").toUtf8();
    const QByteArray b = ssLink("日本 02", 8389).toUtf8();
    QTest::newRow("lines without :// skipped quietly")
        << "# nodes\r\n   \n" + a + "\r\nSTATUS=ok\n" + b << true
        << QStringList {"HK-01", "日本 02"} << 0;
    QTest::newRow("unknown schemes logged, the rest kept")
        << "socks://127.0.0.1:1080#x\n" + b + "\nwireguard://k@127.0.0.1:51820" << true
        << QStringList {"日本 02"} << 2;
    QTest::newRow("every link unparseable: nothing stored")
        << QByteArray("socks://127.0.0.1:1080#x\r\nfoo://bar\n") << false << QStringList {} << 2;
}

void SubscriptionStoreTest::addSubURL()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, stored);
    QFETCH(QStringList, tags);
    QFETCH(int, unhandled);

    SubscriptionHandler store(*m_profile.database);
    m_bodies.insert("case", body);
    const QUrl url = m_https.url("/sub/case?token=t");
    LogCapture log;
    QCOMPARE(store.addSubURL(url), stored);
    QCOMPARE(m_userAgent, QByteArrayLiteral("qivro/1.0.0 (windows)"));
    QCOMPARE(LogCapture::count("Cannot handle url: "), unhandled);
    // A link's authority may be its credentials: logged without what follows the scheme.
    QCOMPARE(LogCapture::count("://***"), unhandled);
    QCOMPARE(rowCount(url.toString()), stored ? 1 : 0);
    QCOMPARE(store.getSubscription(url.toString()).tags, tags);
}

QTEST_GUILESS_MAIN(SubscriptionStoreTest)
#include "tst_subscriptionstore.moc"
