#include "service/latencytable.h"
#include "service/privilege.h"
#include "tunneltest.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject writtenConfig(const service &tunnel)
{
    return QJsonDocument::fromJson(readFile(tunnel.configFile())).object();
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
    void selectSubscriptionWritesConfig();
    void connectAndDisconnect();
    void startFailureChangesNothing_data();
    void startFailureChangesNothing();
    void pendingConnection();
    void tunMode();
    void selectionWhileDisconnected();
    void elevation();

private:
    std::unique_ptr<service> makeService();

    TestProfile m_profile;
    RecordingSelection m_selection;
};

void ServiceTest::initTestCase()
{
    QVERIFY(m_profile.open("service"));
    QVERIFY(m_profile.add(kSubscription, {"HK-01", "JP-02"}));
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
    return std::make_unique<service>(*m_profile.store, &m_selection);
}

void ServiceTest::selectSubscriptionWritesConfig()
{
    const auto tunnel = makeService(); // no secret yet: the profile is new
    QVERIFY(QRegularExpression("^[0-9a-f]{64}$").match(tunnel->secret()).hasMatch());
    QCOMPARE(makeService()->secret(), tunnel->secret()); // created once, then read back
    SignalRecorder signalsSeen(tunnel.get());
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QCOMPARE(signalsSeen.count("proxyTagsChanged"), 1);
    QCOMPARE(tunnel->proxyTags(), QList<QString>({"HK-01", "JP-02"}));
    // The control API with that secret is the engine suite's: it drives the selector through it.
    // Auto and each country as latency test groups ahead of the nodes; measured latencies put
    // the answering nodes first.
    LatencyTable latency;
    latency.store(kSubscription, "HK-01", LatencyTable::Timeout);
    latency.store(kSubscription, "JP-02", 80);
    tunnel->setLatencyTable(&latency);
    QVERIFY(tunnel->selectSubscription(kSubscription));
    QJsonArray urltest;
    for (const QJsonValue &value : writtenConfig(*tunnel).value("outbounds").toArray()) {
        if (value.toObject().value("tag").toString() == QLatin1String("urltest"))
            urltest = value.toObject().value("outbounds").toArray();
    }
    QCOMPARE(urltest, QJsonArray({"JP-02", "HK-01"}));
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

    // No remembered node: nothing is pushed.
    tunnel->ToggleConnection();
    QVERIFY(tunnel->isConnected());
    QCOMPARE(signalsSeen.emitted(), QStringList({"isConnectedChanged()", "engineStarting()"}));
    QCOMPARE(m_selection.calls.last(), "default " + kSubscription + " 2");

    qputenv("QIVRO_STANDIN_STOP", "still running");
    tunnel->ToggleConnection();
    QVERIFY(tunnel->isConnected());

    qunsetenv("QIVRO_STANDIN_STOP");
    tunnel->ToggleConnection();
    QVERIFY(!tunnel->isConnected());
    QVERIFY(tunnel->proxyTags().isEmpty() && tunnel->selectedProxy().isEmpty());
    QCOMPARE(tunnel->selectedSubscription(), kSubscription);
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
    const auto tunnel = makeService();
    // An elevated restart: a new controller finds the subscription and connects once.
    tunnel->preparePendingConnection(kSubscription);
    const auto restarted = makeService();
    QSignalSpy resumed(restarted.get(), &service::pendingConnectionResumeStarted);
    QVERIFY(restarted->resumePendingConnection());
    QCOMPARE(resumed.value(0).value(0).toString(), kSubscription);
    QVERIFY(restarted->isConnected());
    QVERIFY(!restarted->resumePendingConnection());
    QCOMPARE(resumed.count(), 1);

    // A start that fails still uses up the pending entry.
    qputenv("QIVRO_STANDIN_START", "refused");
    const auto failing = makeService();
    failing->preparePendingConnection(kSubscription);
    QVERIFY(!failing->resumePendingConnection());
    QVERIFY(!failing->isConnected());
    QVERIFY(!QSettings(QSettings::IniFormat, QSettings::UserScope, "qivro", "qivro")
                 .contains("Service/pendingConnectSubscription"));
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
        QVERIFY(tunnel->hasPrivileges() && tunnel->requestPrivileges());
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
    tunnel->setTunEnabled(true);
    QVERIFY(tunnel->tunEnabled());
    QCOMPARE(signalsSeen.count("tunEnabledChanged"), 1);
    const QJsonObject config = writtenConfig(*tunnel);
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

    QVERIFY(tunnel->selectProxy("JP-02") && tunnel->selectProxy("JP-02"));
    QVERIFY(tunnel->selectProxyAuto("JP-02") && tunnel->autoRoute());
    QVERIFY(tunnel->selectProxy("HK-01"));
    QVERIFY(!tunnel->autoRoute());
    QCOMPARE(signalsSeen.count("selectedProxyChanged"), 2); // the repeat and Auto change nothing
    QCOMPARE(signalsSeen.count("autoRouteChanged"), 2);

    const QString tagCall = "tag " + kSubscription + QLatin1Char(' ');
    QCOMPARE(m_selection.calls,
        QStringList(
            {tagCall + "JP-02", tagCall + "JP-02", "auto " + kSubscription, tagCall + "HK-01"}));
}

void ServiceTest::elevation()
{
    // Restarted elevated: the arguments as given, in order and unquoted, then the TUN switch.
    QCOMPARE(Privilege::restartParameters({"qivro", "--profile", "my profile"}),
        "--profile my profile --tun-enabled");
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
