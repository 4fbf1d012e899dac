// The version gate: version arithmetic, and every way a check against the development panel's
// version file ends, the failed ones included (the gate fails open).
#include "deployment.h"
#include "startup.h"
#include "testpanel.h"
#include "versionchecker.h"

#include <QJsonValue>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString kVersionFile = QStringLiteral("/client/version.json");
const QString kInvalid = QStringLiteral("Version response has an invalid min_version");
const QString kMissing = QStringLiteral("Version response is missing min_version");

// Stands in for the tunnel controller: records what the elevated restart asks of it.
class FakeService : public QObject
{
    Q_OBJECT

public:
    QStringList calls;
    void setTunEnabled(bool on) { calls.append(on ? "tun:on" : "tun:off"); }
    void resumePendingConnection() { calls.append("resume"); }
};

} // namespace

class VersionCheckerTest : public QObject
{
    Q_OBJECT

private:
    TestPanel m_panel;

    bool serveVersionFile(const QJsonValue &minVersion, const QString &updateUrl)
    {
        QJsonObject file {{QStringLiteral("update_url"), updateUrl}};
        if (!minVersion.isUndefined())
            file.insert(QStringLiteral("min_version"), minVersion);
        return m_panel.configure({{QStringLiteral("version"), file}});
    }

private slots:
    void initTestCase();
    void init();
    void parseVersion_data();
    void parseVersion();
    void compareVersions_data();
    void compareVersions();
    void check_data();
    void check();
    void failOpen_data();
    void failOpen();
    void secondCallWhileChecking();
    void tunResumeOnRealGate_data();
    void tunResumeOnRealGate();
};

void VersionCheckerTest::initTestCase()
{
    QVERIFY2(m_panel.start(), qPrintable(m_panel.lastError()));
    m_panel.exportClientEnvironment();
    QVERIFY(Deployment::trustExtraCaCertificate());
}

void VersionCheckerTest::init()
{
    QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError()));
    m_panel.exportClientEnvironment();
}

void VersionCheckerTest::parseVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QList<int>>("parts");
    QTest::newRow("single") << "1" << true << QList<int> {1};
    QTest::newRow("three, spaced") << " 1.20.3 " << true << QList<int> {1, 20, 3};
    QTest::newRow("pre-release") << "1.0.1-beta" << true << QList<int> {1, 0, 1};
    QTest::newRow("build") << "1.0.0+7" << true << QList<int> {1, 0, 0};
    QTest::newRow("first suffix wins") << "2.1+b-1" << true << QList<int> {2, 1};
    QTest::newRow("leading zeros") << "01.002" << true << QList<int> {1, 2};
    QTest::newRow("largest part") << "2147483647" << true << QList<int> {2147483647};
    QTest::newRow("part too large") << "2147483648" << false << QList<int> {};
    QTest::newRow("prefix v") << "v1.2" << false << QList<int> {};
    QTest::newRow("double dot") << "1..2" << false << QList<int> {};
    QTest::newRow("leading dot") << ".1" << false << QList<int> {};
    QTest::newRow("trailing dot") << "1." << false << QList<int> {};
    QTest::newRow("space inside") << "1. 2" << false << QList<int> {};
    QTest::newRow("only a suffix") << "-beta" << false << QList<int> {};
    QTest::newRow("empty") << "" << false << QList<int> {};
}

void VersionCheckerTest::parseVersion()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QList<int>, parts);
    QList<int> parsed {99};
    QCOMPARE(VersionChecker::parseVersion(text, parsed), ok);
    if (ok)
        QCOMPARE(parsed, parts);
}

void VersionCheckerTest::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("equal, shorter b") << "1.0.0"
                                      << "1" << 0;
    QTest::newRow("equal, two parts") << "1.0.0"
                                      << "1.0" << 0;
    QTest::newRow("older patch") << "1.0.0"
                                 << "1.0.1" << -1;
    QTest::newRow("older minor") << "1.0.0"
                                 << "1.1" << -1;
    QTest::newRow("numeric, not textual") << "1.10"
                                          << "1.9" << 1;
    QTest::newRow("longer a") << "1.0.0.1"
                              << "1" << 1;
    QTest::newRow("pre-release counts as release") << "1.0.0"
                                                   << "1.0.1-beta" << -1;
    QTest::newRow("build ignored") << "1.0.0"
                                   << "1.0.0+7" << 0;
    QTest::newRow("unreadable b") << "1.0.0"
                                  << "v1.2" << 0;
    QTest::newRow("unreadable a") << "x"
                                  << "1.0" << -1;
    QTest::newRow("both unreadable") << "x"
                                     << "y" << 0;
}

