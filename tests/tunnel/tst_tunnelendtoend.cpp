// The road of one connection on loopback: the development panel's demo account, its Shadowsocks
// nodes served by ss-server, the subscription fetched and stored, selected, connected through the
// bundled engine library, and curl through the local proxy to a local origin.
#include "databasehandler.h"
#include "deployment.h"
#include "service.h"
#include "subscriptionhandler.h"
#include "support.h" // engine test helpers: origin, processes by PID, curl
#include "testpanel.h"
#include "tunneltest.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <map>

namespace {

// The first of `count` ports in a row that are free now.
quint16 freePortRun(int count)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint16 first = support::freeTcpPort();
        bool free = first > 0 && first < 65500;
        for (int i = 1; free && i < count; ++i) {
            QTcpServer probe;
            free = probe.listen(QHostAddress::LocalHost, quint16(first + i));
        }
        if (free)
            return first;
    }
    return 0;
}

} // namespace

class TunnelEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fetchSelectConnectAndSwitch();

private:
    int nodePort(const Subscription &subscription, const QString &tag) const;

    TestPanel m_panel;
    std::map<int, std::unique_ptr<support::Process>> m_servers; // by port
    QUrl m_subscriptionUrl;
    std::unique_ptr<DatabaseHandler> m_database;
};

void TunnelEndToEndTest::initTestCase()
{
    if (!support::haveProgram("ss-server") || !support::haveProgram("curl"))
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro-test"));
    QCoreApplication::setApplicationName(QStringLiteral("end-to-end"));
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    // The bundled engine library next to this executable, as the program finds it.
    qunsetenv("QIVRO_ENGINE_LIBRARY");

    const quint16 ssBase = freePortRun(3);
    QVERIFY(ssBase != 0);
    QVERIFY2(m_panel.start({QStringLiteral("--seed"), QStringLiteral("demo"),
                 QStringLiteral("--ss-base-port"), QString::number(ssBase)}),
        qPrintable(m_panel.lastError()));
    m_panel.exportClientEnvironment();
    Deployment::trustExtraCaCertificate();

    QFile servers(QDir(m_panel.dataDir()).filePath(QStringLiteral("ss-servers.txt")));
    QVERIFY(servers.open(QIODevice::ReadOnly | QIODevice::Text));
    while (!servers.atEnd()) {
        const QList<QByteArray> fields = servers.readLine().simplified().split(' ');
        if (fields.size() != 3)
            continue;
        const int port = fields.at(0).toInt();
        m_servers[port] = std::make_unique<support::Process>(std::vector<std::string> {"ss-server",
            "-s", "127.0.0.1", "-p", fields.at(0).toStdString(), "-k", fields.at(2).toStdString(),
            "-m", fields.at(1).toStdString()});
        QVERIFY(support::waitForTcpPort(std::uint16_t(port)));
    }
    QCOMPARE(m_servers.size(), std::size_t(3));

    const QByteArray token
        = m_panel.login(QStringLiteral("demo@qivro.example"), QStringLiteral("demo1234"));
    QVERIFY(!token.isEmpty());
    const QJsonObject reply
        = m_panel.call("GET", QStringLiteral("/v1/public/user/subscribe"), {}, token);
    const QJsonArray list = reply.value("data").toObject().value("list").toArray();
    QVERIFY(!list.isEmpty());
    m_subscriptionUrl = m_panel.url(QStringLiteral("/api/subscribe?token=")
        + list.first().toObject().value("token").toString());

    m_database
        = std::make_unique<DatabaseHandler>(QStringLiteral(":/sql/"), QStringLiteral("end-to-end"));
    QVERIFY(m_database->initializeDatabase());
}

int TunnelEndToEndTest::nodePort(const Subscription &subscription, const QString &tag) const
{
    for (const QJsonValue &value : subscription.outbounds) {
        if (value.toObject().value("tag").toString() == tag)
            return value.toObject().value("server_port").toInt();
    }
    return 0;
}

void TunnelEndToEndTest::fetchSelectConnectAndSwitch()
{
    SubscriptionHandler store(*m_database);
    {
        // The seed's third node is in the older whole-authority Base64 form: it must arrive too.
        LogCapture log;
        QVERIFY(store.addSubURL(m_subscriptionUrl));
        QCOMPARE(LogCapture::count(QStringLiteral("Cannot handle url: ")), 0);
    }
    const QString name = m_subscriptionUrl.toString();
    const Subscription subscription = store.getSubscription(name);
    const QString japan = QStringLiteral("日本-01");
    const QString hongKong = QStringLiteral("香港-01");
    QCOMPARE(subscription.tags, QList<QString>({japan, hongKong, QStringLiteral("美国-01 VIP")}));

    RecordingSelection selection;
    selection.defaultTag = japan;
    service tunnel(store, &selection);
    QVERIFY(tunnel.selectSubscription(name));
    LogCapture log;
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QCOMPARE(tunnel.selectedProxy(), japan);
    // The default node is pushed again 600 ms later; let that happen before switching.
    QTRY_COMPARE(LogCapture::count(QStringLiteral("Proxy selected successfully: ") + japan), 2);

    support::Origin origin("origin");
    const std::string expected = support::sha256Hex(origin.blob());
    const auto fetch = [&]() {
        return support::sha256Hex(support::run(
            {"curl", "-s", "-f", "--max-time", "20", "--socks5-hostname", "127.0.0.1:1080",
                "http://localhost:" + std::to_string(origin.port()) + "/blob"})
                                      .output);
    };
    QVERIFY(fetch() == expected);

    // Without the Japanese node's server the same route breaks; the switch takes new connections
    // to the Hong Kong node.
    m_servers.erase(nodePort(subscription, japan));
    QVERIFY(fetch() != expected);
    QVERIFY(tunnel.selectProxy(hongKong));
    QVERIFY(fetch() == expected);

    tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());
}

QTEST_GUILESS_MAIN(TunnelEndToEndTest)
#include "tst_tunnelendtoend.moc"
