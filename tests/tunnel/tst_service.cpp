#include "configbuilder.h"
#include "databasehandler.h"
#include "httpstestserver.h"
#include "latencytable.h"
#include "privilege.h"
#include "service.h"
#include "subscriptionhandler.h"
#include "tunneltest.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

QVariant storedSetting(const QString &key)
{
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, "qivro", "qivro");
    return settings.value(key);
}

QJsonObject node(const QString &tag, int port)
{
    return QJsonObject {{"type", "shadowsocks"}, {"tag", tag}, {"server", "127.0.0.1"},
        {"server_port", port}, {"method", "aes-256-gcm"}, {"password", "pw"}};
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the rest of the scope as an unprivileged user when the test runs as root.
class Unprivileged
{
public:
    Unprivileged()
        : m_wasRoot(geteuid() == 0)
    {
        if (m_wasRoot && seteuid(65534) != 0)
            m_wasRoot = false;
    }
    ~Unprivileged()
    {
        if (m_wasRoot && seteuid(0) != 0)
            qWarning("cannot return to root");
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    bool m_wasRoot;
};

const QString kSubscription = "https://panel.test/api/subscribe?token=one";

} // namespace

class ServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void secretCreatedOnceAndReadBack();
    void selectSubscriptionWritesConfig();
    void connectAndDisconnect();
    void startFailureChangesNothing_data();
    void startFailureChangesNothing();
    void pendingConnection();
    void tunMode();
    void selectionWhileDisconnected();
    void loadSubscription();
    void restartParameters_data();
    void restartParameters();
    void waitUntilReplaced();

private:
    std::unique_ptr<service> makeService();

    std::unique_ptr<DatabaseHandler> m_database;
    std::unique_ptr<SubscriptionHandler> m_store;
    RecordingSelection m_selection;
};

void ServiceTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("qivro-test");
    QCoreApplication::setApplicationName("service");
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    m_database = std::make_unique<DatabaseHandler>(":/sql/", "service-test");
    QVERIFY(m_database->initializeDatabase());
    m_store = std::make_unique<SubscriptionHandler>(*m_database);
    const QJsonArray nodes {node("HK-01", 9), node("JP-02", 9)};
    QVERIFY(m_store->addSubJson(kSubscription,
        buildConfig(nodes, {"HK-01", "JP-02"}, QString(), QString(), QString(), false)));
}

void ServiceTest::init()
{
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
    qunsetenv("QIVRO_STANDIN_START");
    qunsetenv("QIVRO_STANDIN_STOP");
    m_selection = RecordingSelection();
}

std::unique_ptr<service> ServiceTest::makeService()
{
    return std::make_unique<service>(*m_store, &m_selection);
}

void ServiceTest::secretCreatedOnceAndReadBack()
{
    QSettings(QSettings::IniFormat, QSettings::UserScope, "qivro", "qivro")
        .remove("Service/clashSecret");
    const auto first = makeService();
    QVERIFY(QRegularExpression("^[0-9a-f]{64}$").match(first->secret()).hasMatch());
    QCOMPARE(storedSetting("Service/clashSecret").toString(), first->secret());
    QCOMPARE(makeService()->secret(), first->secret());
}

void ServiceTest::selectSubscriptionWritesConfig()
{
    const auto tunnel = makeService();
    SignalRecorder signalsSeen(tunnel.get());
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QCOMPARE(signalsSeen.count("proxyTagsChanged"), 1);
    QCOMPARE(signalsSeen.count("selectedSubscriptionChanged"), 1);
    QCOMPARE(tunnel->proxyTags(), QList<QString>({"HK-01", "JP-02"}));
    QCOMPARE(tunnel->outbounds().size(), 2);

    const QJsonObject config = QJsonDocument::fromJson(readFile(tunnel->configFile())).object();
    const QJsonObject api = config.value("experimental").toObject().value("clash_api").toObject();
    QCOMPARE(api.value("external_controller").toString(), "127.0.0.1:9090");
    QCOMPARE(api.value("secret").toString(), tunnel->secret());
    // Auto and each country as latency test groups ahead of the nodes; measured latencies put
    // the answering nodes first.
    LatencyTable latency;
    latency.store(kSubscription, "HK-01", LatencyTable::Timeout);
    latency.store(kSubscription, "JP-02", 80);
    tunnel->setLatencyTable(&latency);
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QMap<QString, QJsonArray> groups;
    for (const QJsonValue &value : QJsonDocument::fromJson(readFile(tunnel->configFile()))
                                       .object()
                                       .value("outbounds")
                                       .toArray()) {
        if (value["type"].toString() == QLatin1String("selector")
            || value["type"].toString() == QLatin1String("urltest"))
            groups.insert(value["tag"].toString(), value["outbounds"].toArray());
    }
    QCOMPARE(groups.value("urltest"), QJsonArray({"JP-02", "HK-01"}));
    tunnel->setLatencyTable(nullptr);

    // A name that is not stored: no nodes, and the empty configuration on disk.
    QVERIFY(tunnel->selectSubscription("https://panel.test/unknown"));
    QVERIFY(tunnel->proxyTags().isEmpty());
    QCOMPARE(tunnel->selectedSubscription(), "https://panel.test/unknown");
    QCOMPARE(readFile(tunnel->configFile()), QByteArrayLiteral("{}"));
}