void VersionCheckerTest::compareVersions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(VersionChecker::compareVersions(a, b), order);
}

void VersionCheckerTest::check_data()
{
    QTest::addColumn<QJsonValue>("minVersion"); // undefined: the key is left out
    QTest::addColumn<bool>("updateRequired");
    QTest::addColumn<QString>("minimumVersion");
    QTest::addColumn<QString>("error");
    QTest::newRow("same") << QJsonValue("1.0.0") << false << "1.0.0"
                          << "";
    QTest::newRow("two parts") << QJsonValue("1.0") << false << "1.0"
                               << "";
    QTest::newRow("one part") << QJsonValue("1") << false << "1"
                              << "";
    QTest::newRow("older") << QJsonValue(" 0.9.9\n") << false << "0.9.9"
                           << "";
    QTest::newRow("newer patch") << QJsonValue("1.0.1") << true << "1.0.1"
                                 << "";
    QTest::newRow("newer minor") << QJsonValue("1.1") << true << "1.1"
                                 << "";
    QTest::newRow("pre-release") << QJsonValue("1.0.1-beta") << true << "1.0.1-beta"
                                 << "";
    QTest::newRow("build") << QJsonValue("1.0.0+7") << false << "1.0.0+7"
                           << "";
    QTest::newRow("prefix v") << QJsonValue("v1.2") << false << "" << kInvalid;
    QTest::newRow("double dot") << QJsonValue("1..2") << false << "" << kInvalid;
    QTest::newRow("leading dot") << QJsonValue(".1.0") << false << "" << kInvalid;
    QTest::newRow("trailing dot") << QJsonValue("1.0.") << false << "" << kInvalid;
    QTest::newRow("number") << QJsonValue(2) << false << "" << kMissing;
    QTest::newRow("blank") << QJsonValue("  ") << false << "" << kMissing;
    QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << false << "" << kMissing;
}

void VersionCheckerTest::check()
{
    QFETCH(QJsonValue, minVersion);
    QFETCH(bool, updateRequired);
    QFETCH(QString, minimumVersion);
    QFETCH(QString, error);
    QVERIFY(serveVersionFile(minVersion, QStringLiteral(" https://get.example/new ")));

    VersionChecker gate;
    QSignalSpy usable(&gate, &VersionChecker::canUseAppChanged);
    QSignalSpy updateSpy(&gate, &VersionChecker::updateRequiredChanged);
    gate.checkMinimumSupportedVersion();

    QVERIFY(gate.checked());
    QVERIFY(!gate.isChecking());
    QCOMPARE(gate.updateRequired(), updateRequired);
    QCOMPARE(gate.canUseApp(), !updateRequired);
    QCOMPARE(usable.size(), updateRequired ? 0 : 1);
    QCOMPARE(updateSpy.size(), updateRequired ? 1 : 0);
    QCOMPARE(gate.minimumVersion(), minimumVersion);
    QCOMPARE(gate.updateUrl(), error.isEmpty() ? "https://get.example/new" : "");
    QCOMPARE(gate.errorMessage(), error);
    QCOMPARE(gate.currentVersion(), QStringLiteral("1.0.0"));
    const QJsonObject sent = m_panel.lastRequest(kVersionFile);
    QCOMPARE(sent.value("headers").toObject().value("accept").toString(), "application/json");
}

