// The user's road through the real window: the program's own wiring and views, the development
// panel's demo account, its Shadowsocks nodes served by ss-server, the bundled engine, and curl
// through the local proxy. Every step is a click or key press on the window, as a user does it.
#include "authhandler.h"
#include "clientprofile.h"
#include "demonodes.h"
#include "startup.h"
#include "subscriptionhandler.h"
#include "support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <optional>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

QStringList &qmlWarnings()
{
    static QStringList warnings;
    return warnings;
}

QtMessageHandler previousHandler = nullptr;

void collectQmlWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && message.contains(QLatin1String(".qml")))
        qmlWarnings().append(message);
    previousHandler(type, context, message);
}

} // namespace

class UiEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInConnectSwitchAndSignOut();

private:
    QQuickItem *find(const QString &name) const;
    QQuickItem *waitFor(const QString &name, int timeoutMs = 10000) const;
    bool click(const QString &name);
    bool type(const QString &name, const QString &text);
    bool chooseCountry(const QString &cluster);
    QString fetchThroughProxy() const;
    int nodePort(const QString &tag) const;
    QObject *contextObject(const char *name) const;

    DemoNodes m_demo;
    std::unique_ptr<support::Origin> m_origin;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
};

void UiEndToEndTest::initTestCase()
{
    if (!DemoNodes::available() || !support::haveProgram("curl"))
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    previousHandler = qInstallMessageHandler(collectQmlWarnings);
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    qunsetenv("QIVRO_ENGINE_LIBRARY");
    qunsetenv("QIVRO_TUN");
    // A first start: no saved session, database or settings from an earlier run.
    QStandardPaths::setTestModeEnabled(true);
    QDir(QDir::home().filePath(QStringLiteral(".qttest"))).removeRecursively();
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));

    QVERIFY2(m_demo.start(), qPrintable(m_demo.lastError()));
    QVERIFY(pointClientAt(m_demo.panel));
    m_origin = std::make_unique<support::Origin>("origin");
    // The client's latency and health tests stay on loopback too.
    qputenv("QIVRO_ENGINE_TEST_URL",
        QByteArray("http://127.0.0.1:") + QByteArray::number(m_origin->port()) + "/generate_204");

    m_engine = std::make_unique<QQmlApplicationEngine>();
    QVERIFY(Startup::loadClient(*m_engine, this, false));
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void UiEndToEndTest::cleanupTestCase()
{
    // The engine runs in this process: never leave it holding the proxy port.
    if (QObject *tunnel = m_engine ? contextObject("service") : nullptr) {
        if (tunnel->property("isConnected").toBool())
            QMetaObject::invokeMethod(tunnel, "ToggleConnection");
    }
    m_engine.reset();
    if (previousHandler)
        qInstallMessageHandler(previousHandler);
}

QObject *UiEndToEndTest::contextObject(const char *name) const
{
    return m_engine->rootContext()->contextProperty(QString::fromLatin1(name)).value<QObject *>();
}

// The visible item of that name, wherever it sits in the drawn tree: pages, list delegates, the
// menu, pop-ups.
QQuickItem *UiEndToEndTest::find(const QString &name) const
{
    QList<QQuickItem *> pending {m_window->contentItem()};
    while (!pending.isEmpty()) {
        QQuickItem *item = pending.takeLast();
        if (!item->isVisible())
            continue;
        if (item->objectName() == name && item->width() > 0 && item->height() > 0)
            return item;
        pending.append(item->childItems());
    }
    return nullptr;
}

QQuickItem *UiEndToEndTest::waitFor(const QString &name, int timeoutMs) const
{
    QQuickItem *item = nullptr;
    if (!QTest::qWaitFor(
            [&]() { return (item = find(name)) != nullptr && item->isEnabled(); }, timeoutMs)) {
        qWarning() << "no visible, enabled item" << name;
        return nullptr;
    }
    return item;
}

