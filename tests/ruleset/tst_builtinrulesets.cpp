// The committed rule sets against the data they were made from, and the generator's readers.
#include "ruleset/matcher.h"
#include "rulesettestutil.h"
#include "sources.h"

#include <QFile>
#include <QObject>
#include <QTest>

#include <fstream>
#include <map>
#include <set>

using namespace testutil;

namespace {

const QString kTop = QStringLiteral(QIVRO_SOURCE_DIR);
const char *const kCountries[] = {"cn", "ir", "ru"};

bool loadFile(const QString &path, RuleSet &set, QByteArray *raw = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (raw)
        *raw = bytes;
    std::string error;
    const auto data = bytesOf(bytes);
    if (!readRuleSet(data.data(), data.size(), set, &error)) {
        qWarning("%s: %s", qPrintable(path), error.c_str());
        return false;
    }
    return true;
}

// A sample line's address: decimal IPv4 or IPv6 text, as in tor's tables.
IpAddress sampleAddress(const std::string &text)
{
    if (text.find(':') != std::string::npos)
        return ip(text.c_str());
    return IpAddress::v4(std::uint32_t(std::stoul(text)));
}

} // namespace

class BuiltinRuleSetsTest : public QObject
{
    Q_OBJECT

private slots:
    void filesAreCanonical_data();
    void filesAreCanonical();
    void addressSetsMatchTheData();
    void siteSetMatchesTheData();
    void punycode_data();
    void punycode();
    void inputReaders();
};

void BuiltinRuleSetsTest::filesAreCanonical_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"geoip-cn", "geoip-ir", "geoip-ru", "geosite-cn"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void BuiltinRuleSetsTest::filesAreCanonical()
{
    QFETCH(QString, name);

    RuleSet set;
    QByteArray raw;
    QVERIFY(loadFile(kTop + "/resources/rules/" + name + ".srs", set, &raw));
    QCOMPARE(set.version, std::uint8_t(1));
    QCOMPARE(set.rules.size(), std::size_t(1));
    const Rule &rule = set.rules.front();
    QVERIFY(!rule.logical && !rule.invert);
    QVERIFY((name.startsWith("geoip-") ? rule.ipCidr.size() : rule.domainSuffix.size()) > 100);
    // Writing what was read gives the committed body back byte for byte.
    std::vector<std::uint8_t> body;
    QVERIFY(encodeRuleSetBody(set, body));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(body.data()), qsizetype(body.size())),
        inflateFile(bytesOf(raw)));
}

void BuiltinRuleSetsTest::addressSetsMatchTheData()
{
    std::map<std::string, RuleSetMatcher> matchers;
    for (const char *country : kCountries) {
        RuleSet set;
        QVERIFY(loadFile(kTop + "/resources/rules/geoip-" + country + ".srs", set));
        QVERIFY(matchers[country].build(set));
    }

    // Each sampled line is a range of one country; the tables' ranges do not overlap, so the
    // range belongs to that country's set, whole, and to no other.
    std::ifstream in((kTop + "/tools/srsgen/data/geoip-sample.txt").toStdString());
    QVERIFY(in.good());
    std::map<std::string, int> checked;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t a = line.find(','), b = line.find(',', a + 1);
        QVERIFY2(b != std::string::npos, line.c_str());
        const IpAddress low = sampleAddress(line.substr(0, a));
        const IpAddress high = sampleAddress(line.substr(a + 1, b - a - 1));
        std::string country = line.substr(b + 1);
        for (auto &c : country)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const auto &[code, matcher] : matchers) {
            const bool expected = code == country;
            QVERIFY2(matcher.matchIp(low) == expected, (line + " in " + code).c_str());
            QVERIFY2(matcher.matchIp(high) == expected, (line + " in " + code).c_str());
        }
        ++checked[matchers.count(country) ? country : "other"];
    }
    for (const char *country : kCountries)
        QVERIFY2(checked[country] >= 5, country);
    QVERIFY(checked["other"] >= 100);
}

