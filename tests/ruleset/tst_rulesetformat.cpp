#include "rulesettestutil.h"

#include <QObject>
#include <QTest>

using namespace testutil;

namespace {

// {domain [a.example], domain_suffix [cn], ip_cidr [1.0.1.0/24, 1.0.2.0/23, 240e::/20]}
const char kGoldenBody[]
    = "01000200010000000000002110010000000006ab55540d656e6c63702e6d0d6178652e61"
      "06010000000000000002040100010004010003ff10240e000000000000000000000000"
      "000010240e0fffffffffffffffffffffffffffff00";

Rule goldenRule()
{
    Rule rule;
    rule.domain = {"a.example"};
    rule.domainSuffix = {"cn"};
    rule.ipCidr = cidrs({"1.0.1.0/24", "1.0.2.0/23", "240e::/20"});
    return rule;
}

std::vector<std::uint8_t> written(const RuleSet &set)
{
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!writeRuleSet(set, bytes, &error))
        qWarning("write failed: %s", error.c_str());
    return bytes;
}

QByteArray asBytes(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

Rule ordinary(std::vector<std::string> suffixes)
{
    Rule rule;
    rule.domainSuffix = std::move(suffixes);
    return rule;
}

Rule logical(LogicalMode mode, std::vector<Rule> rules, bool invert = false)
{
    Rule rule;
    rule.logical = true;
    rule.mode = mode;
    rule.rules = std::move(rules);
    rule.invert = invert;
    return rule;
}

} // namespace

class RuleSetFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void goldenBytes();
    void roundTrip_data();
    void roundTrip();
    void rejectsBadFiles_data();
    void rejectsBadFiles();
    void rejectsEveryTruncation();
    void addressText_data();
    void addressText();
};

// The body byte for byte, and the file as "SRS", the version and that body deflated; reading it
// back (with merged ranges) is the round trip's business.
void RuleSetFormatTest::goldenBytes()
{
    const QByteArray golden = QByteArray::fromHex(kGoldenBody);
    std::vector<std::uint8_t> body;
    QVERIFY(encodeRuleSetBody(single(goldenRule()), body));
    QCOMPARE(asBytes(body).toHex(), golden.toHex());
    const std::vector<std::uint8_t> file = written(single(goldenRule()));
    QCOMPARE(asBytes(file).left(4), QByteArray("SRS\x01", 4));
    QCOMPARE(inflateFile(file).toHex(), golden.toHex());
}

