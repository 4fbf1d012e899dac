#include "config/base64.h"
#include "config/sharelinkimport.h"
#include "config/shareparser.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

// As the subscription store and the tunnel controller feed one line of a subscription.
bool parseLine(const QString &line, QJsonArray &outbounds, QList<QString> &tags)
{
    const QString trimmed = line.trimmed();
    QUrl url(trimmed, QUrl::TolerantMode);
    return parseHandler(url, outbounds, tags, trimmed.section(QStringLiteral("://"), 0, 0));
}

} // namespace

class TestShareParser : public QObject
{
    Q_OBJECT

private slots:
    void links_data();
    void links();
    void generatedTags();
    void base64Decode_data();
    void base64Decode();
    void base64RoundTrip();
    void legacyShadowsocks_data();
    void legacyShadowsocks();
    void engineWouldRefuse_data();
    void engineWouldRefuse();
};

// Each case: "link", and the "outbound" it yields, absent when the link is refused. An expected tag
// ending in "*" stands for a generated one: that prefix and a random 32-bit number.
void TestShareParser::links_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QJsonObject>("expected");

    QFile file(QStringLiteral(CONFIG_TEST_DATA "/sharelinks.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray cases = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(!cases.isEmpty());
    for (const QJsonValue &value : cases) {
        const QJsonObject entry = value.toObject();
        QTest::newRow(qPrintable(entry[QLatin1String("name")].toString()))
            << entry[QLatin1String("link")].toString()
            << entry[QLatin1String("outbound")].toObject();
    }
}

void TestShareParser::links()
{
    QFETCH(QString, link);
    QFETCH(QJsonObject, expected);

    // Earlier lines of the same subscription must survive a refusal and stay parallel.
    const QJsonObject earlier {{QStringLiteral("tag"), QStringLiteral("earlier")}};
    QJsonArray outbounds {earlier};
    QList<QString> tags {QStringLiteral("earlier")};

    const bool ok = parseLine(link, outbounds, tags);
    QCOMPARE(ok, !expected.isEmpty());
    if (!ok) {
        QCOMPARE(outbounds, QJsonArray {earlier});
        QCOMPARE(tags, QList<QString> {QStringLiteral("earlier")});
        return;
    }
    QCOMPARE(outbounds.size(), 2);
    QCOMPARE(tags.size(), 2);
    QJsonObject actual = outbounds.at(1).toObject();
    QCOMPARE(tags.at(1), actual.value(QLatin1String("tag")).toString());

    const QString expectedTag = expected.value(QLatin1String("tag")).toString();
    if (expectedTag.endsWith(QLatin1Char('*'))) {
        const QString prefix = expectedTag.chopped(1);
        const QRegularExpression generated(
            QStringLiteral("^%1(0|[1-9][0-9]{0,9})$").arg(QRegularExpression::escape(prefix)));
        const QRegularExpressionMatch match = generated.match(tags.at(1));
        QVERIFY2(match.hasMatch(), qPrintable(tags.at(1)));
        QVERIFY(match.captured(1).toULongLong() <= 0xFFFFFFFFull);
        actual.insert(QStringLiteral("tag"), expectedTag);
    }
    QCOMPARE(actual, expected);
}

// Repeated tags pass through here (assembly resolves them); generated ones differ, since two
// drawing the same 32-bit number would be a one in four billion event. Refused lines and the
// parallel lists are the link table's.
void TestShareParser::generatedTags()
{
    QJsonArray outbounds;
    QList<QString> tags;
    for (const char *line : {"vless://u@a.example:443#Same", "hy2://pw@c.example:443#Same",
             "vless://u@d.example:443", "vless://u@e.example:443"})
        QVERIFY(parseLine(QString::fromLatin1(line), outbounds, tags));
    QCOMPARE(tags.mid(0, 2), (QList<QString> {QStringLiteral("Same"), QStringLiteral("Same")}));
    QVERIFY(tags.at(2) != tags.at(3));
}

void TestShareParser::base64Decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("CRLF lines") << QByteArray("YWJj\r\nZGVm\r\n") << QByteArray("abcdef");
    QTest::newRow("= stops") << QByteArray("YWJj=ZGVm") << QByteArray("abc");
    QTest::newRow("single char is dropped") << QByteArray("Y") << QByteArray();
    QTest::newRow("url-safe - and _ are dropped") << QByteArray("-_YW-Jj_") << QByteArray("abc");
    QTest::newRow("high bytes skipped") << QByteArray("\xffYW\x80Jj\x00", 7) << QByteArray("abc");
}

void TestShareParser::base64Decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(base64_decode(input), expected);
}

// Long bodies: the accumulator must not lose bits however much it has seen.
void TestShareParser::base64RoundTrip()
{
    QRandomGenerator random(20240531);
    for (const int size : {1, 2, 3, 4, 57, 1000, 65537}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = static_cast<char>(random.bounded(256));
        QByteArray wrapped = bytes.toBase64();
        for (qsizetype at = 76; at < wrapped.size(); at += 78)
            wrapped.insert(at, "\r\n");
        QCOMPARE(base64_decode(wrapped), bytes);
        QCOMPARE(base64_decode(bytes.toBase64(QByteArray::OmitTrailingEquals)), bytes);
    }
}

