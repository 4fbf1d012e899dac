// Node latency as the picker shows it: measured through the engine's delay API, with the probe
// engine while disconnected and through the tunnel while connected, against nodes that answer at
// once, one behind a delaying relay and one that is dead.
#include "qualityworld.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

const QString kFast = QStringLiteral("日本-01");
const QString kSlow = QStringLiteral("日本-02");
const QString kOther = QStringLiteral("香港-01");
const QString kDead = QStringLiteral("美国-01");
constexpr int kRelayDelayMs = 150; // each way

bool canListen(quint16 port)
{
    QTcpServer server;
    return server.listen(QHostAddress::Any, port);
}

} // namespace

class LatencyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probeWhileDisconnected_data();
    void probeWhileDisconnected();
    void connectStopsTheProbe();
    void throughTheTunnel();

private:
    bool runTest(const QString &subscription);

    QualityWorld m_world;
    std::unique_ptr<QualityClient> m_client;
    QString m_url;
    bool m_freePortsDuringProbe = false;
};

void LatencyTest::initTestCase()
{
    if (!QualityWorld::available())
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    QVERIFY2(m_world.start({{kFast}, {kSlow, kRelayDelayMs}, {kOther}, {kDead, 0, true}}),
        qPrintable(m_world.lastError()));
    m_client = std::make_unique<QualityClient>();
    m_url = m_client->signInAndFetch();
    QVERIFY(!m_url.isEmpty());

    // The first measurement, while nothing runs: a probe engine that never holds the proxy or
    // control ports, and is gone afterwards.
    QSignalSpy finished(&m_client->latency, &LatencyTester::finished);
    QVERIFY(m_client->latency.test(m_url));
    QVERIFY(m_client->latency.testing());
    m_freePortsDuringProbe = canListen(1080) && canListen(9090);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.value(0).value(0).toString(), m_url);
    QVERIFY(!m_client->latency.testing());
}

bool LatencyTest::runTest(const QString &subscription)
{
    QSignalSpy finished(&m_client->latency, &LatencyTester::finished);
    return m_client->latency.test(subscription) && finished.wait(20000);
}

void LatencyTest::probeWhileDisconnected_data()
{
    QTest::addColumn<QString>("cluster");
    QTest::addColumn<QStringList>("fastestFirst"); // as the expanded picker lists them
    QTest::addColumn<int>("atLeastMs"); // the cluster's figure, the best of its nodes
    QTest::addColumn<int>("belowMs"); // 0: a failed test

    QTest::newRow("fast and slow")
        << QStringLiteral("日本") << QStringList {kFast, kSlow} << 0 << 2 * kRelayDelayMs;
    QTest::newRow("one fast") << QStringLiteral("香港") << QStringList {kOther} << 0
                              << 2 * kRelayDelayMs;
    QTest::newRow("dead") << QStringLiteral("美国") << QStringList {kDead} << 0 << 0;
}

void LatencyTest::probeWhileDisconnected()
{
    QFETCH(QString, cluster);
    QFETCH(QStringList, fastestFirst);
    QFETCH(int, atLeastMs);
    QFETCH(int, belowMs);

    QVERIFY(m_freePortsDuringProbe);
    const int best = m_client->latency.clusterDelay(m_url, cluster);
    if (belowMs == 0) {
        QCOMPARE(best, LatencyTable::Timeout);
    } else {
        QVERIFY2(best >= atLeastMs && best < belowMs, qPrintable(QString::number(best)));
    }
    QStringList listed;
    int previous = -1;
    for (const QVariant &entry : m_client->latency.clusterNodes(m_url, cluster)) {
        const QVariantMap node = entry.toMap();
        listed.append(node.value("tag").toString());
        const int delay = node.value("delay").toInt();
        QVERIFY(delay == LatencyTable::Timeout || delay >= previous);
        previous = qMax(previous, delay);
    }
    QCOMPARE(listed, fastestFirst);
    // The relay holds the request and the answer: at least twice its delay. Auto's figure is
    // the best of all.
    QVERIFY(m_client->latency.delay(m_url, kSlow) >= 2 * kRelayDelayMs);
    QCOMPARE(m_client->latency.bestDelay(m_url),
        qMin(m_client->latency.delay(m_url, kFast), m_client->latency.delay(m_url, kOther)));
}

// The engine is the tunnel's the moment the user connects: a running probe gives way.
void LatencyTest::connectStopsTheProbe()
{
    QVERIFY(m_client->latency.test(m_url));
    QVERIFY(m_client->tunnel.selectSubscription(m_url));
    m_client->tunnel.ToggleConnection();
    QVERIFY(m_client->tunnel.isConnected());
    QVERIFY(!m_client->latency.testing());
    QVERIFY(fetchThroughProxy(m_world.origin) > 0);
}

void LatencyTest::throughTheTunnel()
{
    QVERIFY(m_client->tunnel.isConnected());
    QVERIFY(runTest(m_url));
    QVERIFY(m_client->latency.delay(m_url, kFast) >= 0);
    QVERIFY(m_client->latency.delay(m_url, kSlow) >= 2 * kRelayDelayMs);
    QCOMPARE(m_client->latency.delay(m_url, kDead), LatencyTable::Timeout);
    // Another subscription cannot be measured while the tunnel holds the engine.
    QVERIFY(!m_client->latency.test(QStringLiteral("https://panel.test/api/subscribe?token=x")));

    m_client->tunnel.ToggleConnection();
    QVERIFY(!m_client->tunnel.isConnected());
}

QTEST_GUILESS_MAIN(LatencyTest)
#include "tst_latency.moc"
