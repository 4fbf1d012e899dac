// Clusters, country labels, display order and the automatic pick: pure functions over the
// built-in country table.
#include "countrytable.h"
#include "nodeclusters.h"

#include <QFile>
#include <QSet>
#include <QTest>

namespace {

// "name" for a cluster without a VIP tag, "name*" for one with.
QVariantList clusters(const QStringList &names)
{
    QVariantList list;
    for (QString name : names) {
        const bool vip = name.endsWith(QLatin1Char('*'));
        if (vip)
            name.chop(1);
        list.append(QVariantMap {{"name", name}, {"count", 1}, {"hasVip", vip}});
    }
    return list;
}

QStringList describe(const QVariantList &list, bool withCount)
{
    QStringList out;
    for (const QVariant &entry : list) {
        const QVariantMap map = entry.toMap();
        QString text = map.value("name").toString();
        if (withCount)
            text += QLatin1Char(':') + map.value("count").toString();
        if (map.value("hasVip").toBool())
            text += QLatin1Char('*');
        out.append(text);
    }
    return out;
}

} // namespace

class NodeClustersTest : public QObject
{
    Q_OBJECT

private slots:
    void countryTable();
    void clusterFromTag_data();
    void clusterFromTag();
    void isoCodeForLabel_data();
    void isoCodeForLabel();
    void countryRegionRank_data();
    void countryRegionRank();
    void groupTagsByCluster_data();
    void groupTagsByCluster();
    void sortClustersForDisplay_data();
    void sortClustersForDisplay();
    void displayName_data();
    void displayName();
    void flagIconPath_data();
    void flagIconPath();
    void pickAutoTag_data();
    void pickAutoTag();
};

// Every row reachable through each lookup, with a bundled flag; the region lists as published.
void NodeClustersTest::countryTable()
{
    const auto &rows = ::countryTable();
    QCOMPARE(rows.size(), std::size_t(56));
    QSet<QString> codes;
    QList<int> perRegion(4, 0);
    for (const CountryRow &row : rows) {
        const QString code = QString::fromLatin1(row.code);
        const QString chinese = QString::fromUtf16(row.chinese);
        QVERIFY2(!codes.contains(code), qPrintable(code));
        codes.insert(code);
        QCOMPARE(isoCodeForChineseLabel(chinese), code);
        QCOMPARE(::isoCodeForLabel(chinese), code.toLower());
        QCOMPARE(englishForIsoCode(code.toLower()), QString::fromUtf8(row.english));
        QCOMPARE(chineseForIsoCode(QLatin1Char(' ') + code), chinese);
        if (row.alsoKnownAs[0] != 0)
            QCOMPARE(isoCodeForChineseLabel(QString::fromUtf16(row.alsoKnownAs)), code);
        QVERIFY2(
            QFile::exists(QStringLiteral(":/flags/%1.png").arg(code.toLower())), qPrintable(code));
        ++perRegion[int(row.region)];
    }
    QVERIFY(QFile::exists(QStringLiteral(":/flags/uk.png")));
    QCOMPARE(perRegion, QList<int>({3, 23, 23, 7}));
    QCOMPARE(englishForIsoCode(QStringLiteral("UK")), QString());
}

void NodeClustersTest::clusterFromTag_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("cluster");
    QTest::newRow("spaces around") << QString::fromUtf8(" 香港 - 01") << QString::fromUtf8("香港");
    QTest::newRow("no dash") << "Japan 01"
                             << "Japan 01";
    QTest::newRow("leading dash") << "-01"
                                  << "";
    QTest::newRow("first dash only")
        << QString::fromUtf8("美国-洛杉矶-VIP") << QString::fromUtf8("美国");
    QTest::newRow("empty") << ""
                           << "";
}

void NodeClustersTest::clusterFromTag()
{
    QFETCH(QString, tag);
    QFETCH(QString, cluster);
    QCOMPARE(::clusterFromTag(tag), cluster);
}

