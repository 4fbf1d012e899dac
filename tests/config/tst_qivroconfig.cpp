// Golden test of qivro-config over a realistic 25-link subscription (data/subscription-links.txt):
// VLESS with reality, ws, grpc, httpupgrade, http, quic and tfo; Shadowsocks with and without
// plugins and a 2022 key; the hysteria family; a VMess and a Trojan link; a repeated tag; a
// traffic-info pseudo node; a link without port; a status line, a blank line and a CRLF line; and
// five links the engine would refuse (a VLESS user that is no UUID, an unknown flow, port 0, an
// unknown method, an unknown obfs type), each named with its credentials masked and its reason.
//
// data/subscription-expected.json was written by hand, link by link, from the share-link, routing
// and assembly rules, before the tool was first run: each tag is the percent-decoded fragment
// (the flags decoded byte by byte from their UTF-8 escapes), the Shadowsocks credentials are the
// decoded Base64 of each user info, the repeated "Hong Kong - 01" keeps the first place with the
// second link's object while both groups list the tag twice, and the three refused links are the
// expected standard error (the VMess one is an invalid URL, whose display form is empty). The first
// run matched it without edits. @APPDATA@ stands for the application data folder; rule sets are
// compared in name order since the folder's listing order is the file system's.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonArray sortedArray(const QJsonArray &array, const char *key = nullptr)
{
    QList<QJsonValue> values(array.begin(), array.end());
    const auto sortKey = [key](const QJsonValue &value) {
        return key ? value[QLatin1String(key)].toString() : value.toString();
    };
    std::sort(values.begin(), values.end(),
        [&sortKey](const QJsonValue &a, const QJsonValue &b) { return sortKey(a) < sortKey(b); });
    QJsonArray sorted;
    for (const QJsonValue &value : values)
        sorted.append(value);
    return sorted;
}

// Replaces the data folder by @APPDATA@ and puts rule sets in name order.
QJsonObject normalised(QByteArray text, const QString &appData)
{
    text.replace(appData.toUtf8(), "@APPDATA@");
    QJsonObject config = QJsonDocument::fromJson(text).object();
    QJsonObject route = config[QLatin1String("route")].toObject();
    route[QLatin1String("rule_set")]
        = sortedArray(route[QLatin1String("rule_set")].toArray(), "tag");
    QJsonArray rules = route[QLatin1String("rules")].toArray();
    for (qsizetype i = 2; i < rules.size(); ++i) {
        QJsonObject rule = rules.at(i).toObject();
        rule[QLatin1String("rule_set")] = sortedArray(rule[QLatin1String("rule_set")].toArray());
        rules[i] = rule;
    }
    route[QLatin1String("rules")] = rules;
    config[QLatin1String("route")] = route;
    return config;
}

QByteArray indented(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson()
                           : QJsonDocument(value.toObject()).toJson();
}

// Section by section and node by node, so a failure names the place.
void compareConfig(const QJsonObject &actual, const QJsonObject &expected)
{
    QCOMPARE(actual.keys(), expected.keys());
    for (const QString &key : expected.keys()) {
        if (key == QLatin1String("outbounds")) {
            const QJsonArray a = actual[key].toArray();
            const QJsonArray e = expected[key].toArray();
            QCOMPARE(a.size(), e.size());
            for (qsizetype i = 0; i < e.size(); ++i)
                QCOMPARE(indented(a.at(i)), indented(e.at(i)));
        }
        QCOMPARE(indented(actual[key]), indented(expected[key]));
    }
}

} // namespace

class TestQivroConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storedConfiguration();
    void controllerOptions();
    void nothingUnderstood();
    void outputRunsInTheEngine_data();
    void outputRunsInTheEngine();

private:
    QProcess *run(const QStringList &arguments, const QByteArray &input = QByteArray());

    QTemporaryDir m_home;
    QString m_appData;
    QByteArray m_body;
    QJsonObject m_expected;
    QProcess m_process;
};

void TestQivroConfig::initTestCase()
{
    QVERIFY(m_home.isValid());
    // The tool and this test resolve the same data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    QCoreApplication::setOrganizationName("qivro");
    QCoreApplication::setApplicationName("qivro");
    m_appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(m_appData.startsWith(m_home.path()));

    // As the panel serves it: Base64, here wrapped at 76 columns.
    const QByteArray links = readFile(QStringLiteral(CONFIG_TEST_DATA "/subscription-links.txt"));
    QVERIFY(!links.isEmpty());
    const QByteArray encoded = links.toBase64();
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        m_body += encoded.mid(at, 76) + "\r\n";

    m_expected = normalised(
        readFile(QStringLiteral(CONFIG_TEST_DATA "/subscription-expected.json")), m_appData);
    QVERIFY(!m_expected.isEmpty());
}

