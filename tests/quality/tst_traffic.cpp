// Live traffic on the connect page: the session totals match what curl moved through the tunnel
// within 10 %, whether the page watched the whole time or was hidden while the bytes moved (the
// stream is off then, and the totals come back from the engine's counters).
#include "qualityworld.h"

#include <QTest>

class TrafficTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void totalsMatchCurl_data();
    void totalsMatchCurl();

private:
    QualityWorld m_world;
    std::unique_ptr<QualityClient> m_client;
    double m_moved = 0; // bytes curl received so far this session
};

void TrafficTest::initTestCase()
{
    if (!QualityWorld::available())
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    QVERIFY2(m_world.start({{QStringLiteral("日本-01")}}), qPrintable(m_world.lastError()));
    m_client = std::make_unique<QualityClient>();
    const QString url = m_client->signInAndFetch();
    QVERIFY(!url.isEmpty());
    QVERIFY(m_client->tunnel.selectSubscription(url));
    TrafficMonitor &traffic = m_client->traffic;
    QCOMPARE(traffic.connectedSince(), 0.0);
    m_client->tunnel.ToggleConnection();
    QVERIFY(m_client->tunnel.isConnected());
    QVERIFY(traffic.connectedSince() > 0);
}

void TrafficTest::totalsMatchCurl_data()
{
    QTest::addColumn<bool>("watchedWhileMoving");
    QTest::addColumn<int>("downloads"); // of the origin's 4 MB blob
    QTest::newRow("watched") << true << 2;
    QTest::newRow("hidden while moving") << false << 3;
}

void TrafficTest::totalsMatchCurl()
{
    QFETCH(bool, watchedWhileMoving);
    QFETCH(int, downloads);
    TrafficMonitor &traffic = m_client->traffic;
    traffic.setWatching(watchedWhileMoving);
    QTRY_COMPARE(traffic.streaming(), watchedWhileMoving);

    // The fastest second reported while the bytes moved (the stream's messages are read when curl
    // is done, so the phase ends with the first one after it).
    double fastest = 0;
    bool moving = true;
    const QMetaObject::Connection sampling = connect(&traffic, &TrafficMonitor::trafficChanged,
        this, [&] { fastest = moving ? qMax(fastest, traffic.downloadSpeed()) : fastest; });
    for (int i = 0; i < downloads; ++i) {
        const qint64 bytes = fetchThroughProxy(m_world.origin);
        QVERIFY(bytes > 0);
        m_moved += double(bytes);
    }
    QTest::qWait(1500);
    moving = false;
    traffic.setWatching(true);
    QTRY_VERIFY(traffic.streaming());
    // The stream reports each second; the last second's bytes arrive within two.
    const auto close = [&] { return qAbs(traffic.sessionDownload() - m_moved) <= 0.1 * m_moved; };
    QTRY_VERIFY2_WITH_TIMEOUT(close(),
        qPrintable(
            QStringLiteral("%1 shown, %2 moved").arg(traffic.sessionDownload()).arg(m_moved)),
        5000);
    QVERIFY(traffic.sessionUpload() > 0);
    QVERIFY(traffic.sessionUpload() < 0.1 * m_moved);

    // While watched, the speeds came from the stream; hidden, nothing was streamed.
    disconnect(sampling);
    QCOMPARE(fastest > 0, watchedWhileMoving);
    traffic.setWatching(false);
    QVERIFY(!traffic.streaming());
    QCOMPARE(traffic.downloadSpeed(), 0.0);
}

QTEST_GUILESS_MAIN(TrafficTest)
#include "tst_traffic.moc"