void NodeClustersTest::isoCodeForLabel_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("code");
    QTest::newRow("upper") << " US "
                           << "us";
    QTest::newRow("lower") << "us"
                           << "us";
    QTest::newRow("mixed") << "\tUs "
                           << "us";
    QTest::newRow("unknown two letters") << "UK"
                                         << "uk";
    QTest::newRow("digit") << "U1"
                           << "";
    QTest::newRow("three letters") << "USA"
                                   << "";
    QTest::newRow("non-ASCII pair") << QString::fromUtf8("日本") << "jp";
    QTest::newRow("extra label") << QString::fromUtf8("沙特") << "sa";
    QTest::newRow("full name") << QString::fromUtf8("沙特阿拉伯") << "sa";
    QTest::newRow("second extra") << QString::fromUtf8(" 印尼") << "id";
    QTest::newRow("English name") << "Japan"
                                  << "";
    QTest::newRow("unknown Chinese") << QString::fromUtf8("火星") << "";
    QTest::newRow("empty") << ""
                           << "";
}

void NodeClustersTest::isoCodeForLabel()
{
    QFETCH(QString, label);
    QFETCH(QString, code);
    QCOMPARE(::isoCodeForLabel(label), code);
}

void NodeClustersTest::countryRegionRank_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("rank");
    QTest::newRow("North America") << QString::fromUtf8("美国") << 0;
    QTest::newRow("North America code") << "mx" << 0;
    QTest::newRow("Asia") << QString::fromUtf8("香港") << 1;
    QTest::newRow("Asia, Middle East") << "TR" << 1;
    QTest::newRow("Asia, extra label") << QString::fromUtf8("沙特") << 1;
    QTest::newRow("Europe") << QString::fromUtf8("德国") << 2;
    QTest::newRow("Europe code") << "ru" << 2;
    QTest::newRow("no region") << QString::fromUtf8("巴西") << 3;
    QTest::newRow("Oceania") << "AU" << 3;
    QTest::newRow("unknown code") << "UK" << 3;
    QTest::newRow("English name") << "Germany" << 3;
    QTest::newRow("empty") << "" << 3;
}

void NodeClustersTest::countryRegionRank()
{
    QFETCH(QString, label);
    QFETCH(int, rank);
    QCOMPARE(::countryRegionRank(label), rank);
}

void NodeClustersTest::groupTagsByCluster_data()
{
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QStringList>("groups"); // name:count, "*" with a VIP tag
    QTest::newRow("first-seen order")
        << QStringList {QString::fromUtf8("香港-1"), QString::fromUtf8("美国-1"),
               QString::fromUtf8("香港-VIP")}
        << QStringList {QString::fromUtf8("香港:2*"), QString::fromUtf8("美国:1")};
    QTest::newRow("vip in any case, empty cluster")
        << QStringList {"-x", "jp-1 vip", "jp-2", "-y"} << QStringList {":2", "jp:2*"};
    QTest::newRow("vip only on a later tag")
        << QStringList {"de-1", "de-2", "de-Vip3"} << QStringList {"de:3*"};
    QTest::newRow("none") << QStringList {} << QStringList {};
}

void NodeClustersTest::groupTagsByCluster()
{
    QFETCH(QStringList, tags);
    QFETCH(QStringList, groups);
    QCOMPARE(describe(::groupTagsByCluster(tags), true), groups);
}

void NodeClustersTest::sortClustersForDisplay_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("sorted");
    const auto u = [](const char *text) { return QString::fromUtf8(text); };
    QTest::newRow("by region") << QStringList {u("日本"), u("美国"), u("德国"), u("巴西")}
                               << QStringList {u("美国"), u("日本"), u("德国"), u("巴西")};
    QTest::newRow("vip first") << QStringList {u("日本"), u("美国"), u("德国"), u("巴西*")}
                               << QStringList {u("巴西*"), u("美国"), u("日本"), u("德国")};
    QTest::newRow("region among vip") << QStringList {u("德国*"), u("日本"), u("美国*")}
                                      << QStringList {u("美国*"), u("德国*"), u("日本")};
    QTest::newRow("stable within a rank") << QStringList {u("新加坡"), "Home", u("香港"), "jp",
        u("火星")} << QStringList {u("新加坡"), u("香港"), "jp", "Home", u("火星")};
}

