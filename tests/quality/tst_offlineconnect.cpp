// Connecting without the panel: after one good start, a start with the panel stopped (or
// answering 502) still offers the account's stored subscription, connects through it, says the
// account data is not fresh, and refreshes by itself once the panel is back. Another account on
// the same machine is not offered what this one stored.
#include "qualityworld.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString kUserSubscribe = QStringLiteral("/v1/public/user/subscribe");

} // namespace

class OfflineConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startWithoutPanel_data();
    void startWithoutPanel();

private:
    QualityWorld m_world;
    QString m_url;
    QString m_planName;
};

void OfflineConnectTest::initTestCase()
{
    if (!QualityWorld::available())
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    QVERIFY2(m_world.start({{QStringLiteral("日本-01")}}), qPrintable(m_world.lastError()));
    QVERIFY(!m_world.panel.createUser(QStringLiteral("other@example.test"), "other-pw1").isEmpty());
    // The first run of the program: signed in, subscriptions fetched and stored.
    QualityClient first;
    m_url = first.signInAndFetch();
    QVERIFY(!m_url.isEmpty());
    m_planName = first.subscriptions.getSubscription(0).value("name").toString();
    QVERIFY(!m_planName.isEmpty());
}

void OfflineConnectTest::startWithoutPanel_data()
{
    QTest::addColumn<QString>("outage"); // "stopped" or an HTTP status for every request
    QTest::addColumn<bool>("otherAccount"); // the saved session is another account's
    QTest::newRow("panel stopped") << "stopped" << false;
    QTest::newRow("panel answers 502") << "502" << false;
    QTest::newRow("another account") << "stopped" << true;
}

void OfflineConnectTest::startWithoutPanel()
{
    QFETCH(QString, outage);
    QFETCH(bool, otherAccount);
    if (otherAccount) {
        QualityClient other;
        QVERIFY(other.auth.login(QStringLiteral("other@example.test"), "other-pw1"));
    }
    if (outage == QLatin1String("stopped")) {
        m_world.panel.stop();
    } else {
        TestPanel::Fault fault;
        fault.status = outage.toInt();
        QVERIFY(m_world.panel.setFault(QStringLiteral("/v1/public/user/info"), fault));
        QVERIFY(m_world.panel.setFault(kUserSubscribe, fault));
    }

    // The next start of the program.
    QualityClient client;
    client.subscriptions.setRetryDelay(300);
    client.auth.initializeSession();
    QVERIFY(client.auth.isLoggedIn());
    QSignalSpy failed(&client.subscriptions, &SubscribeHandler::fetchFailed);
    if (otherAccount) {
        QVERIFY(!client.subscriptions.fetchNodes());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(client.subscriptions.subscriptionCount(), 0);
        QVERIFY(!client.subscriptions.offline());
        QVERIFY(m_world.panel.restart());
        QVERIFY(pointClientAt(m_world.panel));
        return;
    }
    QVERIFY(client.subscriptions.fetchNodes());
    QCOMPARE(failed.size(), 0);
    QVERIFY(client.subscriptions.offline());
    QCOMPARE(client.subscriptions.subscriptionCount(), 1);
    const QVariantMap shown = client.subscriptions.getSubscription(0);
    QCOMPARE(shown.value("url").toString(), m_url);
    QCOMPARE(shown.value("name").toString(), m_planName);
    QCOMPARE(shown.value("node_count").toInt(), 1);

    QVERIFY(client.tunnel.selectSubscription(m_url));
    client.tunnel.ToggleConnection();
    QVERIFY(client.tunnel.isConnected());
    QVERIFY(fetchThroughProxy(m_world.origin) > 0);

    // The panel is back: the next retry brings fresh data, without the user doing anything.
    if (outage == QLatin1String("stopped")) {
        QVERIFY(m_world.panel.restart());
        QVERIFY(pointClientAt(m_world.panel));
    } else {
        QVERIFY(m_world.panel.clearFaults());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!client.subscriptions.offline(), 10000);
    QCOMPARE(client.subscriptions.subscriptionCount(), 1);
    // A restarted test panel has another port, and so the subscription another URL.
    m_url = client.subscriptions.getSubscriptionUrl(0);
    QVERIFY(client.tunnel.isConnected());
    client.tunnel.ToggleConnection();
}

QTEST_GUILESS_MAIN(OfflineConnectTest)
#include "tst_offlineconnect.moc"