void VersionCheckerTest::failOpen_data()
{
    QTest::addColumn<QString>("kind"); // an HTTP status, a body fault, "never" or "closed"
    QTest::addColumn<QString>("error");
    QTest::newRow("server error") << "500"
                                  << "Server error, please try again later";
    QTest::newRow("refused as unauthorised") << "403"
                                             << "Authentication expired, please log in again";
    QTest::newRow("not JSON") << "malformed"
                              << "Invalid version response";
    QTest::newRow("not an object") << "non-object"
                                   << "Invalid version response";
    QTest::newRow("empty body") << "empty"
                                << "Invalid version response";
    QTest::newRow("nothing listening") << "closed"
                                       << "Unable to connect to server";
    QTest::newRow("no answer") << "never"
                               << "Connection timed out";
}

void VersionCheckerTest::failOpen()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);

    // A good check first: a failure keeps what it learnt.
    QVERIFY(serveVersionFile(QJsonValue("1.0.1"), QStringLiteral("https://get.example/new")));
    VersionChecker gate;
    gate.checkMinimumSupportedVersion();
    QVERIFY(gate.updateRequired());

    if (kind == QLatin1String("closed")) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        qputenv("QIVRO_VERSION_FILE_URL",
            QStringLiteral("https://127.0.0.1:%1/client/version.json").arg(port).toUtf8());
    } else {
        TestPanel::Fault fault;
        if (kind.front().isDigit())
            fault.status = kind.toInt();
        else if (kind == QLatin1String("never"))
            fault.neverAnswer = true;
        else
            fault.body = kind;
        QVERIFY(m_panel.setFault(kVersionFile, fault));
    }

    QSignalSpy usable(&gate, &VersionChecker::canUseAppChanged);
    gate.checkMinimumSupportedVersion();
    QCOMPARE(gate.errorMessage(), error);
    QVERIFY(gate.checked());
    QVERIFY(!gate.updateRequired());
    QVERIFY(gate.canUseApp());
    QCOMPARE(usable.size(), 1);
    QCOMPARE(gate.minimumVersion(), QStringLiteral("1.0.1"));
    QCOMPARE(gate.updateUrl(), QStringLiteral("https://get.example/new"));

    // The next good check clears the error.
    m_panel.exportClientEnvironment();
    QVERIFY(m_panel.clearFaults());
    QVERIFY(serveVersionFile(QJsonValue("1.0"), QString()));
    gate.checkMinimumSupportedVersion();
    QCOMPARE(gate.errorMessage(), QString());
    QCOMPARE(gate.updateUrl(), QString());
}

void VersionCheckerTest::secondCallWhileChecking()
{
    TestPanel::Fault slow;
    slow.delayMs = 400;
    QVERIFY(m_panel.setFault(kVersionFile, slow));
    QVERIFY(m_panel.resetCounters());

    VersionChecker gate;
    QSignalSpy checking(&gate, &VersionChecker::isCheckingChanged);
    bool sawChecking = false;
    QTimer::singleShot(50, &gate, [&] {
        sawChecking = gate.isChecking() && !gate.canUseApp();
        gate.checkMinimumSupportedVersion();
    });
    gate.checkMinimumSupportedVersion();
    QVERIFY(sawChecking);
    QCOMPARE(checking.size(), 2);
    QCOMPARE(m_panel.requestCount(kVersionFile), 1);
    QVERIFY(gate.canUseApp());
}

void VersionCheckerTest::tunResumeOnRealGate_data()
{
    QTest::addColumn<QString>("minVersion");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("usable") << "1.0.0" << QStringList {"tun:on", "resume"};
    QTest::newRow("update required") << "2.0" << QStringList {};
}

void VersionCheckerTest::tunResumeOnRealGate()
{
    QFETCH(QString, minVersion);
    QFETCH(QStringList, calls);
    QVERIFY(serveVersionFile(QJsonValue(minVersion), QString()));

    VersionChecker gate;
    FakeService service;
    Startup::connectTunResume(&gate, &service);
    QSignalSpy usable(&gate, &VersionChecker::canUseAppChanged);
    // Twice: the second check takes the gate through "checking" and back to usable.
    for (int round = 0; round < 2; ++round) {
        gate.checkMinimumSupportedVersion();
        QCoreApplication::processEvents();
    }
    QCOMPARE(usable.size(), calls.isEmpty() ? 0 : 3);
    QCOMPARE(service.calls, calls);
}

QTEST_GUILESS_MAIN(VersionCheckerTest)
#include "tst_versionchecker.moc"