void RuleSetFormatTest::roundTrip_data()
{
    QTest::addColumn<RuleSet>("input");
    QTest::addColumn<RuleSet>("expected"); // what reading the written file gives
    QTest::addColumn<QString>("error"); // or the writer refuses the set with this

    QTest::newRow("empty set") << RuleSet {} << RuleSet {} << QString();
    const auto ranges = [](const char *name, std::vector<IpRange> in, std::vector<IpRange> out) {
        Rule from, to;
        from.ipCidr = std::move(in);
        to.ipCidr = std::move(out);
        QTest::newRow(name) << single(from) << single(to) << QString();
    };
    ranges("IPv4 sorted and merged",
        cidrs({"10.0.2.0/24", "10.0.0.0/24", "10.0.1.0/24", "10.0.1.128/25", "192.168.0.0/16",
            "192.168.7.9/32", "10.0.4.0/24"}),
        {span("10.0.0.0", "10.0.2.255"), span("10.0.4.0", "10.0.4.255"),
            span("192.168.0.0", "192.168.255.255")});
    ranges("IPv4 before IPv6, host bits cleared",
        cidrs({"2001:db8:1::/48", "::1", "1.2.3.4", "2001:db8::/48", "1.2.3.5/32",
            "2001:db8:2::/47"}),
        {span("1.2.3.4", "1.2.3.5"), span("::1", "::1"),
            span("2001:db8::", "2001:db8:3:ffff:ffff:ffff:ffff:ffff")});
    // The last IPv4 address must not wrap into the first IPv6 one.
    ranges("family edges", cidrs({"::/128", "255.255.255.255/32", "255.255.255.0/24", "::1/128"}),
        {span("255.255.255.0", "255.255.255.255"), span("::", "::1")});
    {
        Rule in, out;
        in.domain = {"b.example", "a.example", "b.example", "cn"};
        in.domainSuffix = {"example.org", ".net", ".a.example", "a.example", "cn"};
        out.domain = {"b.example"};
        out.domainSuffix = {".net", "a.example", "cn", "example.org"};
        QTest::newRow("domains folded into covering suffixes")
            << single(in) << single(out) << QString();
    }
    {
        Rule every;
        every.queryType = {1, 28, 65535};
        every.network = {"tcp", "udp"};
        every.domainKeyword = {"google", ""};
        every.domainRegex = {"^ad[0-9]+\\.", "\xe4\xb8\xad"};
        every.sourceIpCidr = {span("192.168.0.0", "192.168.255.255")};
        every.sourcePort = {0, 53};
        every.sourcePortRange = {"1000:2000"};
        every.port = {443, 80, 443};
        every.portRange = {":1024", "8000:"};
        every.processName = {"curl"};
        every.packageName = {"org.example"};
        every.wifiSsid = {"home"};
        every.invert = true;
        QTest::newRow("every item kind, order kept") << single(every) << single(every) << QString();
    }
    {
        RuleSet set;
        Rule leaf = ordinary({"example.com"});
        leaf.invert = true;
        set.rules.push_back(logical(LogicalMode::And,
            {logical(LogicalMode::Or, {ordinary({"a.com"}), leaf}), ordinary({"b.com"}),
                logical(LogicalMode::Or, {}, true)},
            true));
        set.rules.push_back(ordinary({"c.com"}));
        QTest::newRow("nested logical rules") << set << set << QString();
    }
    {
        Rule deep = ordinary({"x.com"});
        for (int i = 0; i < kMaxNesting - 1; ++i)
            deep = logical(LogicalMode::Or, {deep});
        QTest::newRow("deepest nesting allowed") << single(deep) << single(deep) << QString();
        deep = logical(LogicalMode::And, {deep});
        QTest::newRow("nested too deep") << single(deep) << RuleSet {} << "nested deeper";
    }
    const auto refused = [](const char *name, const Rule &rule, const char *error) {
        QTest::newRow(name) << single(rule) << RuleSet {} << error;
    };
    refused("empty domain", ordinary({"a.com", ""}), "empty");
    refused("control character", ordinary({"a\rb.com"}), "control character");
    refused("too long", ordinary({std::string(kMaxDomainLength, 'a')}), "too long");
    Rule mixed;
    mixed.ipCidr = {{ip("1.2.3.4"), ip("::1")}};
    refused("range across families", mixed, "is not a range");
}

void RuleSetFormatTest::roundTrip()
{
    QFETCH(RuleSet, input);
    QFETCH(RuleSet, expected);
    QFETCH(QString, error);

    std::vector<std::uint8_t> file {1, 2, 3};
    std::string message;
    QCOMPARE(writeRuleSet(input, file, &message), error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
        QVERIFY(file.empty());
        return;
    }
    RuleSet read;
    QVERIFY2(readRuleSet(file.data(), file.size(), read, &message), message.c_str());
    QCOMPARE(read, expected);
    // Equal sets give equal bytes, whatever form they were given in.
    QCOMPARE(asBytes(written(read)), asBytes(file));
}