QProcess *TestQivroConfig::run(const QStringList &arguments, const QByteArray &input)
{
    m_process.start(QStringLiteral(QIVRO_CONFIG_TOOL), arguments);
    if (!m_process.waitForStarted())
        return nullptr;
    m_process.write(input);
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(30000))
        return nullptr;
    return &m_process;
}

void TestQivroConfig::storedConfiguration()
{
    const QString bodyPath = m_home.filePath("subscription.txt");
    QFile body(bodyPath);
    QVERIFY(body.open(QIODevice::WriteOnly));
    body.write(m_body);
    body.close();

    QProcess *process = run({"--selector=", bodyPath});
    QVERIFY(process);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()),
        QString::fromUtf8(
            readFile(QStringLiteral(CONFIG_TEST_DATA "/subscription-expected.stderr"))));

    // Compact, one line, exactly as the client writes config.json.
    const QByteArray output = process->readAllStandardOutput();
    QVERIFY(output.endsWith('\n'));
    QCOMPARE(output.count('\n'), 1);
    QCOMPARE(QJsonDocument::fromJson(output).toJson(QJsonDocument::Compact) + '\n', output);
    compareConfig(normalised(output, m_appData), m_expected);
}

// What the tunnel controller adds when it connects: control API, selector "proxy", TUN.
void TestQivroConfig::controllerOptions()
{
    const QString secret(64, QLatin1Char('f'));
    QProcess *process = run({"--controller", "127.0.0.1:9090", "--secret", secret, "--selector",
                                "proxy", "--tun", "--pretty", "-"},
        m_body);
    QVERIFY(process);
    QCOMPARE(process->exitCode(), 0);
    const QByteArray output = process->readAllStandardOutput();
    QVERIFY(output.count('\n') > 100);

    QJsonObject expected = m_expected;
    QJsonArray outbounds = expected[QLatin1String("outbounds")].toArray();
    QJsonObject selector = outbounds.at(16).toObject();
    selector[QLatin1String("tag")] = "proxy";
    outbounds[16] = selector;
    expected[QLatin1String("outbounds")] = outbounds;
    QJsonObject route = expected[QLatin1String("route")].toObject();
    route[QLatin1String("final")] = "proxy";
    expected[QLatin1String("route")] = route;
    QJsonObject experimental = expected[QLatin1String("experimental")].toObject();
    experimental[QLatin1String("clash_api")]
        = QJsonObject {{"external_controller", "127.0.0.1:9090"}, {"secret", secret}};
    expected[QLatin1String("experimental")] = experimental;
    expected[QLatin1String("inbounds")] = QJsonDocument::fromJson(R"([{"type": "tun",
        "tag": "tun-in", "address": ["172.19.0.1/30"], "auto_route": true, "strict_route": true,
        "sniff": true, "stack": "mixed", "mtu": 1500, "interface_name": "tun0"}])")
                                              .array();
    compareConfig(normalised(output, m_appData), expected);
}

void TestQivroConfig::nothingUnderstood()
{
    const QByteArray links = "vmess://abc\ntrojan://pw@h.example:443#T\nnot a link\n";
    QProcess *process = run({}, links.toBase64());
    QVERIFY(process);
    QCOMPARE(process->exitCode(), 1);
    QVERIFY(process->readAllStandardOutput().isEmpty());
    const QList<QByteArray> errors = process->readAllStandardError().split('\n');
    QCOMPARE(errors.at(0), QByteArray("Cannot handle url: vmess://abc"));
    QCOMPARE(errors.at(1), QByteArray("Cannot handle url: trojan://pw@h.example:443#T"));
}

void TestQivroConfig::outputRunsInTheEngine_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("default") << QStringList();
    QTest::newRow("connecting") << QStringList {
        "--controller", "127.0.0.1:9090", "--secret", "s", "--selector", "proxy"};
    QTest::newRow("tun") << QStringList {"--selector", "proxy", "--tun"};
}

// What the tool prints is what the engine takes, as it is: no link the engine would refuse
// slips through.
void TestQivroConfig::outputRunsInTheEngine()
{
#ifndef QIVRO_ENGINE_TOOL
    QSKIP("built without the engine");
#else
    QFETCH(QStringList, options);
    QProcess *process = run(options + QStringList {"-"}, m_body);
    QVERIFY(process);
    QCOMPARE(process->exitCode(), 0);
    const QString path = m_home.filePath("printed.json");
    QFile printed(path);
    QVERIFY(printed.open(QIODevice::WriteOnly));
    printed.write(process->readAllStandardOutput());
    printed.close();

    QProcess engine;
    engine.start(QStringLiteral(QIVRO_ENGINE_TOOL), {"check", "-c", path});
    QVERIFY(engine.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(engine.readAllStandardError()), QString());
    QCOMPARE(engine.exitCode(), 0);
#endif
}

QTEST_GUILESS_MAIN(TestQivroConfig)
#include "tst_qivroconfig.moc"
