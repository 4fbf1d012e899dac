#include "config/configbuilder.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QtTest>

namespace {

// Node i is a minimal outbound whose "server" names its input position.
QJsonArray nodes(const QStringList &tags)
{
    QJsonArray array;
    for (int i = 0; i < tags.size(); ++i) {
        array.append(QJsonObject {{QStringLiteral("type"), QStringLiteral("vless")},
            {QStringLiteral("tag"), tags.at(i)},
            {QStringLiteral("server"), QStringLiteral("node%1").arg(i)}});
    }
    return array;
}

// "tag=origin" per outbound: origin is "node<i>" or the built-in's type.
QStringList layout(const QJsonArray &outbounds)
{
    QStringList entries;
    for (const QJsonValue &value : outbounds) {
        const QJsonObject outbound = value.toObject();
        const QString type = outbound[QLatin1String("type")].toString();
        entries.append(outbound[QLatin1String("tag")].toString() + QLatin1Char('=')
            + (type == QLatin1String("vless") ? outbound[QLatin1String("server")].toString()
                                              : type));
    }
    return entries;
}

} // namespace

class TestConfigBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outbounds_data();
    void outbounds();
    void groups_data();
    void groups();
    void modes();
    void proxyAccess_data();
    void proxyAccess();
};

void TestConfigBuilder::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
}

void TestConfigBuilder::outbounds_data()
{
    QTest::addColumn<QStringList>("nodeTags");
    QTest::addColumn<QString>("selectorTag");
    QTest::addColumn<QStringList>("expected");

    // The plain layout is the golden configuration's (tst_qivroconfig).
    QTest::newRow("duplicate keeps first place, last object")
        << QStringList {"A", "B", "A", "A"} << "proxy"
        << QStringList {"A=node3", "B=node1", "proxy=selector", "urltest=urltest",
               "urltest:A=urltest", "urltest:B=urltest", "direct=direct"};
    QTest::newRow("node tagged direct")
        << QStringList {"direct", "B"} << "proxy"
        << QStringList {"direct=direct", "B=node1", "proxy=selector", "urltest=urltest",
               "urltest:direct=urltest", "urltest:B=urltest"};
    QTest::newRow("node tagged like the selector")
        << QStringList {"proxy", "B"} << "proxy"
        << QStringList {"proxy=selector", "B=node1", "urltest=urltest", "urltest:proxy=urltest",
               "urltest:B=urltest", "direct=direct"};
    QTest::newRow("empty selector tag takes an untagged node's place")
        << QStringList {"", "A"} << ""
        << QStringList {"=selector", "A=node1", "urltest=urltest", "urltest:=urltest",
               "urltest:A=urltest", "direct=direct"};
}

void TestConfigBuilder::outbounds()
{
    QFETCH(QStringList, nodeTags);
    QFETCH(QString, selectorTag);
    QFETCH(QStringList, expected);

    const QJsonObject config = buildConfig(nodes(nodeTags), nodeTags,
        QStringLiteral("127.0.0.1:9090"), QStringLiteral("s"), selectorTag, false);
    QCOMPARE(layout(config[QLatin1String("outbounds")].toArray()), expected);
    QCOMPARE(config[QLatin1String("route")][QLatin1String("final")].toString(), selectorTag);
}

void TestConfigBuilder::groups_data()
{
    QTest::addColumn<QStringList>("nodeTags");
    QTest::addColumn<QStringList>("unanswered");
    // "tag: member member ..." of the selector and each latency test group, in order.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("VIP first in Auto, clusters in first-seen order")
        << QStringList {"HK-1", "JP-1", "HK-2 VIP", "US-1"} << QStringList()
        << QStringList {"proxy: urltest urltest:HK urltest:JP urltest:US HK-1 JP-1 HK-2 VIP US-1",
               "urltest: HK-2 VIP HK-1 JP-1 US-1", "urltest:HK: HK-2 VIP HK-1", "urltest:JP: JP-1",
               "urltest:US: US-1"};
    QTest::newRow("repeated tags stay in every list")
        << QStringList {"A", "B", "A"} << QStringList()
        << QStringList {"proxy: urltest urltest:A urltest:B A B A", "urltest: A B A",
               "urltest:A: A A", "urltest:B: B"};
    QTest::newRow("unanswered last, even a VIP one")
        << QStringList {"HK-1 VIP", "JP-1", "HK-2", "JP-2 VIP"} << QStringList {"HK-1 VIP", "JP-1"}
        << QStringList {"proxy: urltest urltest:HK urltest:JP HK-1 VIP JP-1 HK-2 JP-2 VIP",
               "urltest: JP-2 VIP HK-2 HK-1 VIP JP-1", "urltest:HK: HK-2 HK-1 VIP",
               "urltest:JP: JP-2 VIP JP-1"};
}

