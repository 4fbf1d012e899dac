// The user's road through the real window: the program's own wiring and views, the development
// panel's demo account, its Shadowsocks nodes served by ss-server, the bundled engine, and curl
// through the local proxy. Every step is a click or key press on the window, as a user does it.
// With QIVRO_E2E_ROAD=tun (tst_tunendtoend) the same road runs in TUN mode, as root in network
// namespaces of its own: the origin sits behind a veth pair at 198.18.1.10 and is fetched with
// no proxy at all, through the TUN and the chosen node.
#include "clientprofile.h"
#include "demonodes.h"
#include "panel/authhandler.h"
#include "peernamespace.h"
#include "subscription/subscriptionhandler.h"
#include "support.h"
#include "windowdriver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QQuickItem>
#include <QTcpSocket>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <optional>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

bool tunRoad()
{
    return qEnvironmentVariable("QIVRO_E2E_ROAD") == QLatin1String("tun");
}

std::string &isolationProblem()
{
    static std::string problem;
    return problem;
}

constexpr std::size_t kTunFetchSize = 1 << 20;

} // namespace

class UiEndToEndTest
    : public QObject
    , protected WindowDriver
{
    Q_OBJECT

public:
    // Before the application object exists, while this is the only thread: a namespace of its
    // own for the TUN road, which every later thread shares.
    static void initMain()
    {
        if (tunRoad() && !support::PeerNamespace::isolate(isolationProblem()))
            isolationProblem().insert(0, "TUN road skipped: ");
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInConnectSwitchAndSignOut();

private:
    bool chooseCountry(const QString &cluster);
    QString fetchThroughProxy() const;
    bool tunGone() const;
    int nodePort(const QString &tag) const;
    QString status() const { return textOf(QStringLiteral("subscriptionStatus0")); }

    support::PeerNamespace m_peer;
    DemoNodes m_demo;
    std::unique_ptr<support::Origin> m_origin;
};

void UiEndToEndTest::initTestCase()
{
    if (!DemoNodes::available() || !support::haveProgram("curl"))
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    if (tunRoad() && !isolationProblem().empty())
        QSKIP(isolationProblem().c_str());
    qunsetenv("QIVRO_ENGINE_LIBRARY");
    qputenv("QIVRO_TUN", tunRoad() ? "1" : "0");
    prepareFirstStart();

    if (tunRoad()) {
        std::string error;
        QVERIFY2(m_peer.start({"198.18.1.10"}, error), error.c_str());
        m_peer.spawn({QIVRO_TUNPEER_PATH, "7000"});
    }
    // Through the TUN the nodes' own connections would come back into it: they leave from the
    // veth pair's address, which the TUN's rules let by.
    QVERIFY2(
        m_demo.start(tunRoad() ? std::vector<std::string> {"-b", support::PeerNamespace::ownAddress}
                               : std::vector<std::string> {}),
        qPrintable(m_demo.lastError()));
    QVERIFY(pointClientAt(m_demo.panel));
    m_origin = std::make_unique<support::Origin>("origin");
    // The client's latency and health tests stay on loopback too.
    qputenv("QIVRO_ENGINE_TEST_URL",
        QByteArray("http://127.0.0.1:") + QByteArray::number(m_origin->port()) + "/generate_204");
    QVERIFY(openWindow(this));
}

void UiEndToEndTest::cleanupTestCase()
{
    // The engine runs in this process: never leave it holding the proxy port.
    if (QObject *tunnel = m_engine ? contextObject("service") : nullptr) {
        if (tunnel->property("isConnected").toBool())
            QMetaObject::invokeMethod(tunnel, "ToggleConnection");
    }
    closeWindow();
}

bool UiEndToEndTest::chooseCountry(const QString &cluster)
{
    return click(QStringLiteral("subscriptionNodeSelector0"))
        && click(QStringLiteral("nodePickerRow_") + cluster);
}

QString UiEndToEndTest::fetchThroughProxy() const
{
    if (tunRoad()) {
        // Straight to the origin: only the TUN's routes can carry it there.
        asio::io_context io;
        asio::ip::tcp::socket socket(io);
        std::error_code error;
        socket.connect({asio::ip::make_address("198.18.1.10"), 7003}, error);
        asio::write(socket, asio::buffer(std::to_string(kTunFetchSize) + "\n"), error);
        std::string body;
        asio::read(socket, asio::dynamic_buffer(body), error);
        return QString::fromStdString(support::sha256Hex(body));
    }
    const support::CommandResult result
        = support::run({"curl", "-s", "-f", "--max-time", "20", "--socks5-hostname",
            "127.0.0.1:1080", "http://localhost:" + std::to_string(m_origin->port()) + "/blob"});
    return QString::fromStdString(support::sha256Hex(result.output));
}

// The device and the rules of auto_route are gone.
bool UiEndToEndTest::tunGone() const
{
    return support::run({"ip", "link", "show", "tun0"}).exitCode != 0
        && support::run({"ip", "rule"}).output.find("lookup 2022") == std::string::npos;
}

int UiEndToEndTest::nodePort(const QString &tag) const
{
    const QString name = contextObject("service")->property("selectedSubscription").toString();
    for (const QJsonValue &value :
        SubscriptionHandler::getInstance().getSubscription(name).outbounds) {
        if (value.toObject().value("tag").toString() == tag)
            return value.toObject().value("server_port").toInt();
    }
    return 0;
}

void UiEndToEndTest::signInConnectSwitchAndSignOut()
{
    QObject *auth = contextObject("auth");
    QObject *tunnel = contextObject("service");
    QVERIFY(auth && tunnel);
    const QString expected = QString::fromStdString(
        support::sha256Hex(tunRoad() ? std::string(kTunFetchSize, 'q') : m_origin->blob()));

    // The demo plan's card, then its countries; choosing one connects (in local-proxy mode, or
    // in TUN mode where the build has it and the process has the rights).
    QVERIFY(signIn(DemoNodes::kEmail, DemoNodes::kPassword));
    QVERIFY(chooseCountry(QStringLiteral("日本")));
    QTRY_VERIFY_WITH_TIMEOUT(tunnel->property("isConnected").toBool(), 15000);
    QCOMPARE(tunnel->property("tunEnabled").toBool(), tunRoad());
    // The country's latency test group names its node once the engine has answered.
    QTRY_COMPARE(tunnel->property("selectedProxy").toString(), QStringLiteral("日本-01"));
    QCOMPARE(fetchThroughProxy(), expected);

    // The traffic goes through the chosen node: with the Japanese server gone nothing arrives,
    // and switching country while connected moves new connections to Hong Kong.
    const int japanPort = nodePort(QStringLiteral("日本-01"));
    QVERIFY(japanPort > 0);
    m_demo.stopServer(japanPort);
    QVERIFY(fetchThroughProxy() != expected);
    // The failed connection sends the health check to the node, which no longer answers.
    QTRY_COMPARE_WITH_TIMEOUT(
        status(), QStringLiteral("Connected, no response from the node"), 15000);
    QVERIFY(chooseCountry(QStringLiteral("香港")));
    QTRY_COMPARE(tunnel->property("selectedProxy").toString(), QStringLiteral("香港-01"));
    QVERIFY(tunnel->property("isConnected").toBool());
    QCOMPARE(fetchThroughProxy(), expected);

    // The power button disconnects once the switch animation is over.
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Connected"), 5000);
    QVERIFY(click(QStringLiteral("subscriptionPowerButton0")));
    QTRY_VERIFY_WITH_TIMEOUT(!tunnel->property("isConnected").toBool(), 10000);
    if (tunRoad()) {
        QVERIFY(tunGone());
    } else {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 1080);
        QVERIFY(!probe.waitForConnected(1000));
    }

    // Connected again, then signed out from the menu: the engine stops before the session goes.
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Click Connect"), 5000);
    QVERIFY(click(QStringLiteral("subscriptionPowerButton0")));
    QTRY_VERIFY_WITH_TIMEOUT(tunnel->property("isConnected").toBool(), 15000);
    std::optional<bool> connectedWhenSignedOut;
    connect(qobject_cast<AuthHandler *>(auth), &AuthHandler::isLoggedInChanged, this, [&] {
        if (!auth->property("isLoggedIn").toBool() && !connectedWhenSignedOut)
            connectedWhenSignedOut = tunnel->property("isConnected").toBool();
    });
    QVERIFY(click(QStringLiteral("menuButton")));
    QVERIFY(click(QStringLiteral("menuLogoutItem")));
    QTRY_VERIFY_WITH_TIMEOUT(!auth->property("isLoggedIn").toBool(), 10000);
    QCOMPARE(connectedWhenSignedOut, std::optional<bool>(false));
    QVERIFY(!tunRoad() || tunGone());
    QVERIFY(waitFor(QStringLiteral("loginEmailField")));

    QVERIFY2(qmlWarnings().isEmpty(), qPrintable(qmlWarnings().join(QLatin1Char('\n'))));
}

QTEST_MAIN(UiEndToEndTest)
#include "tst_uiendtoend.moc"
