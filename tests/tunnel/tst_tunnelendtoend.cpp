// The road of one connection on loopback: the development panel's demo account, its Shadowsocks
// nodes served by ss-server and Hysteria 2 nodes served by the tests' own server, the
// subscription fetched and stored, selected, connected through the bundled engine library, and
// curl through the local proxy to a local origin.
#include "../quality/qualityworld.h" // the origin fetched through the proxy
#include "clientprofile.h"
#include "demonodes.h"
#include "hy2server.h"
#include "main/startup.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "tunneltest.h"

#include <QSettings>
#include <QTemporaryFile>
#include <QTest>
#include <QUrlQuery>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Standard error, where the engine writes its log, into a file until text() is asked.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        m_saved = dup(STDERR_FILENO);
        dup2(m_file.handle(), STDERR_FILENO);
    }
    QString text()
    {
        std::fflush(stderr);
        dup2(m_saved, STDERR_FILENO);
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

class TunnelEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signInToConnectKeepsSecrets();
    void fetchSelectConnectAndSwitch();

private:
    int nodePort(const Subscription &subscription, const QString &tag) const;

    DemoNodes m_demo;
    QUrl m_subscriptionUrl;
    int m_plan = 0;
    TestProfile m_profile;
};

void TunnelEndToEndTest::initTestCase()
{
    if (!DemoNodes::available() || !support::haveProgram("curl"))
        QSKIP("ss-server (shadowsocks-libev) or curl is missing");
    QVERIFY(m_profile.open(QStringLiteral("end-to-end")));
    // The bundled engine library next to this executable, as the program finds it.
    qunsetenv("QIVRO_ENGINE_LIBRARY");

    QVERIFY2(m_demo.start(), qPrintable(m_demo.lastError()));
    QVERIFY(pointClientAt(m_demo.panel));
    const QByteArray token = m_demo.panel.login(
        QString::fromLatin1(DemoNodes::kEmail), QString::fromLatin1(DemoNodes::kPassword));
    QVERIFY(!token.isEmpty());
    const QJsonObject first = m_demo.panel.call("GET", "/v1/public/user/subscribe", {}, token)
                                  .value("data")["list"][0]
                                  .toObject();
    m_subscriptionUrl = m_demo.panel.url("/api/subscribe?token=" + first["token"].toString());
    m_plan = first["subscribe_id"].toInt();
    QVERIFY(m_plan > 0);
}

// A session the way a user runs it: sign in, fetch, connect, browse, share on the LAN. Afterwards
// the files that hold secrets are the user's alone whatever the umask, and no log line of the
// client or the engine carries a secret.
void TunnelEndToEndTest::signInToConnectKeepsSecrets()
{
    const mode_t umaskBefore = umask(0);
    // An older build's loose folder and settings file are tightened at start.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString ini = QSettings(QSettings::IniFormat, QSettings::UserScope,
        QCoreApplication::organizationName(), QCoreApplication::applicationName())
                            .fileName();
    QVERIFY(QDir().mkpath(QFileInfo(ini).absolutePath()) && QFile(ini).open(QIODevice::WriteOnly));
    QVERIFY(QFile::setPermissions(data, QFile::Permissions(0x7777)));
    QVERIFY(QFile::setPermissions(ini, QFile::Permissions(0x6666)));
    Startup::prepareProfile();

    LogCapture log;
    StderrCapture engineLog;
    AuthHandler auth;
    QVERIFY(auth.login(
        QString::fromLatin1(DemoNodes::kEmail), QString::fromLatin1(DemoNodes::kPassword)));
    SubscriptionHandler store(*m_profile.database);
    SubscribeHandler subscribe(&auth, &store);
    QVERIFY(subscribe.fetchNodes());
    const QString url = subscribe.getSubscriptionUrl(0);
    RecordingSelection selection;
    selection.defaultTag = store.getSubscription(url).tags.value(0);
    service tunnel(store, &selection);
    support::Origin origin("origin");

    QVERIFY(tunnel.selectSubscription(url));
    tunnel.ToggleConnection();
    QVERIFY(fetchThroughProxy(origin, 10, ":") > 0);
    // Shared on the LAN, the same proxy asks everyone for the login.
    tunnel.lanSharing()->setEnabled(true);
    tunnel.ToggleConnection();
    QVERIFY(tunnel.selectSubscription(url));
    tunnel.ToggleConnection();
    QVERIFY(tunnel.isConnected());
    QVERIFY(fetchThroughProxy(origin, 10, ":") < 0);
    QVERIFY(
        fetchThroughProxy(origin, 10,
            (tunnel.lanSharing()->username() + ':' + tunnel.lanSharing()->password()).toStdString())
        > 0);
    tunnel.ToggleConnection();
    tunnel.lanSharing()->setEnabled(false);
    umask(umaskBefore);

    // Owner, group and others; QFile adds the current user's rights beside them.
    const auto mode = [](const QString &path) {
        return QFile::permissions(QDir::fromNativeSeparators(path)) & QFile::Permissions(0x7077);
    };
    for (const QString &folder : {data, data + QStringLiteral("/db"), QFileInfo(ini).path()})
        QCOMPARE(mode(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const QString &file : {data + QStringLiteral("/db/app.db"), tunnel.configFile(), ini})
        QCOMPARE(mode(file), QFile::ReadOwner | QFile::WriteOwner);

    QStringList secrets {auth.authToken(), QString::fromLatin1(DemoNodes::kPassword),
        tunnel.secret(), tunnel.lanSharing()->password(),
        QUrlQuery(QUrl(url)).queryItemValue(QStringLiteral("token"))};
    for (const QJsonValue &outbound : store.getSubscription(url).outbounds)
        secrets.append(outbound[QLatin1String("password")].toString());
    const QStringList lines = LogCapture::lines() + engineLog.text().split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 20);
    for (const QString &secret : std::as_const(secrets)) {
        QVERIFY(secret.size() >= 6);
        for (const QString &line : lines)
            QVERIFY2(!line.contains(secret), qPrintable(line));
    }
    auth.logout();
}

