#include "ruleset/matcher.h"
#include "rulesettestutil.h"

#include <QObject>
#include <QTest>

using namespace testutil;

namespace {

// The matcher built from the set itself and from the set after a write and read, so that the
// file's "\r." keys are covered too.
bool buildBoth(const RuleSet &set, RuleSetMatcher &direct, RuleSetMatcher &viaFile)
{
    std::vector<std::uint8_t> bytes;
    RuleSet read;
    std::string error;
    const bool ok = direct.build(set, &error) && writeRuleSet(set, bytes, &error)
        && readRuleSet(bytes.data(), bytes.size(), read, &error) && viaFile.build(read, &error);
    if (!ok)
        qWarning("%s", error.c_str());
    return ok;
}

} // namespace

class RuleSetMatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void domains_data();
    void domains();
    void addresses_data();
    void addresses();
    void ruleSemantics_data();
    void ruleSemantics();
    void rejectsBadItems();
};

void RuleSetMatcherTest::domains_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");

    // Set: domain [exact.com, www.only.org], suffix [cn, .net, xn--fiqs8s, deep.example.com]
    QTest::newRow("exact") << "exact.com" << true;
    QTest::newRow("below an exact name") << "www.exact.com" << false;
    QTest::newRow("parent of an exact name") << "only.org" << false;
    QTest::newRow("exact, deeper") << "www.only.org" << true;
    QTest::newRow("suffix itself") << "cn" << true;
    QTest::newRow("below a suffix") << "baidu.cn" << true;
    QTest::newRow("far below a suffix") << "a.b.c.com.cn" << true;
    QTest::newRow("suffix without a dot boundary") << "xcn" << false;
    QTest::newRow("suffix as a label inside") << "cn.example" << false;
    QTest::newRow("dotted suffix itself") << "net" << false;
    QTest::newRow("below a dotted suffix") << "example.net" << true;
    QTest::newRow("nothing before the dot") << ".net" << false;
    QTest::newRow("punycode suffix") << "www.xn--fiqs8s" << true;
    QTest::newRow("deep suffix") << "deep.example.com" << true;
    QTest::newRow("below deep suffix") << "a.deep.example.com" << true;
    QTest::newRow("sibling of deep suffix") << "shallow.example.com" << false;
    QTest::newRow("parent of deep suffix") << "example.com" << false;
    QTest::newRow("empty") << "" << false;
}

void RuleSetMatcherTest::domains()
{
    QFETCH(QString, name);
    QFETCH(bool, matches);

    Rule rule;
    rule.domain = {"exact.com", "www.only.org"};
    rule.domainSuffix = {"cn", ".net", "xn--fiqs8s", "deep.example.com"};
    RuleSetMatcher direct, viaFile;
    QVERIFY(buildBoth(single(rule), direct, viaFile));
    const std::string text = name.toStdString();
    QCOMPARE(direct.matchDomain(text), matches);
    QCOMPARE(viaFile.matchDomain(text), matches);
    // Domain items never answer an address query.
    QVERIFY(!direct.matchIp(ip("1.2.3.4")));
}

void RuleSetMatcherTest::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("matches");

    // Set: 10.0.0.0/8, 192.168.1.0/24, 192.168.2.0/24, 255.255.255.255, 2001:db8::/32, ::
    QTest::newRow("below first") << "9.255.255.255" << false;
    QTest::newRow("first of range") << "10.0.0.0" << true;
    QTest::newRow("last of range") << "10.255.255.255" << true;
    QTest::newRow("after range") << "11.0.0.0" << false;
    QTest::newRow("before merged pair") << "192.168.0.255" << false;
    QTest::newRow("joint of merged pair") << "192.168.2.0" << true;
    QTest::newRow("end of merged pair") << "192.168.2.255" << true;
    QTest::newRow("after merged pair") << "192.168.3.0" << false;
    QTest::newRow("last IPv4") << "255.255.255.255" << true;
    QTest::newRow("first IPv4") << "0.0.0.0" << false;
    QTest::newRow("first IPv6") << "::" << true;
    QTest::newRow("second IPv6") << "::1" << false;
    QTest::newRow("before v6 range") << "2001:db7:ffff:ffff:ffff:ffff:ffff:ffff" << false;
    QTest::newRow("v6 range start") << "2001:db8::" << true;
    QTest::newRow("v6 range end") << "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff" << true;
    QTest::newRow("after v6 range") << "2001:db9::" << false;
    QTest::newRow("mapped IPv4 stays IPv6") << "::ffff:10.0.0.1" << false;
    QTest::newRow("last IPv6") << "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff" << false;
}

void RuleSetMatcherTest::addresses()
{
    QFETCH(QString, address);
    QFETCH(bool, matches);

    Rule rule;
    rule.ipCidr = cidrs({"2001:db8::/32", "192.168.2.0/24", "10.0.0.0/8", "255.255.255.255",
        "192.168.1.0/24", "::/128"});
    RuleSetMatcher direct, viaFile;
    QVERIFY(buildBoth(single(rule), direct, viaFile));
    const IpAddress query = ip(address.toLatin1().constData());
    QCOMPARE(direct.matchIp(query), matches);
    QCOMPARE(viaFile.matchIp(query), matches);
    QVERIFY(!direct.matchDomain("10.0.0.1")); // a name is not an address
}

