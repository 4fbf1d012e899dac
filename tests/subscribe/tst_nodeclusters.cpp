// Clusters, country labels, display order and the automatic pick: pure functions over the
// built-in country table.
#include "countrytable.h"
#include "nodeclusters.h"

#include <QFile>
#include <QSet>
#include <QTest>

namespace {

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

// "name:count", with "*" when the cluster has a VIP tag, joined by "|".
QString describe(const QVariantList &clusters)
{
    QStringList out;
    for (const QVariant &entry : clusters) {
        const QVariantMap map = entry.toMap();
        out.append(map.value("name").toString() + ':' + map.value("count").toString()
            + (map.value("hasVip").toBool() ? "*" : ""));
    }
    return out.join('|');
}

} // namespace

class NodeClustersTest : public QObject
{
    Q_OBJECT

private slots:
    void countryTable();
    void labels_data();
    void labels();
    void clusters_data();
    void clusters();
    void pickAutoTag_data();
    void pickAutoTag();
};

// Every row reachable through each lookup, with a bundled flag; the published region sizes.
void NodeClustersTest::countryTable()
{
    QCOMPARE(::countryTable().size(), std::size_t(56));
    QSet<QString> codes;
    QList<int> perRegion(4, 0);
    for (const CountryRow &row : ::countryTable()) {
        const QString code = QString::fromLatin1(row.code);
        const QString chinese = QString::fromUtf16(row.chinese);
        QVERIFY2(!codes.contains(code), row.code);
        codes.insert(code);
        QCOMPARE(isoCodeForChineseLabel(chinese), code);
        QCOMPARE(englishForIsoCode(code.toLower()), QString::fromUtf8(row.english));
        QCOMPARE(chineseForIsoCode(' ' + code), chinese);
        if (row.alsoKnownAs[0] != 0)
            QCOMPARE(isoCodeForChineseLabel(QString::fromUtf16(row.alsoKnownAs)), code);
        QVERIFY2(QFile::exists(":/flags/" + code.toLower() + ".png"), row.code);
        ++perRegion[int(row.region)];
    }
    QVERIFY(QFile::exists(":/flags/uk.png"));
    QCOMPARE(perRegion, QList<int>({3, 23, 23, 7}));
}

void NodeClustersTest::labels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("rank");
    QTest::addColumn<QStringList>("names"); // display name in "en", "zh", "zh-Hant", "fr"
    const auto row = [](const char *tag, const QString &label, const char *code, int rank,
                         const QStringList &names) {
        QTest::newRow(tag) << label << QString::fromLatin1(code) << rank << names;
    };
    const QStringList hk {"Hong Kong", u("香港"), u("香港"), "Hong Kong"};
    row("Chinese label", u("香港"), "hk", 1, hk);
    row("Traditional label", u("紐西蘭"), "nz", 3,
        {"New Zealand", u("新西兰"), u("紐西蘭"), "New Zealand"});
    row("full name of it", u("沙特阿拉伯"), "sa", 1,
        {"Saudi Arabia", u("沙特阿拉伯"), u("沙烏地阿拉伯"), "Saudi Arabia"});
    row("lower-case code", "de", "de", 2, {"Germany", u("德国"), u("德國"), "Germany"});
    row("mixed-case code", "\tUs ", "us", 0,
        {"United States", u("美国"), u("美國"), "United States"});
    row("code outside the table", "UK", "uk", 3, {"UK", "UK", "UK", "UK"});
    row("digit", "U1", "", 3, {"U1", "U1", "U1", "U1"});
    row("unknown Chinese", u("火星"), "", 3, {u("火星"), u("火星"), u("火星"), u("火星")});
}

void NodeClustersTest::labels()
{
    QFETCH(QString, label);
    QFETCH(QString, code);
    QFETCH(int, rank);
    QFETCH(QStringList, names);
    QCOMPARE(isoCodeForLabel(label), code);
    QCOMPARE(countryRegionRank(label), rank);
    QCOMPARE(
        flagIconPathForCluster(label), code.isEmpty() ? QString() : "qrc:/flags/" + code + ".png");
    const QStringList languages {"en", "zh", "zh-Hant", "fr"};
    for (int i = 0; i < languages.size(); ++i)
        QCOMPARE(displayNameForCluster(label, languages.at(i)), names.at(i));
    // Language codes are case-sensitive.
    QCOMPARE(displayNameForCluster(label, "ZH"), names.at(3));
}

void NodeClustersTest::clusters_data()
{
    QTest::addColumn<QString>("tags"); // joined by "|"
    QTest::addColumn<QString>("grouped"); // groupTagsByCluster
    QTest::addColumn<QString>("sorted"); // then sortClustersForDisplay
    const auto row
        = [](const char *tag, const char *tags, const char *grouped, const char *sorted) {
              QTest::newRow(tag) << u(tags) << u(grouped) << u(sorted);
          };
    row("first-seen order", "香港-1|美国-1|香港-VIP", "香港:2*|美国:1", "香港:2*|美国:1");
    row("regions", "日本-1|美国-1|德国-1|巴西-1", "日本:1|美国:1|德国:1|巴西:1",
        "美国:1|日本:1|德国:1|巴西:1");
    row("VIP before region", "日本-1|美国-1|德国-1|巴西-1 vip", "日本:1|美国:1|德国:1|巴西:1*",
        "巴西:1*|美国:1|日本:1|德国:1");
    row("region among VIP", "德国-Vip|日本-1|美国-VIP", "德国:1*|日本:1|美国:1*",
        "美国:1*|德国:1*|日本:1");
    row("stable within a rank", "新加坡-1|Home|香港-1|jp-2|火星-1",
        "新加坡:1|Home:1|香港:1|jp:1|火星:1", "新加坡:1|香港:1|jp:1|Home:1|火星:1");
    row("trimmed, first dash, empty cluster", " 香港 - 01|美国-洛杉矶-2|-x|Japan 01|-y",
        "香港:1|美国:1|:2|Japan 01:1", "美国:1|香港:1|:2|Japan 01:1");
}

void NodeClustersTest::clusters()
{
    QFETCH(QString, tags);
    QFETCH(QString, grouped);
    QFETCH(QString, sorted);
    const QVariantList groups = groupTagsByCluster(tags.split('|'));
    QCOMPARE(describe(groups), grouped);
    QCOMPARE(describe(sortClustersForDisplay(groups)), sorted);
}

void NodeClustersTest::pickAutoTag_data()
{
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QStringList>("candidates"); // every one must come up, nothing else
    QTest::newRow("one VIP, lower case")
        << QStringList {"jp-1", "us-vip", "hk-2"} << QStringList {"us-vip"};
    QTest::newRow("two VIP") << QStringList {"jp-VIP", "us-1", "hk-Vip"}
                             << QStringList {"jp-VIP", "hk-Vip"};
    QTest::newRow("no VIP") << QStringList {"jp-1", "us-1"} << QStringList {"jp-1", "us-1"};
    QTest::newRow("none") << QStringList {} << QStringList {""};
}

void NodeClustersTest::pickAutoTag()
{
    QFETCH(QStringList, tags);
    QFETCH(QStringList, candidates);
    QSet<QString> seen;
    for (int draw = 0; draw < 300; ++draw) {
        const QString tag = ::pickAutoTag(tags);
        QVERIFY2(candidates.contains(tag), qPrintable(tag));
        seen.insert(tag);
    }
    QCOMPARE(seen.size(), candidates.size());
}

QTEST_GUILESS_MAIN(NodeClustersTest)
#include "tst_nodeclusters.moc"