int TunnelEndToEndTest::nodePort(const Subscription &subscription, const QString &tag) const
{
    for (const QJsonValue &value : subscription.outbounds) {
        if (value.toObject().value("tag").toString() == tag)
            return value.toObject().value("server_port").toInt();
    }
    return 0;
}

// One session over every node kind the panel lists: the seed's Shadowsocks nodes (the third in
// the older whole-authority Base64 form) and Hysteria nodes in each of the three link kinds, run
// by the tests' own server: Salamander with the name checked against the panel's certificate,
// plain with the check switched off.
void TunnelEndToEndTest::fetchSelectConnectAndSwitch()
{
    support::CertificateSet certificate;
    certificate.certificatePath = m_demo.panel.certificatePath().toStdString();
    certificate.keyPath
        = QDir(m_demo.panel.dataDir()).filePath(QStringLiteral("key.pem")).toStdString();
    support::Hy2ServerOptions plainOptions;
    plainOptions.password = "qivro-hy2";
    support::Hy2ServerOptions obfsOptions = plainOptions;
    obfsOptions.obfsPassword = "qivro-obfs";
    support::Hy2Server plain(plainOptions, certificate);
    support::Hy2Server obfuscated(obfsOptions, certificate);
    const QList<std::pair<QString, const support::Hy2Server *>> hy2 = {
        {QStringLiteral("hysteria2://qivro-hy2@127.0.0.1:%1?sni=localhost&obfs=salamander"
                        "&obfs-password=qivro-obfs#DE-02")
                .arg(obfuscated.port()),
            &obfuscated},
        {QStringLiteral("hysteria://qivro-hy2@127.0.0.1:%1?sni=localhost#GB-02").arg(plain.port()),
            &plain},
        {QStringLiteral("hy2://qivro-hy2@127.0.0.1:%1?insecure=1#FR-02").arg(plain.port()), &plain},
    };
    for (const auto &[link, server] : hy2) {
        const QJsonObject added = m_demo.panel.admin("POST", QStringLiteral("/admin/nodes"),
            {{"name", link.section(QLatin1Char('#'), 1)},
                {"protocol", link.section(QLatin1Char(':'), 0, 0)}, {"link", link},
                {"plan_ids", QJsonArray {m_plan}}});
        QVERIFY2(!added.isEmpty(), qPrintable(m_demo.panel.lastError()));
    }

    SubscriptionHandler store(*m_profile.database);
    {
        LogCapture log;
        QVERIFY(store.addSubURL(m_subscriptionUrl));
        QCOMPARE(LogCapture::count(QStringLiteral("Cannot handle url: ")), 0);
    }
    const QString name = m_subscriptionUrl.toString();
    const Subscription subscription = store.getSubscription(name);
    const QString japan = QStringLiteral("日本-01");
    const QString hongKong = QStringLiteral("香港-01");
    QCOMPARE(subscription.tags,
        QList<QString>(
            {japan, hongKong, QStringLiteral("美国-01 VIP"), "DE-02", "GB-02", "FR-02"}));

    // The node health tests go to the origin, never off the machine.
    support::Origin origin("origin", 3 << 20);
    qputenv("QIVRO_ENGINE_TEST_URL",
        QByteArray("http://127.0.0.1:") + QByteArray::number(origin.port()) + "/generate_204");
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
    QVERIFY(fetchThroughProxy(origin) > 0);

    // Without the Japanese node's server the same route breaks; the switch takes new connections
    // to the Hong Kong node.
    m_demo.stopServer(nodePort(subscription, japan));
    QVERIFY(fetchThroughProxy(origin) < 0);
    QVERIFY(tunnel.selectProxy(hongKong));
    QVERIFY(fetchThroughProxy(origin) > 0);

    for (const auto &[link, server] : hy2) {
        const QString tag = link.section(QLatin1Char('#'), 1);
        QVERIFY(tunnel.selectProxy(tag));
        const int streams = server->counters().tcpStreams;
        QVERIFY2(fetchThroughProxy(origin) > 0, qPrintable(tag));
        QVERIFY2(server->counters().tcpStreams > streams, qPrintable(tag));
    }
    tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());
}

QTEST_GUILESS_MAIN(TunnelEndToEndTest)
#include "tst_tunnelendtoend.moc"