void ServiceTest::connectAndDisconnect()
{
    const auto tunnel = makeService();
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QVERIFY(tunnel->selectProxyAuto("JP-02"));
    SignalRecorder signalsSeen(tunnel.get());
    LogCapture log;

    // No remembered node: nothing is pushed.
    tunnel->ToggleConnection();
    QVERIFY(tunnel->isConnected());
    QCOMPARE(signalsSeen.emitted(), QStringList({"isConnectedChanged()", "engineStarting()"}));
    QCOMPARE(m_selection.calls.last(), "default " + kSubscription + " 2");
    QCOMPARE(LogCapture::count("[Service][Connected]: Connected"), 1);

    qputenv("QIVRO_STANDIN_STOP", "still running");
    tunnel->ToggleConnection();
    QVERIFY(tunnel->isConnected());
    QCOMPARE(signalsSeen.emitted().size(), 2);

    qunsetenv("QIVRO_STANDIN_STOP");
    tunnel->ToggleConnection();
    QVERIFY(!tunnel->isConnected());
    QVERIFY(tunnel->proxyTags().isEmpty());
    QVERIFY(tunnel->outbounds().isEmpty());
    QVERIFY(tunnel->selectedProxy().isEmpty());
    QVERIFY(!tunnel->autoRoute());
    QCOMPARE(tunnel->selectedSubscription(), kSubscription);
    QCOMPARE(signalsSeen.count("autoRouteChanged"), 1);
    QCOMPARE(signalsSeen.count("selectedProxyChanged"), 1);
    QCOMPARE(LogCapture::count("[Service][Disconnected]: Disconnected"), 1);
}

void ServiceTest::startFailureChangesNothing_data()
{
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("startAnswer");
    QTest::addColumn<int>("reasonsLogged");

    QTest::newRow("engine refuses") << QByteArray(QIVRO_STANDIN_ENGINE)
                                    << QByteArray("start inbound/mixed[mixed-in]: listen tcp "
                                                  "[::]:1080: bind: address already in use")
                                    << 0;
    QTest::newRow("library missing")
        << QByteArray("/nonexistent/libqivroengine.so") << QByteArray() << 1;
    QTest::newRow("entry point missing")
        << QByteArray(QIVRO_STANDIN_ENGINE_WITHOUT_STOP) << QByteArray() << 1;
}

void ServiceTest::startFailureChangesNothing()
{
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, startAnswer);
    QFETCH(int, reasonsLogged);
    qputenv("QIVRO_ENGINE_LIBRARY", library);
    qputenv("QIVRO_STANDIN_START", startAnswer);

    const auto tunnel = makeService();
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QVERIFY(tunnel->selectProxy("HK-01"));
    m_selection.defaultTag = "JP-02";
    const QVariantMap before = propertySnapshot(tunnel.get());
    SignalRecorder signalsSeen(tunnel.get());
    LogCapture log;

    tunnel->ToggleConnection();
    tunnel->ToggleConnection();
    QCOMPARE(propertySnapshot(tunnel.get()), before);
    // Only the notice that the engine is wanted, before each attempt.
    QCOMPARE(signalsSeen.emitted(), QStringList(2, "engineStarting()"));
    QCOMPARE(LogCapture::count("[Service][Engine]:"), reasonsLogged);
    if (!startAnswer.isEmpty())
        QCOMPARE(LogCapture::count(QString::fromUtf8(startAnswer)), 0);
}