void RuleSetFormatTest::rejectsBadFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");

    const auto body
        = [](const char *hex) { return asBytes(fileWithBody(QByteArray::fromHex(hex))); };
    const QByteArray valid = asBytes(written(single(goldenRule())));

    QTest::newRow("wrong magic") << QByteArray("SRX\x01xxxx", 8) << "missing \"SRS\" header";
    QTest::newRow("version 4") << QByteArray("SRS\x04", 4) + valid.mid(4) << "version 4";
    QByteArray flipped = valid;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x55);
    QTest::newRow("corrupt stream") << flipped << "corrupt compressed body";
    QTest::newRow("bytes after stream") << valid + "x"
                                        << "trailing bytes";
    QTest::newRow("inflates too far")
        << asBytes(fileWithBody(QByteArray(int(kMaxBodySize) + 1, '\0'))) << "inflates past";

    QTest::newRow("varint overflow") << body("ffffffffffffffffff02") << "truncated rule count";
    QTest::newRow("unknown rule type") << body("0107ff00") << "unknown rule type 7";
    QTest::newRow("unknown logical mode") << body("0101020000") << "unknown logical mode 2";
    QByteArray deep = "01";
    for (int i = 0; i < kMaxNesting; ++i)
        deep += "010001";
    deep += "00ff00" + QByteArray(2 * kMaxNesting, '0');
    QTest::newRow("nested too deep") << body(deep) << "nested deeper";
    QTest::newRow("unknown item") << body("010063ff00") << "unsupported rule item 99";
    QTest::newRow("huge address count") << body("01000601"
                                                "00000000ffffffff"
                                                "040a000000040a000001ff00")
                                        << "truncated address set";
    QTest::newRow("range backwards") << body("01000601"
                                             "0000000000000001"
                                             "040a000001040a000000ff00")
                                     << "is not a range";
    QTest::newRow("trailing body data") << body(QByteArray(kGoldenBody) + "00") << "trailing data";

    // Domain tries; a valid one for the single key "a" is 02 00 | 01 <leaves 2> | 01 <bitmap 6> |
    // 01 "a".
    QTest::newRow("trie more branches than labels")
        << body("0100020001000000000000000201000000000000000600ff00")
        << "more branches than labels";
    QTest::newRow("trie bits past last node")
        << body("0100020001000000000000000201000000000000000e0161ff00")
        << "bits past its last node";
    QTest::newRow("trie leaf past last node")
        << body("010002000100000000000000220100000000000000060161ff00")
        << "leaf past its last node";
    // "\rx": a prefix key without the dot that must follow the mark.
    QTest::newRow("trie prefix without dot")
        << body("0100020001000000000000000401000000000000001a02780dff00") << "invalid domain key";
}

void RuleSetFormatTest::rejectsBadFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);

    RuleSet read;
    read.rules.resize(1);
    std::string message;
    const auto bytes = bytesOf(file);
    QVERIFY(!readRuleSet(bytes.data(), bytes.size(), read, &message));
    QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    QCOMPARE(read, RuleSet {});
}

// Cutting the body anywhere, or the file anywhere, is an error, never a crash or a success.
void RuleSetFormatTest::rejectsEveryTruncation()
{
    RuleSet set = single(goldenRule());
    set.rules.push_back(logical(LogicalMode::Or, {ordinary({"example.com"}), goldenRule()}, true));
    std::vector<std::uint8_t> body;
    QVERIFY(encodeRuleSetBody(set, body));
    const auto file = written(set);
    for (std::size_t size = 0; size < std::max(body.size(), file.size()); ++size) {
        RuleSet read;
        std::string bodyError, fileError;
        if (size < body.size())
            QVERIFY2(
                !decodeRuleSetBody(body.data(), size, 1, read, &bodyError) && !bodyError.empty(),
                qPrintable(QString::number(size)));
        if (size < file.size())
            QVERIFY2(!readRuleSet(file.data(), size, read, &fileError) && !fileError.empty(),
                qPrintable(QString::number(size)));
    }
}

void RuleSetFormatTest::addressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // empty: refused

    const char *const rows[][2] = {
        {"192.0.2.01", ""},
        {"256.0.0.1", ""},
        {"2001:DB8::", "2001:db8::"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // a single zero stays
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"::ffff:192.0.2.1", "::ffff:c000:201"},
        {"1::2::3", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << row[0] << row[1];
}

void RuleSetFormatTest::addressText()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);

    const auto address = IpAddress::parse(text.toStdString());
    QCOMPARE(address ? QString::fromStdString(address->toString()) : QString(), canonical);
    if (address)
        QCOMPARE(IpAddress::parse(address->toString()), address);
}

QTEST_GUILESS_MAIN(RuleSetFormatTest)
#include "tst_rulesetformat.moc"