void NodeClustersTest::sortClustersForDisplay()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, sorted);
    QCOMPARE(describe(::sortClustersForDisplay(clusters(input)), false), sorted);
}

void NodeClustersTest::displayName_data()
{
    QTest::addColumn<QString>("cluster");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("name");
    const QString hk = QString::fromUtf8("香港");
    QTest::newRow("Chinese label, en") << hk << "en"
                                       << "Hong Kong";
    QTest::newRow("Chinese label, zh") << hk << "zh" << hk;
    QTest::newRow("Chinese label, zh-Hant") << hk << "zh-Hant" << hk;
    QTest::newRow("extra label, en") << QString::fromUtf8("沙特") << "en"
                                     << "Saudi Arabia";
    QTest::newRow("extra label, zh")
        << QString::fromUtf8("沙特") << "zh" << QString::fromUtf8("沙特阿拉伯");
    QTest::newRow("code, en") << "jp"
                              << "en"
                              << "Japan";
    QTest::newRow("code, zh") << "jp"
                              << "zh" << QString::fromUtf8("日本");
    QTest::newRow("code, zh-Hant") << "de"
                                   << "zh-Hant" << QString::fromUtf8("德国");
    QTest::newRow("code, other language") << " us"
                                          << "fr"
                                          << "United States";
    QTest::newRow("language is case-sensitive") << "jp"
                                                << "ZH"
                                                << "Japan";
    QTest::newRow("unknown code") << "UK"
                                  << "en"
                                  << "UK";
    QTest::newRow("unknown label, en")
        << QString::fromUtf8("火星") << "en" << QString::fromUtf8("火星");
    QTest::newRow("unknown label, zh")
        << QString::fromUtf8("火星") << "zh" << QString::fromUtf8("火星");
    QTest::newRow("English name, zh") << "Japan"
                                      << "zh"
                                      << "Japan";
}

void NodeClustersTest::displayName()
{
    QFETCH(QString, cluster);
    QFETCH(QString, language);
    QFETCH(QString, name);
    QCOMPARE(displayNameForCluster(cluster, language), name);
}

void NodeClustersTest::flagIconPath_data()
{
    QTest::addColumn<QString>("cluster");
    QTest::addColumn<QString>("path");
    QTest::newRow("Chinese label") << QString::fromUtf8(" 香港 ") << "qrc:/flags/hk.png";
    QTest::newRow("upper-case code") << "JP"
                                     << "qrc:/flags/jp.png";
    QTest::newRow("code outside the table") << "UK"
                                            << "qrc:/flags/uk.png";
    QTest::newRow("English name") << "Japan"
                                  << "";
    QTest::newRow("unknown") << QString::fromUtf8("火星") << "";
}

void NodeClustersTest::flagIconPath()
{
    QFETCH(QString, cluster);
    QFETCH(QString, path);
    QCOMPARE(flagIconPathForCluster(cluster), path);
}

void NodeClustersTest::pickAutoTag_data()
{
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QStringList>("candidates"); // every one of them must come up, nothing else
    QTest::newRow("one vip, lower case")
        << QStringList {"jp-1", "us-vip", "hk-2"} << QStringList {"us-vip"};
    QTest::newRow("two vip") << QStringList {"jp-VIP", "us-1", "hk-Vip"}
                             << QStringList {"jp-VIP", "hk-Vip"};
    QTest::newRow("no vip") << QStringList {"jp-1", "us-1", "hk-1"}
                            << QStringList {"jp-1", "us-1", "hk-1"};
    QTest::newRow("empty") << QStringList {} << QStringList {""};
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