// Credentials and server in one Base64 authority, as older clients share them. Encoded here so
// that upper-case letters, "/", "+" and padding all occur.
void TestShareParser::legacyShadowsocks_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QByteArray::Base64Options>("encoding");
    QTest::addColumn<QString>("suffix");

    const QByteArray::Base64Options standard = QByteArray::Base64Encoding;
    const QByteArray::Base64Options urlSafe
        = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
    QTest::newRow("padded") << "aes-256-gcm:Pa55/word+?@Node.Example.com:8388" << standard
                            << "#Tokyo";
    QTest::newRow("url-safe unpadded")
        << "chacha20-ietf-poly1305:s3cr3t>>?~@10.0.0.1:443" << urlSafe << "";
}

void TestShareParser::legacyShadowsocks()
{
    QFETCH(QString, plain);
    QFETCH(QByteArray::Base64Options, encoding);
    QFETCH(QString, suffix);

    const QString line
        = QStringLiteral("ss://") + QString::fromLatin1(plain.toUtf8().toBase64(encoding)) + suffix;
    QUrl url(normalizeShareLink(line), QUrl::TolerantMode);
    QJsonArray outbounds;
    QList<QString> tags;
    QVERIFY2(parseHandler(url, outbounds, tags, QStringLiteral("ss")), qPrintable(line));

    const qsizetype at = plain.lastIndexOf(QLatin1Char('@'));
    const QString credentials = plain.left(at);
    const QString server = plain.mid(at + 1);
    const QJsonObject outbound = outbounds.first().toObject();
    QCOMPARE(outbound.value("method").toString(), credentials.section(QLatin1Char(':'), 0, 0));
    QCOMPARE(outbound.value("password").toString(), credentials.section(QLatin1Char(':'), 1));
    QCOMPARE(outbound.value("server").toString(), server.section(QLatin1Char(':'), 0, 0).toLower());
    QCOMPARE(outbound.value("server_port").toInt(), server.section(QLatin1Char(':'), 1).toInt());

    // Lines in the other forms, and lines that only look Base64, pass through untouched.
    for (const QString &other :
        {QStringLiteral("ss://YWVzLTEyOC1nY206cHc@host:1#t"), QStringLiteral("ss://bm90IGEgbGluaw"),
            QStringLiteral("vless://uuid@host:1"), QStringLiteral("ss://%%%")})
        QCOMPARE(normalizeShareLink(other), other);
}

// Links the parser takes but whose outbound the engine refuses at start are dropped alone, named
// with their credentials masked; the edges the engine still accepts stay.
void TestShareParser::engineWouldRefuse_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("issue"); // empty: the node is kept

    QTest::newRow("UUID without dashes")
        << "vless://0c5e7a1e8f4b4d7e9a3f2b1c6d8e4f01@h.example:443#A"
        << "";
    QTest::newRow("UUID one digit short")
        << "vless://0c5e7a1e-8f4b-4d7e-9a3f-2b1c6d8e4f0@h.example:443#A"
        << "vless://***@h.example:443#A (invalid UUID)";
    QTest::newRow("method in upper case")
        << "ss://QUVTLTI1Ni1HQ006cGFzcw@h.example:8388#A"
        << "ss://***@h.example:8388#A (unknown method \"AES-256-GCM\")";
    QTest::newRow("obfs password masked")
        << "hy2://pw@h.example:443?obfs=xor&obfs-password=x&sni=a#A"
        << "hy2://***@h.example:443?obfs=xor&obfs-password=***&sni=a#A (unknown obfs type \"xor\")";
}

void TestShareParser::engineWouldRefuse()
{
    QFETCH(QString, link);
    QFETCH(QString, issue);

    // Between two good nodes, which must survive either way.
    const QString good = QStringLiteral("ss://YWVzLTI1Ni1nY206cGFzcw@g.example:1#G%1\n");
    QJsonArray outbounds;
    QList<QString> tags;
    QStringList issues;
    importShareLinks(good.arg(1) + link + QLatin1Char('\n') + good.arg(2), outbounds, tags,
        [&issues](const ShareLinkIssue &found) {
            issues.append(found.link + QStringLiteral(" (") + found.reason + QLatin1Char(')'));
        });
    QCOMPARE(issues, issue.isEmpty() ? QStringList() : QStringList {issue});
    QCOMPARE(tags.size(), issue.isEmpty() ? 3 : 2);
    QCOMPARE(outbounds.size(), tags.size());
    QCOMPARE(tags.first() + tags.last(), QStringLiteral("G1G2"));
}

QTEST_GUILESS_MAIN(TestShareParser)
#include "tst_shareparser.moc"
