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
    void matches_data();
    void matches();
    void rejectsBadItems();
};

void RuleSetMatcherTest::matches_data()
{
    QTest::addColumn<RuleSet>("set");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("port"); // -1: unknown
    QTest::addColumn<QString>("network");
    QTest::addColumn<bool>("matches");

    const auto row = [](const char *name, const RuleSet &set, const char *domain,
                         const char *destination, int port, const char *network, bool matches) {
        QTest::newRow(name) << set << domain << destination << port << network << matches;
    };
    Rule names;
    names.domain = {"exact.com", "www.only.org"};
    names.domainSuffix = {"cn", ".net", "xn--fiqs8s", "deep.example.com"};
    const std::pair<const char *, bool> nameRows[] = {
        {"exact.com", true},
        {"www.exact.com", false}, // below an exact name
        {"xcn", false}, // no dot boundary
        {"only.org", false}, // parent of an exact name
        {"net", false}, // a dotted suffix is not its own name
        {"deep.example.com", true}, // an undotted suffix is
        {"a.deep.example.com", true},
        {"shallow.example.com", false},
    };
    for (const auto &[name, matches] : nameRows)
        row(name, single(names), name, "", -1, "", matches);
    row("domain items never answer an address", single(names), "", "1.2.3.4", -1, "", false);

    Rule addresses;
    addresses.ipCidr = cidrs({"2001:db8::/32", "192.168.2.0/24", "10.0.0.0/8", "255.255.255.255",
        "192.168.1.0/24", "::/128"});
    const std::pair<const char *, bool> addressRows[] = {
        {"9.255.255.255", false}, {"10.255.255.255", true}, {"11.0.0.0", false},
        {"192.168.2.0", true}, // the joint of two merged ranges
        {"255.255.255.255", true}, {"::", true}, {"::1", false},
        {"::ffff:10.0.0.1", false}, // a mapped IPv4 address stays IPv6
    };
    for (const auto &[address, matches] : addressRows)
        row(address, single(addresses), "", address, -1, "", matches);
    row("a name is not an address", single(addresses), "10.0.0.1", "", -1, "", false);

    Rule cnTls;
    cnTls.domainSuffix = {"cn"};
    cnTls.port = {443};

    Rule nameOrAddress;
    nameOrAddress.domain = {"example.com"};
    nameOrAddress.ipCidr = cidrs({"192.0.2.0/24"});
    // An address beside names is the binary rule-set road's (tst_engineapi).
    row("destination group: neither", single(nameOrAddress), "other.com", "198.51.100.1", -1, "",
        false);

    Rule keyword;
    keyword.domainKeyword = {"tracker"};
    keyword.domainRegex = {"^ads?\\."};
    row("keyword", single(keyword), "cdn.tracker-x.com", "", -1, "", true);
    row("neither keyword nor regex", single(keyword), "bad.example.com", "", -1, "", false);

    Rule range;
    range.portRange = {"1000:2000", ":22"};
    range.network = {"udp"};
    row("port range edges", single(range), "", "", 2000, "udp", true);
    row("port outside ranges", single(range), "", "", 2001, "udp", false);
    row("network must match", single(range), "", "", 1500, "tcp", false);

    Rule inverted = cnTls;
    inverted.invert = true;
    row("invert of a match", single(inverted), "a.cn", "", 443, "", false);
    row("empty rule matches all", single(Rule {}), "", "", -1, "", true);

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
    row("and: both", single(both), "x.a.com", "", 443, "", true);
    row("or: one of two", single(either), "b.com", "", 443, "", true);
    row("inverted or", single(neither), "b.com", "", 80, "", true);

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
    row("merged rules: last", many, "three.com", "", -1, "", true);
    row("merged rules: kept apart", many, "a.cn", "", 443, "", true);
}

void RuleSetMatcherTest::matches()
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
    Rule nestedBad;
    nestedBad.logical = true;
    nestedBad.rules = {Rule {}, badRange};
    for (const Rule &rule : {badRegex, badRange, nestedBad}) {
        RuleSetMatcher matcher;
        std::string error;
        QVERIFY(!matcher.build(single(rule), &error));
        QVERIFY(!error.empty());
        QVERIFY(!matcher.matchDomain("example.com"));
    }
}

QTEST_GUILESS_MAIN(RuleSetMatcherTest)
#include "tst_rulesetmatcher.moc"