void ServiceTest::pendingConnection()
{
    const QString key = "Service/pendingConnectSubscription";
    const auto tunnel = makeService();
    tunnel->preparePendingConnection(kSubscription);
    QCOMPARE(storedSetting(key).toString(), kSubscription);
    tunnel->clearPendingConnection();
    QVERIFY(!storedSetting(key).isValid());

    // An elevated restart: a new controller finds the subscription and connects once.
    tunnel->preparePendingConnection(kSubscription);
    const auto restarted = makeService();
    QSignalSpy resumed(restarted.get(), &service::pendingConnectionResumeStarted);
    LogCapture log;
    QVERIFY(restarted->resumePendingConnection());
    QCOMPARE(resumed.count(), 1);
    QCOMPARE(resumed.first().first().toString(), kSubscription);
    QVERIFY(restarted->isConnected());
    QCOMPARE(restarted->proxyTags().size(), 2);
    QVERIFY(!storedSetting(key).isValid());

    const int linesBefore = int(LogCapture::lines().size());
    QVERIFY(!restarted->resumePendingConnection());
    QCOMPARE(resumed.count(), 1);
    QCOMPARE(int(LogCapture::lines().size()), linesBefore);

    // A start that fails still uses up the pending entry.
    qputenv("QIVRO_STANDIN_START", "refused");
    const auto failing = makeService();
    failing->preparePendingConnection(kSubscription);
    QVERIFY(!failing->resumePendingConnection());
    QVERIFY(!failing->isConnected());
    QVERIFY(!storedSetting(key).isValid());
}

void ServiceTest::tunMode()
{
    const auto tunnel = makeService();
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QVERIFY(QFile::remove(tunnel->configFile()));
    SignalRecorder signalsSeen(tunnel.get());
#ifndef Q_OS_WIN
    {
        // Without an engine that can create the adapter, connecting is the local proxy for
        // everybody: no rights needed, TUN requests refused, nothing rewritten.
        qputenv("QIVRO_TUN", "0");
        Unprivileged unprivileged;
        QVERIFY(tunnel->hasPrivileges());
        QVERIFY(tunnel->requestPrivileges());
        QVERIFY(tunnel->requestPrivilegesWithPassword("secret"));
        tunnel->setTunEnabled(true);
        QVERIFY(!tunnel->tunEnabled());
        QCOMPARE(signalsSeen.emitted(), QStringList());
        QVERIFY(!QFile::exists(tunnel->configFile()));
    }
    qputenv("QIVRO_TUN", "1");
    const auto noTun = qScopeGuard([] { qputenv("QIVRO_TUN", "0"); });
#endif
    {
        Unprivileged unprivileged;
        QVERIFY(!tunnel->hasPrivileges());
        LogCapture log;
        tunnel->setTunEnabled(true);
        QCOMPARE(LogCapture::count("[Service] TUN mode requested but no privileges"), 1);
        QVERIFY(!tunnel->tunEnabled());
        QCOMPARE(signalsSeen.emitted(), QStringList());
        QVERIFY(!QFile::exists(tunnel->configFile()));
        if (!Privilege::canRequestElevation()) {
            QVERIFY(!tunnel->requestPrivileges());
            QCOMPARE(LogCapture::count("Cannot request elevation on this platform"), 1);
        }
    }
    if (geteuid() != 0)
        QSKIP("the rest needs root");

    QVERIFY(tunnel->hasPrivileges());
    QVERIFY(tunnel->requestPrivileges());
    QCOMPARE(signalsSeen.count("hasPrivilegesChanged"), 0);
    tunnel->setTunEnabled(true);
    QVERIFY(tunnel->tunEnabled());
    QCOMPARE(signalsSeen.count("tunEnabledChanged"), 1);
    const QJsonObject config = QJsonDocument::fromJson(readFile(tunnel->configFile())).object();
    QCOMPARE(config.value("inbounds").toArray().first().toObject().value("type").toString(), "tun");

    // Without nodes the mode changes but no file is written.
    QVERIFY(tunnel->selectSubscription("https://panel.test/unknown"));
    QVERIFY(QFile::remove(tunnel->configFile()));
    tunnel->setTunEnabled(false);
    QCOMPARE(signalsSeen.count("tunEnabledChanged"), 2);
    QVERIFY(!QFile::exists(tunnel->configFile()));
}

