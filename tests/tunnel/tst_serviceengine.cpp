// The controller against the real engine library on the client's fixed ports 1080 and 9090.
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "tunneltest.h"

#include <QTcpServer>
#include <QTest>

namespace {

const QString kSubscription = "https://panel.test/api/subscribe?token=engine";
const QString kQuoted = "JP \"02\" \\ x";

// The selector's current member as the engine reports it.
QString engineSelection(const QString &secret)
{
    try {
        return NetworkHandler::getDirectInstance()
            ->request()
            .url(QUrl("http://127.0.0.1:9090/proxies/proxy"))
            .authToken(secret)
            .get()
            .object()
            .value(QLatin1String("now"))
            .toString();
    } catch (const NetworkError &error) {
        return "error: " + error.message();
    }
}

} // namespace

class ServiceEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void selectionReachesEngine();
    void portTakenThenFree();
    void unreachableControlApi();

private:
    TestProfile m_profile; // nothing listens behind its nodes: these tests only move the selector
    RecordingSelection m_selection;
};

void ServiceEngineTest::initTestCase()
{
    // Health checks stay on loopback.
    qputenv("QIVRO_ENGINE_TEST_URL", "http://127.0.0.1:9/");
    QVERIFY(m_profile.open("service-engine"));
    QVERIFY(m_profile.add(kSubscription, {"HK-01", kQuoted, "US-03"}));
}

void ServiceEngineTest::init()
{
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_ENGINE_PATH);
    m_selection = RecordingSelection();
}

void ServiceEngineTest::selectionReachesEngine()
{
    m_selection.defaultIsAuto = true;
    service tunnel(*m_profile.store, &m_selection);
    QVERIFY(tunnel.selectSubscription(kSubscription));
    LogCapture log;

    // Auto is the latency test group; the node shown is the one the group carries traffic
    // through, and nothing answers behind these nodes.
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QVERIFY(tunnel.autoRoute());
    QCOMPARE(engineSelection(tunnel.secret()), "urltest");
    QTRY_COMPARE(LogCapture::count("Proxy selected successfully: urltest"), 2);
    QTRY_COMPARE(tunnel.selectedProxy(), "HK-01");
    QTRY_VERIFY(!tunnel.nodeResponding());

    // A later choice, with a tag that needs escaping in the body.
    QVERIFY(tunnel.selectProxy(kQuoted));
    QVERIFY(!tunnel.autoRoute());
    QCOMPARE(LogCapture::count("[Service][SelectProxy]: {\"name\": \"JP \\\"02\\\" \\\\ x\"}"), 1);
    QCOMPARE(engineSelection(tunnel.secret()), kQuoted);
    QCOMPARE(m_selection.calls.last(), "tag " + kSubscription + QLatin1Char(' ') + kQuoted);

    // Automatic mode shows before the request goes out.
    connect(
        &tunnel, &service::autoRouteChanged, this, [] { LogCapture::mark("autoRouteChanged"); });
    QVERIFY(tunnel.selectProxyAuto("HK-01"));
    const QStringList &lines = LogCapture::lines();
    QVERIFY(lines.indexOf("autoRouteChanged")
        < lines.lastIndexOf("[Service][SelectProxy]: http://127.0.0.1:9090/proxies/proxy"));
    QCOMPARE(engineSelection(tunnel.secret()), "HK-01");

    tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());
    QVERIFY(engineSelection(tunnel.secret()).startsWith(QLatin1String("error: ")));
}

void ServiceEngineTest::portTakenThenFree()
{
    QTcpServer blocker;
    QVERIFY2(blocker.listen(QHostAddress::Any, 1080), qPrintable(blocker.errorString()));
    m_selection.defaultTag = "HK-01";
    service tunnel(*m_profile.store, &m_selection);
    QVERIFY(tunnel.selectSubscription(kSubscription));
    const QVariantMap before = propertySnapshot(&tunnel);
    SignalRecorder signalsSeen(&tunnel);
    LogCapture log;

    tunnel.ToggleConnection();
    QCOMPARE(propertySnapshot(&tunnel), before);
    QCOMPARE(signalsSeen.emitted(), QStringList {"engineStarting()"});
    QCOMPARE(LogCapture::count("1080"), 0); // the engine's text is not shown

    // Free again: it connects, and a disconnect cancels the repeat push due 600 ms later. Not even
    // an attempt: nothing is logged once disconnected.
    blocker.close();
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QCOMPARE(LogCapture::count("Proxy selected successfully: HK-01"), 1);
    tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());
    const QStringList linesBefore = LogCapture::lines();
    SignalRecorder afterDisconnect(&tunnel);
    QTest::qWait(900);
    QCOMPARE(LogCapture::lines(), linesBefore);
    QCOMPARE(afterDisconnect.emitted(), QStringList());
    QVERIFY(tunnel.selectedProxy().isEmpty());
}

void ServiceEngineTest::unreachableControlApi()
{
    // An engine that starts but serves no control API.
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
    m_selection.defaultTag = "HK-01";
    service tunnel(*m_profile.store, &m_selection);
    QVERIFY(tunnel.selectSubscription(kSubscription));
    LogCapture log;
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QCOMPARE(tunnel.selectedProxy(), "HK-01");
    const QString failed = "[Service][SelectProxy]: Failed to select proxy:";
    QTRY_COMPARE(LogCapture::count(failed), 2); // at once and 600 ms later

    QVERIFY(!tunnel.selectProxy("US-03"));
    QCOMPARE(tunnel.selectedProxy(), "US-03");
    QCOMPARE(LogCapture::count(failed), 3);
    QCOMPARE(LogCapture::count("Connection error - is sing-box running?"), 3);
    QVERIFY(tunnel.isConnected());
}

QTEST_GUILESS_MAIN(ServiceEngineTest)
#include "tst_serviceengine.moc"