void BuiltinRuleSetsTest::siteSetMatchesTheData()
{
    RuleSet set;
    QVERIFY(loadFile(kTop + "/resources/rules/geosite-cn.srs", set));
    RuleSetMatcher matcher;
    QVERIFY(matcher.build(set));
    const std::set<std::string> listed(
        set.rules.front().domainSuffix.begin(), set.rules.front().domainSuffix.end());

    std::vector<std::string> curated;
    std::string error;
    std::ifstream domains((kTop + "/tools/srsgen/data/cn-domains.txt").toStdString());
    QVERIFY2(srsgen::readDomainList(domains, curated, error), error.c_str());
    QVERIFY(curated.size() >= 200);
    std::vector<std::string> names = curated;

    for (const char *tld : {"cn", "中国", "中國", "公司", "网络"})
        names.push_back(srsgen::toAsciiDomain(tld).value_or("?"));
    // The public suffix list is there when the publicsuffix package is installed.
    std::ifstream psl("/usr/share/publicsuffix/public_suffix_list.dat");
    if (psl) {
        std::vector<std::string> suffixes;
        QVERIFY(srsgen::readPublicSuffixes(
            psl, {"cn", "xn--fiqs8s", "xn--fiqz9s", "xn--55qx5d", "xn--io0a7i"}, suffixes, error));
        QVERIFY(suffixes.size() >= 5);
        names.insert(names.end(), suffixes.begin(), suffixes.end());
    }

    for (const auto &name : names) {
        QVERIFY2(listed.count(name), name.c_str());
        QVERIFY2(matcher.matchDomain(name), name.c_str());
        QVERIFY2(matcher.matchDomain("www." + name), name.c_str());
        // A look-alike that only ends with the same letters is covered only through a listed
        // parent, and a name that merely contains a listed one is not covered.
        const std::string lookAlike = "x" + name;
        bool parentListed = false;
        for (std::size_t at = 0; at != std::string::npos && !parentListed;
             at = lookAlike.find('.', at + 1))
            parentListed = listed.count(lookAlike.substr(at == 0 ? 0 : at + 1)) > 0;
        QVERIFY2(matcher.matchDomain(lookAlike) == parentListed, lookAlike.c_str());
        QVERIFY2(!matcher.matchDomain(name + ".example"), name.c_str());
    }
}

void BuiltinRuleSetsTest::punycode_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("ascii"); // empty: refused

    // Samples from RFC 3492, section 7.1.
    QTest::newRow("RFC 3492 Chinese (simplified)")
        << QByteArray("他们为什么不说中文") << "xn--ihqwcrb4cv8a8dqg056pqjye";
    QTest::newRow("labels converted one by one")
        << QByteArray("WWW.他们为什么不说中文.CN") << "www.xn--ihqwcrb4cv8a8dqg056pqjye.cn";
    QTest::newRow("empty label") << QByteArray("a..cn") << "";
    // Broken UTF-8 is refused rather than encoded.
    QTest::newRow("cut sequence") << QByteArray("a.\xe4\xb8") << "";
    QTest::newRow("overlong form") << QByteArray("\xc0\xaf.cn") << "";
}

void BuiltinRuleSetsTest::punycode()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, ascii);

    const auto result = srsgen::toAsciiDomain(text.toStdString());
    QCOMPARE(result ? QString::fromStdString(*result) : QString(), ascii);
}

void BuiltinRuleSetsTest::inputReaders()
{
    std::map<std::string, std::vector<IpRange>> byCountry;
    std::string error;
    std::istringstream tables("# comment\n\n16777472,16778239,CN\r\n"
                              "2001:2::,2001:2:0:ffff:ffff:ffff:ffff:ffff,JP\n");
    QVERIFY2(srsgen::readTorGeoip(tables, byCountry, error), error.c_str());
    QCOMPARE(byCountry["CN"], std::vector<IpRange> {span("1.0.1.0", "1.0.3.255")});
    QCOMPARE(byCountry["JP"],
        std::vector<IpRange> {span("2001:2::", "2001:2:0:ffff:ffff:ffff:ffff:ffff")});
    for (const char *bad : {"4294967296,4294967296,US\n", "2,1,US\n", "1,::2,US\n"}) {
        std::istringstream in(std::string("#\n") + bad);
        QVERIFY2(!srsgen::readTorGeoip(in, byCountry, error), bad);
        QVERIFY(QString::fromStdString(error).startsWith("line 2:"));
    }

    std::vector<std::string> suffixes;
    std::istringstream psl("// cn\ncn\ncom.cn  // comment\n*.wild.cn\n!except.wild.cn\n"
                           "公司.cn\n中国\nexample.com\ncn.com\n");
    QVERIFY(srsgen::readPublicSuffixes(psl, {"cn", "xn--fiqs8s"}, suffixes, error));
    QCOMPARE(suffixes,
        (std::vector<std::string> {
            "cn", "com.cn", "except.wild.cn", "wild.cn", "xn--55qx5d.cn", "xn--fiqs8s"}));

    std::vector<std::string> names;
    std::istringstream list("# header\nBaidu.com  # comment\n\nqq.com\n");
    QVERIFY(srsgen::readDomainList(list, names, error));
    QCOMPARE(names, (std::vector<std::string> {"baidu.com", "qq.com"}));
    std::istringstream badList("ok.com\nbad_name.com\n");
    QVERIFY(!srsgen::readDomainList(badList, names, error));
    QVERIFY(QString::fromStdString(error).startsWith("line 2:"));
}

QTEST_GUILESS_MAIN(BuiltinRuleSetsTest)
#include "tst_builtinrulesets.moc"
