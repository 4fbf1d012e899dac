// The version gate: version arithmetic, and every way a check against the development panel's
// version file ends, the failed ones included (the gate fails open).
#include "main/startup.h"
#include "panel/versionchecker.h"
#include "panelsuite.h"

#include <QJsonValue>
#include <QTimer>

namespace {

const QString kVersionFile = QStringLiteral("/client/version.json");

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

class VersionCheckerTest : public PanelSuite
{
    Q_OBJECT

private:
    bool serve(const QJsonValue &minVersion, const QString &updateUrl = {})
    {
        QJsonObject file {{"update_url", updateUrl}};
        if (!minVersion.isUndefined())
            file.insert("min_version", minVersion);
        return m_panel.configure({{"version", file}});
    }

private slots:
    void compareVersions_data();
    void compareVersions();
    void check_data();
    void check();
    void secondCallWhileChecking();
    void tunResumeOnRealGate();
};

void VersionCheckerTest::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    const auto row = [](const char *a, const char *b, int order) {
        QTest::newRow(qPrintable(QStringLiteral("%1 vs %2").arg(a, b))) << a << b << order;
    };
    row("1.0.0", "1", 0);
    row("1.10", "1.9", 1); // numeric, not textual
    row("1.0.0", "1.0.1-beta", -1); // a pre-release counts as its release
    row("1.0.0", "v1.2", 0); // b unreadable
    row("2147483648", "1", -1); // a unreadable: beyond 32 bits
    row("2147483647", "1", 1);
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
    // An HTTP status or a body fault. The arithmetic and the request layer's errors (a server that
    // never answers among them) have their own tables; these rows are the gate's own outcomes.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("updateRequired");
    QTest::addColumn<QString>("error"); // empty: the file was understood
    const auto row
        = [](const char *tag, const QJsonValue &min, bool update, const char *error,
              const char *fault = "") { QTest::newRow(tag) << min << fault << update << error; };
    row("same, spaced", " 1.0.0\n", false, "");
    row("newer patch", "1.0.1", true, "");
    const char *invalid = "Version response has an invalid min_version";
    const char *missing = "Version response is missing min_version";
    row("prefix v", "v1.2", false, invalid);
    row("absent", QJsonValue::Undefined, false, missing);
    const char *notJson = "Invalid version response";
    row("not JSON", "1.1", false, notJson, "malformed");
    row("server error", "1.1", false, "Server error, please try again later", "502");
}

void VersionCheckerTest::check()
{
    QFETCH(QJsonValue, minVersion);
    QFETCH(QString, fault);
    QFETCH(bool, updateRequired);
    QFETCH(QString, error);

    // A first check that requires an update: a failed one must clear that, and keep the values.
    VersionChecker gate;
    QVERIFY(serve("1.0.2", "https://get.example/old"));
    gate.checkMinimumSupportedVersion();
    QVERIFY(gate.updateRequired() && !gate.canUseApp());

    QVERIFY(serve(minVersion, " https://get.example/new "));
    QVERIFY(fault.isEmpty() || m_panel.setFault(kVersionFile, fault));
    QSignalSpy usable(&gate, &VersionChecker::canUseAppChanged);
    gate.checkMinimumSupportedVersion();

    QVERIFY(gate.checked() && !gate.isChecking());
    QCOMPARE(gate.updateRequired(), updateRequired);
    QCOMPARE(gate.canUseApp(), !updateRequired);
    QCOMPARE(usable.size(), updateRequired ? 0 : 1);
    QCOMPARE(gate.errorMessage(), error);
    const bool understood = error.isEmpty();
    QCOMPARE(gate.minimumVersion(), understood ? minVersion.toString().trimmed() : "1.0.2");
    QCOMPARE(gate.updateUrl(), understood ? "https://get.example/new" : "https://get.example/old");
}

void VersionCheckerTest::secondCallWhileChecking()
{
    QVERIFY(serve("1.0"));
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

// The elevated restart's callback on the real gate: once when usable, never when blocked,
// although a second check passes through "checking" and back.
void VersionCheckerTest::tunResumeOnRealGate()
{
    for (const QString &minVersion : {QStringLiteral("1.0.0"), QStringLiteral("2.0")}) {
        QVERIFY(serve(minVersion));
        VersionChecker gate;
        FakeService service;
        Startup::connectTunResume(&gate, &service);
        QSignalSpy usable(&gate, &VersionChecker::canUseAppChanged);
        for (int round = 0; round < 2; ++round) {
            gate.checkMinimumSupportedVersion();
            QCoreApplication::processEvents();
        }
        const bool allowed = minVersion == QLatin1String("1.0.0");
        QCOMPARE(usable.size(), allowed ? 3 : 0);
        QCOMPARE(service.calls, allowed ? QStringList({"tun:on", "resume"}) : QStringList());
    }
}

QTEST_GUILESS_MAIN(VersionCheckerTest)
#include "tst_versionchecker.moc"