void RuleSetMatcherTest::ruleSemantics_data()
{
    QTest::addColumn<RuleSet>("set");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("port"); // -1: unknown
    QTest::addColumn<QString>("network");
    QTest::addColumn<bool>("matches");

    Rule cnTls;
    cnTls.domainSuffix = {"cn"};
    cnTls.port = {443};
    QTest::newRow("groups and: both") << single(cnTls) << "a.cn"
                                      << "" << 443 << "" << true;
    QTest::newRow("groups and: wrong port") << single(cnTls) << "a.cn"
                                            << "" << 80 << "" << false;
    QTest::newRow("groups and: port unknown") << single(cnTls) << "a.cn"
                                              << "" << -1 << "" << false;

    Rule nameOrAddress;
    nameOrAddress.domain = {"example.com"};
    nameOrAddress.ipCidr = cidrs({"192.0.2.0/24"});
    QTest::newRow("destination group: name") << single(nameOrAddress) << "example.com"
                                             << "" << -1 << "" << true;
    QTest::newRow("destination group: address") << single(nameOrAddress) << ""
                                                << "192.0.2.7" << -1 << "" << true;
    QTest::newRow("destination group: neither") << single(nameOrAddress) << "other.com"
                                                << "198.51.100.1" << -1 << "" << false;

    Rule keyword;
    keyword.domainKeyword = {"tracker"};
    keyword.domainRegex = {"^ads?\\."};
    QTest::newRow("keyword") << single(keyword) << "cdn.tracker-x.com"
                             << "" << -1 << "" << true;
    QTest::newRow("regex") << single(keyword) << "ad.example.com"
                           << "" << -1 << "" << true;
    QTest::newRow("neither keyword nor regex") << single(keyword) << "bad.example.com"
                                               << "" << -1 << "" << false;

    Rule range;
    range.portRange = {"1000:2000", ":22"};
    range.network = {"udp"};
    QTest::newRow("port range low edge") << single(range) << ""
                                         << "" << 1000 << "udp" << true;
    QTest::newRow("port range high edge") << single(range) << ""
                                          << "" << 2000 << "udp" << true;
    QTest::newRow("port range open start") << single(range) << ""
                                           << "" << 0 << "udp" << true;
    QTest::newRow("port outside ranges") << single(range) << ""
                                         << "" << 2001 << "udp" << false;
    QTest::newRow("network must match") << single(range) << ""
                                        << "" << 1500 << "tcp" << false;

    Rule inverted = cnTls;
    inverted.invert = true;
    QTest::newRow("invert") << single(inverted) << "a.cn"
                            << "" << 80 << "" << true;
    QTest::newRow("invert of a match") << single(inverted) << "a.cn"
                                       << "" << 443 << "" << false;
    QTest::newRow("empty rule matches all") << single(Rule {}) << ""
                                            << "" << -1 << "" << true;

    Rule a, b;
    a.domainSuffix = {"a.com"};
    b.port = {443};
    Rule both;
    both.logical = true;
    both.rules = {a, b};
    Rule either = both;
    either.mode = LogicalMode::Or;
    Rule neither = either;
    neither.invert = true;
    QTest::newRow("and: one of two") << single(both) << "x.a.com"
                                     << "" << 80 << "" << false;
    QTest::newRow("and: both") << single(both) << "x.a.com"
                               << "" << 443 << "" << true;
    QTest::newRow("or: one of two") << single(either) << "b.com"
                                    << "" << 443 << "" << true;
    QTest::newRow("inverted or") << single(neither) << "b.com"
                                 << "" << 80 << "" << true;

    // Several plain destination rules are merged into one; each must still count.
    RuleSet many;
    for (const char *name : {"one.com", "two.com", "three.com"})
        many.rules.push_back([&] {
            Rule r;
            r.domainSuffix = {name};
            return r;
        }());
    many.rules.push_back(nameOrAddress);
    many.rules.push_back(cnTls);
    QTest::newRow("merged rules: first") << many << "x.one.com"
                                         << "" << -1 << "" << true;
    QTest::newRow("merged rules: last") << many << "three.com"
                                        << "" << -1 << "" << true;
    QTest::newRow("merged rules: address") << many << ""
                                           << "192.0.2.1" << -1 << "" << true;
    QTest::newRow("merged rules: kept apart") << many << "a.cn"
                                              << "" << 443 << "" << true;
    QTest::newRow("merged rules: none") << many << "a.cn"
                                        << "" << 80 << "" << false;
}

void RuleSetMatcherTest::ruleSemantics()
{
    QFETCH(RuleSet, set);
    QFETCH(QString, domain);
    QFETCH(QString, destination);
    QFETCH(int, port);
    QFETCH(QString, network);
    QFETCH(bool, matches);

    RuleSetMatcher direct, viaFile;
    QVERIFY(buildBoth(set, direct, viaFile));
    const std::string name = domain.toStdString(), net = network.toStdString();
    MatchQuery query;
    query.domain = name;
    query.network = net;
    if (!destination.isEmpty())
        query.destination = ip(destination.toLatin1().constData());
    if (port >= 0)
        query.port = std::uint16_t(port);
    QCOMPARE(direct.match(query), matches);
    QCOMPARE(viaFile.match(query), matches);
}

void RuleSetMatcherTest::rejectsBadItems()
{
    Rule badRegex;
    badRegex.domainRegex = {"(unclosed"};
    Rule badRange;
    badRange.portRange = {"2000:1000"};
    Rule badPort;
    badPort.sourcePortRange = {"70000:"};
    Rule nestedBad;
    nestedBad.logical = true;
    nestedBad.rules = {Rule {}, badRange};
    for (const Rule &rule : {badRegex, badRange, badPort, nestedBad}) {
        RuleSetMatcher matcher;
        std::string error;
        QVERIFY(!matcher.build(single(rule), &error));
        QVERIFY(!error.empty());
        QVERIFY(!matcher.matchDomain("example.com"));
    }
}

QTEST_GUILESS_MAIN(RuleSetMatcherTest)
#include "tst_rulesetmatcher.moc"
