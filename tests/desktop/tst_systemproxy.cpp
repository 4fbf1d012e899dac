// The system proxy follows the connection and puts back what it found: on disconnect, at the next
// start after a crash, and never over settings the user changed meanwhile. GNOME's settings run on
// a key file (GSETTINGS_BACKEND=keyfile) in the test's own configuration folder, KDE's on a file.
#include "desktop/desktopsettings.h"
#include "desktop/gnomeproxy.h"
#include "desktop/kdeproxy.h"
#include "desktop/systemproxy.h"
#include "tunneltest.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSubscription = QStringLiteral("https://panel.test/api/subscribe?token=desktop");

std::unique_ptr<ProxyBackend> makeBackend(const QString &kind, const QString &folder)
{
    if (kind == QLatin1String("gnome"))
        return std::make_unique<GnomeProxy>();
    return std::make_unique<KdeProxy>(folder + QStringLiteral("/kioslaverc"));
}

ProxyBackend::Values read(const ProxyBackend &backend)
{
    ProxyBackend::Values values;
    return backend.read(&values) ? values : ProxyBackend::Values {{"unreadable", "yes"}};
}

} // namespace

class SystemProxyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void followsConnection_data();
    void followsConnection();

private:
    TestProfile m_world;
};

void SystemProxyTest::initTestCase()
{
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
    QVERIFY(m_world.open(QStringLiteral("systemproxy")));
    QVERIFY(m_world.add(kSubscription, {"HK-01", "JP-01", "JP-02"}));
    m_world.tunnel = std::make_unique<service>(*m_world.store, nullptr);
    QVERIFY(m_world.tunnel->selectSubscription(kSubscription));
}

void SystemProxyTest::init()
{
    if (m_world.tunnel->isConnected())
        m_world.tunnel->ToggleConnection();
}

void SystemProxyTest::followsConnection_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("ending"); // "disconnect", "crash", "user changed"
    for (const char *kind : {"gnome", "kde"}) {
        for (const char *ending : {"disconnect", "crash", "user changed"})
            QTest::addRow("%s, %s", kind, ending) << kind << ending;
    }
}

void SystemProxyTest::followsConnection()
{
    QFETCH(QString, kind);
    QFETCH(QString, ending);
    QTemporaryDir folder;
    std::unique_ptr<ProxyBackend> probe = makeBackend(kind, folder.path());
    if (kind == QLatin1String("gnome")) {
        ProxyBackend::Values unused;
        if (!probe->read(&unused))
            QSKIP("gsettings or GNOME's proxy schema is not installed");
    } else {
        // Another group and a key of the same group that the proxy does not own must survive.
        QFile file(folder.filePath(QStringLiteral("kioslaverc")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Cache]\nMaxCacheSize=5120\n\n[Proxy Settings]\nNoProxyFor=example.test\n"
                   "ProxyType=0\n");
    }
    // The user's own settings before: another proxy, turned off.
    if (kind == QLatin1String("gnome")) {
        ProxyBackend::Values off = probe->proxyValues(QStringLiteral("198.18.0.9"), 3128);
        off[QStringLiteral("org.gnome.system.proxy/mode")] = QStringLiteral("'none'");
        QVERIFY(probe->write(off));
    }
    const ProxyBackend::Values before = read(*probe);

    const QString record = folder.filePath(QStringLiteral("record.json"));
    auto makeProxy = [&]() {
        SystemProxy::Backends backends;
        backends.push_back(makeBackend(kind, folder.path()));
        return std::make_unique<SystemProxy>(record, std::move(backends));
    };
    service &tunnel = *m_world.tunnel;
    auto proxy = makeProxy();
    auto settings = std::make_unique<DesktopSettings>(tunnel, proxy.get());
    settings->setSystemProxy(true);
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QCOMPARE(read(*probe), probe->proxyValues(QStringLiteral("127.0.0.1"), kMixedProxyPort));

    ProxyBackend::Values expected = before;
    if (ending == QLatin1String("disconnect")) {
        tunnel.ToggleConnection();
    } else if (ending == QLatin1String("crash")) {
        // Gone without a word; the next start finds the record and puts the settings back.
        settings.reset();
        proxy.reset();
        tunnel.ToggleConnection();
        QCOMPARE(read(*probe), probe->proxyValues(QStringLiteral("127.0.0.1"), kMixedProxyPort));
        proxy = makeProxy();
        settings = std::make_unique<DesktopSettings>(tunnel, proxy.get());
    } else {
        expected = probe->proxyValues(QStringLiteral("198.18.0.10"), 8080);
        QVERIFY(probe->write(expected));
        expected = read(*probe);
        tunnel.ToggleConnection();
    }
    QVERIFY(!tunnel.isConnected());
    QCOMPARE(read(*probe), expected);
    QVERIFY(!QFile::exists(record));
    if (kind == QLatin1String("kde")) {
        QFile file(folder.filePath(QStringLiteral("kioslaverc")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[Cache]\nMaxCacheSize=5120\n")
                && text.contains("NoProxyFor=example.test"),
            text.constData());
    }
}

QTEST_GUILESS_MAIN(SystemProxyTest)
#include "tst_systemproxy.moc"