bool UiEndToEndTest::click(const QString &name)
{
    QQuickItem *item = waitFor(name);
    if (!item)
        return false;
    // A user waits for the spinner to go (it swallows presses), and for slides and fades to
    // settle so the press lands where the item is drawn.
    if (!QTest::qWaitFor([this]() { return !find(QStringLiteral("pageLoadingIndicator")); }, 15000))
        return false;
    QTest::qWait(350);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

// ASCII text, key by key, into the field after a click on it.
bool UiEndToEndTest::type(const QString &name, const QString &text)
{
    if (!click(name))
        return false;
    for (const QChar c : text)
        QTest::keyClick(m_window, c.toLatin1());
    return find(name)->property("text").toString() == text;
}

bool UiEndToEndTest::chooseCountry(const QString &cluster)
{
    return click(QStringLiteral("subscriptionNodeSelector0"))
        && click(QStringLiteral("nodePickerRow_") + cluster);
}

QString UiEndToEndTest::fetchThroughProxy() const
{
    const support::CommandResult result
        = support::run({"curl", "-s", "-f", "--max-time", "20", "--socks5-hostname",
            "127.0.0.1:1080", "http://localhost:" + std::to_string(m_origin->port()) + "/blob"});
    return QString::fromStdString(support::sha256Hex(result.output));
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
    const QString expected = QString::fromStdString(support::sha256Hex(m_origin->blob()));

    // Signed out, the home page offers the way in.
    QVERIFY(click(QStringLiteral("emptyStateButton")));
    QVERIFY(type(QStringLiteral("loginEmailField"), QString::fromLatin1(DemoNodes::kEmail)));
    QVERIFY(type(QStringLiteral("loginPasswordField"), QString::fromLatin1(DemoNodes::kPassword)));
    QVERIFY(click(QStringLiteral("loginSubmitButton")));
    QTRY_VERIFY_WITH_TIMEOUT(auth->property("isLoggedIn").toBool(), 15000);

    // The demo plan's card, then its countries; choosing one connects in local-proxy mode.
    QVERIFY(waitFor(QStringLiteral("subscriptionCard0"), 15000));
    // The demo panel greets every account with a pop-up announcement.
    QVERIFY(click(QStringLiteral("announcementDialogCloseButton")));
    QTRY_VERIFY(!find(QStringLiteral("announcementDialogCloseButton")));
    QVERIFY(chooseCountry(QStringLiteral("日本")));
    QTRY_VERIFY_WITH_TIMEOUT(tunnel->property("isConnected").toBool(), 15000);
    QVERIFY(!tunnel->property("tunEnabled").toBool());
    // The country's latency test group names its node once the engine has answered.
    QTRY_COMPARE(tunnel->property("selectedProxy").toString(), QStringLiteral("日本-01"));
    QCOMPARE(fetchThroughProxy(), expected);

    // Switching country while connected moves new connections: with the Japanese server gone,
    // traffic still flows, through Hong Kong.
    QTRY_COMPARE_WITH_TIMEOUT(
        find(QStringLiteral("subscriptionStatus0"))->property("text").toString(),
        QStringLiteral("Connected"), 5000);
    QVERIFY(chooseCountry(QStringLiteral("香港")));
    QTRY_COMPARE(tunnel->property("selectedProxy").toString(), QStringLiteral("香港-01"));
    QVERIFY(tunnel->property("isConnected").toBool());
    const int japanPort = nodePort(QStringLiteral("日本-01"));
    QVERIFY(japanPort > 0);
    m_demo.stopServer(japanPort);
    QCOMPARE(fetchThroughProxy(), expected);

    // The power button disconnects once the switch animation is over.
    QTRY_COMPARE_WITH_TIMEOUT(
        find(QStringLiteral("subscriptionStatus0"))->property("text").toString(),
        QStringLiteral("Connected"), 5000);
    QVERIFY(click(QStringLiteral("subscriptionPowerButton0")));
    QTRY_VERIFY_WITH_TIMEOUT(!tunnel->property("isConnected").toBool(), 10000);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, 1080);
    QVERIFY(!probe.waitForConnected(1000));

    // Connected again, then signed out from the menu: the engine stops before the session goes.
    QTRY_COMPARE_WITH_TIMEOUT(
        find(QStringLiteral("subscriptionStatus0"))->property("text").toString(),
        QStringLiteral("Click Connect"), 5000);
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
    QVERIFY(waitFor(QStringLiteral("loginEmailField")));

    QVERIFY2(qmlWarnings().isEmpty(), qPrintable(qmlWarnings().join(QLatin1Char('\n'))));
}

QTEST_MAIN(UiEndToEndTest)
#include "tst_uiendtoend.moc"
