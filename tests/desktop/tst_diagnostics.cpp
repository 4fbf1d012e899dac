// The support report against the development panel: an account signed in, its subscription with
// Shadowsocks, VLESS (REALITY) and Hysteria 2 nodes fetched and built into the engine
// configuration, LAN sharing on, an engine refusal and log lines that quote secrets. No secret may
// reach the report.
#include "clientprofile.h"
#include "database/databasehandler.h"
#include "desktop/diagnostics.h"
#include "desktop/logbuffer.h"
#include "panel/authhandler.h"
#include "panel/subscribehandler.h"
#include "service/service.h"
#include "subscription/subscriptionhandler.h"
#include "testpanel.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

const QString kEmail = QStringLiteral("support@example.test");
const QString kPassword = QStringLiteral("Sup-port-pw-77");
const QString kUuid = QStringLiteral("3b0c5e1a-7d2f-4c6b-9a8e-1f2d3c4b5a69");
const QString kNodePassword = QStringLiteral("ss-node-secret-4411");
const QString kHy2Password = QStringLiteral("hy2-user-pass-9031");
const QString kObfsPassword = QStringLiteral("obfs-pass-5521");
const QString kPublicKey = QStringLiteral("jNXHt1yRo0vDuchQlIP6Z0ZvjT3KtzVI-T4E7RoLJS0");
const QString kShortId = QStringLiteral("a1b2c3d4e5f6");

QStringList links()
{
    const QString ssUser = QString::fromLatin1(
        QByteArray("aes-256-gcm:" + kNodePassword.toLatin1())
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    return {
        QStringLiteral("ss://%1@127.0.0.1:18001#HK-01").arg(ssUser),
        QStringLiteral("vless://%1@127.0.0.1:18002?encryption=none&security=reality&sni=a.test"
                       "&fp=chrome&pbk=%2&sid=%3&flow=xtls-rprx-vision#JP-01")
            .arg(kUuid, kPublicKey, kShortId),
        QStringLiteral("hysteria2://%1@127.0.0.1:18003?sni=b.test&obfs=salamander"
                       "&obfs-password=%2#US-01")
            .arg(kHy2Password, kObfsPassword),
    };
}

} // namespace

class DiagnosticsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noSecrets_data();
    void noSecrets();

private:
    QTemporaryDir m_settings;
    TestPanel m_panel;
    QString m_subscriptionToken;
};

void DiagnosticsTest::initTestCase()
{
    LogBuffer::install();
    useTestProfile(QStringLiteral("qivro-diagnostics"), m_settings.path());
    QVERIFY2(m_panel.start(), qPrintable(m_panel.lastError()));
    QVERIFY(pointClientAt(m_panel));
    const int plan = m_panel.admin("POST", QStringLiteral("/admin/plans"), {{"name", "Support"}})
                         .value("id")
                         .toInt();
    QVERIFY(plan > 0);
    for (const QString &link : links()) {
        QVERIFY(!m_panel
                     .admin("POST", QStringLiteral("/admin/nodes"),
                         {{"name", link.section('#', 1)}, {"link", link},
                             {"plan_ids", QJsonArray {plan}}})
                     .isEmpty());
    }
    QVERIFY(!m_panel.createUser(kEmail, kPassword).isEmpty());
    m_subscriptionToken = m_panel.grantSubscription(kEmail, plan).value("token").toString();
    QVERIFY(!m_subscriptionToken.isEmpty());
}

void DiagnosticsTest::noSecrets_data()
{
    QTest::addColumn<bool>("ticket"); // the ticket's share of the report, else the whole
    QTest::newRow("copied") << false;
    QTest::newRow("attached to a ticket") << true;
}