// New connections go through the selector to a group: the selector must offer every group and
// every node, and each group exactly its own nodes.
void TestConfigBuilder::groups()
{
    QFETCH(QStringList, nodeTags);
    QFETCH(QStringList, unanswered);
    QFETCH(QStringList, expected);

    QStringList actual;
    const QJsonArray outbounds
        = createOutbounds(nodes(nodeTags), nodeTags, QStringLiteral("proxy"), unanswered);
    for (const QJsonValue &value : outbounds) {
        const QJsonObject outbound = value.toObject();
        const QString type = outbound[QLatin1String("type")].toString();
        if (type != QLatin1String("selector") && type != QLatin1String("urltest"))
            continue;
        QStringList members;
        for (const QJsonValue &member : outbound[QLatin1String("outbounds")].toArray())
            members.append(member.toString());
        actual.append(outbound[QLatin1String("tag")].toString() + ": " + members.join(' '));
    }
    QCOMPARE(actual, expected);
}

// Only the inbound differs between the two modes; without tags there is no configuration. The
// other sections' contents are the golden configuration test's.
void TestConfigBuilder::modes()
{
    const QList<QString> tags {"A", "B"};
    const QJsonObject proxyMode
        = buildConfig(nodes(tags), tags, QString(), QString(), QStringLiteral("proxy"), false);
    QJsonObject tunMode
        = buildConfig(nodes(tags), tags, QString(), QString(), QStringLiteral("proxy"), true);
    QCOMPARE(tunMode["inbounds"].toArray(),
        QJsonArray {QJsonDocument::fromJson(R"({"type": "tun", "tag": "tun-in", "address":
            ["172.19.0.1/30"], "auto_route": true, "strict_route": true, "sniff": true,
            "stack": "mixed", "mtu": 1500, "interface_name": "tun0"})")
                        .object()});
    tunMode["inbounds"] = proxyMode["inbounds"];
    QCOMPARE(tunMode, proxyMode);
    QVERIFY(buildConfig(nodes(tags), {}, QString(), QString(), QStringLiteral("proxy"), true)
                .isEmpty());
}

void TestConfigBuilder::proxyAccess_data()
{
    QTest::addColumn<bool>("lan");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("listen");
    QTest::addColumn<bool>("withUsers");

    auto row = [](const char *name, bool lan, const char *username, const char *password,
                   const char *listen, bool withUsers) {
        QTest::newRow(name) << lan << QString::fromUtf8(username) << QString::fromUtf8(password)
                            << QString::fromUtf8(listen) << withUsers;
    };
    row("a login alone opens nothing", false, "lan-x", "pw", "127.0.0.1", false);
    row("shared with a login", true, "lan-x", "pw", "::", true);
    row("shared, no password", true, "lan-x", "", "127.0.0.1", false);
}

void TestConfigBuilder::proxyAccess()
{
    QFETCH(bool, lan);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, listen);
    QFETCH(bool, withUsers);

    const QList<QString> tags {"A"};
    const ProxyAccess access {lan, username, password};
    // Through the written text, as the engine reads it.
    const QJsonObject written = QJsonDocument::fromJson(
        QJsonDocument(buildConfig(nodes(tags), tags, QString(), QString(), "proxy", false, access))
            .toJson(QJsonDocument::Compact))
                                    .object();
    const QJsonArray inbounds = written["inbounds"].toArray();
    // A shared proxy keeps a login-free listener for this machine alone.
    QCOMPARE(inbounds.size(), withUsers ? 2 : 1);
    const QJsonObject inbound = inbounds.first().toObject();
    QCOMPARE(inbound["listen"].toString(), listen);
    QCOMPARE(inbound["listen_port"].toInt(), 1080);
    const QJsonArray users {QJsonObject {{"username", username}, {"password", password}}};
    QCOMPARE(inbound["users"].toArray(), withUsers ? users : QJsonArray());
    const QJsonObject local = inbounds.last().toObject();
    QCOMPARE(local["listen"].toString(), withUsers ? QStringLiteral("127.0.0.1") : listen);
    QCOMPARE(local["listen_port"].toInt(), localProxyPort(access));
}

QTEST_GUILESS_MAIN(TestConfigBuilder)
#include "tst_configbuilder.moc"