void ServiceTest::selectionWhileDisconnected()
{
    const auto tunnel = makeService();
    QVERIFY(tunnel->selectSubscription(kSubscription));
    SignalRecorder signalsSeen(tunnel.get());

    QVERIFY(!tunnel->selectProxy("hk-01"));
    QVERIFY(!tunnel->selectProxyAuto("nowhere"));
    QCOMPARE(signalsSeen.emitted(), QStringList());
    QVERIFY(m_selection.calls.isEmpty());

    QVERIFY(tunnel->selectProxy("JP-02"));
    QCOMPARE(tunnel->selectedProxy(), "JP-02");
    QVERIFY(tunnel->selectProxy("JP-02"));
    QCOMPARE(signalsSeen.count("selectedProxyChanged"), 1);
    QCOMPARE(signalsSeen.count("autoRouteChanged"), 0);

    QVERIFY(tunnel->selectProxyAuto("JP-02"));
    QVERIFY(tunnel->autoRoute());
    QCOMPARE(signalsSeen.count("autoRouteChanged"), 1);
    QCOMPARE(signalsSeen.count("selectedProxyChanged"), 1);
    QVERIFY(tunnel->selectProxy("HK-01"));
    QVERIFY(!tunnel->autoRoute());
    QCOMPARE(signalsSeen.count("autoRouteChanged"), 2);

    const QString tagCall = "tag " + kSubscription + QLatin1Char(' ');
    QCOMPARE(m_selection.calls,
        QStringList(
            {tagCall + "JP-02", tagCall + "JP-02", "auto " + kSubscription, tagCall + "HK-01"}));
}

void ServiceTest::loadSubscription()
{
    HttpsTestServer https;
    const QByteArray credentials = QByteArrayLiteral("aes-256-gcm:pw").toBase64();
    const QByteArray body = "ss://" + credentials + "@127.0.0.1:8388#US-03\r\nfoo://x\n" + "ss://"
        + credentials + "@127.0.0.1:8389#DE-04\n";
    https.server().route(
        "/links", [body] { return QHttpServerResponse("text/plain", body.toBase64()); });
    QVERIFY2(https.start(), qPrintable(https.errorString()));
    const QString url = https.url("/links").toString();

    const auto tunnel = makeService();
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QSignalSpy tags(tunnel.get(), &service::proxyTagsChanged);
    LogCapture log;
    tunnel->LoadSubscription(url);
    QCOMPARE(tags.count(), 2);
    // Logged without what follows the scheme: a link's authority may be its credentials.
    QCOMPARE(LogCapture::count("Cannot handle url: foo://***"), 1);
    // Appended to what was loaded, stored under the URL and written.
    const QList<QString> expected {"HK-01", "JP-02", "US-03", "DE-04"};
    QCOMPARE(tunnel->proxyTags(), expected);
    QCOMPARE(m_store->getSubscription(url).tags, expected);
    const QJsonObject config = QJsonDocument::fromJson(readFile(tunnel->configFile())).object();
    QCOMPARE(config.value("outbounds").toArray().size(), 4 + 3 + 4); // and a group per country

    tunnel->LoadSubscription(https.url("/missing").toString());
    QCOMPARE(LogCapture::count("[Service][LoadSubscription]: Failed to load subscription:"), 1);
    QCOMPARE(tunnel->proxyTags(), expected);
}

void ServiceTest::restartParameters_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("parameters");

    QTest::newRow("two arguments kept in order")
        << QStringList {"qivro", "--lang", "zh"} << "--lang zh --tun-enabled";
    QTest::newRow("already given: twice")
        << QStringList {"qivro", "--tun-enabled"} << "--tun-enabled --tun-enabled";
    QTest::newRow("a space is not quoted")
        << QStringList {"qivro", "--profile", "my profile"} << "--profile my profile --tun-enabled";
}

void ServiceTest::restartParameters()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, parameters);
    QCOMPARE(Privilege::restartParameters(arguments), parameters);
}

void ServiceTest::waitUntilReplaced()
{
    // pkexec's two outcomes, played by a shell: it becomes the program, or it ends.
    qint64 pid = 0;
    QVERIFY(
        QProcess::startDetached("/bin/sh", {"-c", "sleep 0.3; exec sleep 30"}, QString(), &pid));
    const bool replaced = Privilege::waitUntilReplaced(pid, "sh");
    ::kill(pid_t(pid), SIGTERM);
    QVERIFY(replaced);

    QVERIFY(QProcess::startDetached("/bin/sh", {"-c", "sleep 0.3; exit 126"}, QString(), &pid));
    QVERIFY(!Privilege::waitUntilReplaced(pid, "sh"));
}

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