void DiagnosticsTest::noSecrets()
{
    QFETCH(bool, ticket);
    DatabaseHandler database(QStringLiteral(":/sql/"), QStringLiteral("diagnostics"));
    QVERIFY(database.initializeDatabase());
    SubscriptionHandler store(database);
    AuthHandler auth;
    SubscribeHandler subscriptions(&auth, &store);
    // An engine that refuses the configuration, quoting a credential.
    qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
    qputenv("QIVRO_STANDIN_START", ("outbound JP-01: bad user " + kUuid).toUtf8());
    service tunnel(store, &subscriptions);
    QVERIFY(auth.login(kEmail, kPassword));
    QVERIFY(subscriptions.fetchNodes());
    QCOMPARE(subscriptions.subscriptionCount(), 1);
    const QString url = subscriptions.getSubscriptionUrl(0);
    tunnel.lanSharing()->setEnabled(true);
    QVERIFY(tunnel.selectSubscription(url));
    QCOMPARE(tunnel.proxyTags().size(), 3);
    tunnel.ToggleConnection();
    QVERIFY(!tunnel.isConnected());

    const QStringList secrets {kPassword, auth.authToken(), m_subscriptionToken, kNodePassword,
        kUuid, kUuid.toUpper(), kHy2Password, kObfsPassword, kPublicKey, kShortId, tunnel.secret(),
        tunnel.lanSharing()->username(), tunnel.lanSharing()->password()};
    for (const QString &secret : secrets)
        QVERIFY(!secret.isEmpty());
    // Lines a careless caller might write; the report must still hold none of it.
    qWarning().noquote() << "[Test] node" << kNodePassword << kUuid.toUpper() << "lan"
                         << tunnel.lanSharing()->password() << "api" << tunnel.secret();
    qDebug().noquote() << "[Test] fetching" << url << "with" << auth.authToken();
    qDebug().noquote() << "[Test] marker line kept";

    Diagnostics diagnostics(tunnel, &auth);
    const QString message = QStringLiteral("It does not connect.");
    const QString text = ticket ? diagnostics.appendToMessage(message) : diagnostics.text();
    for (const QString &secret : secrets)
        QVERIFY2(!text.contains(secret, Qt::CaseInsensitive), qPrintable(secret));

    // Still worth reading: the state, the warning, the marker and (copied) the nodes' addresses.
    QVERIFY(text.contains(QStringLiteral("qivro ") + QStringLiteral(QIVRO_VERSION)));
    QVERIFY(text.contains(QStringLiteral("LAN sharing: on")));
    QVERIFY(text.contains(QStringLiteral("outbound JP-01: bad user ***")));
    QVERIFY(text.contains(QStringLiteral("[Test] node *** *** lan *** api ***")));
    QVERIFY(text.contains(QStringLiteral("[Test] marker line kept")));
    if (ticket) {
        QVERIFY(text.startsWith(message + QStringLiteral("\n\n")));
        QVERIFY(text.size() <= Diagnostics::kTicketLimit);
        QVERIFY(!text.contains(QStringLiteral("\"outbounds\"")));
    } else {
        QVERIFY(text.contains(QStringLiteral("\"server_port\": 18002")));
        QVERIFY(text.contains(QStringLiteral("\"type\": \"hysteria2\"")));
    }

    // Only the latest lines are kept, the newest last.
    for (int i = 0; i < LogBuffer::kCapacity + 20; ++i)
        qDebug().noquote() << "[Test] filler" << i;
    const QStringList kept = LogBuffer::instance().lines();
    QCOMPARE(kept.size(), LogBuffer::kCapacity);
    QCOMPARE(kept.last(), QStringLiteral("[Test] filler %1").arg(LogBuffer::kCapacity + 19));
    if (ticket) {
        const QString attached = diagnostics.appendToMessage(message);
        QVERIFY(attached.size() <= Diagnostics::kTicketLimit);
        QVERIFY(attached.endsWith(kept.last()));
    }
    LogBuffer::instance().clear();
}

QTEST_GUILESS_MAIN(DiagnosticsTest)
#include "tst_diagnostics.moc"
