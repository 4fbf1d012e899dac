// Golden test of qivro-config over a realistic 25-link subscription (data/subscription-links.txt,
// every link kind, odd lines, five links the engine would refuse). The expected configuration and
// standard error were written by hand from the share-link, routing and assembly rules before the
// tool first ran. @APPDATA@ stands for the data folder; rule sets are compared in name order.
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

// Section by section, as indented text, so a failure names the place.
void compareConfig(const QJsonObject &actual, const QJsonObject &expected)
{
    QCOMPARE(actual.keys(), expected.keys());
    for (const QString &key : expected.keys()) {
        const auto indented = [](const QJsonValue &value) {
            return value.isArray() ? QJsonDocument(value.toArray()).toJson()
                                   : QJsonDocument(value.toObject()).toJson();
        };
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

    const QJsonObject config = normalised(output, m_appData);
    QCOMPARE(config["outbounds"][16]["tag"].toString(), QStringLiteral("proxy"));
    QCOMPARE(config["route"]["final"].toString(), QStringLiteral("proxy"));
    QCOMPARE(config["experimental"]["clash_api"].toObject(),
        QJsonObject({{"external_controller", "127.0.0.1:9090"}, {"secret", secret}}));
    QCOMPARE(config["inbounds"][0]["type"].toString(), QStringLiteral("tun"));
    // Nothing else changes.
    QCOMPARE(config["dns"].toObject(), m_expected["dns"].toObject());
    QCOMPARE(config["outbounds"].toArray().size(), m_expected["outbounds"].toArray().size());
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
    QTest::newRow("connecting, TUN") << QStringList {
        "--controller", "127.0.0.1:9090", "--secret", "s", "--selector", "proxy", "--tun"};
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
