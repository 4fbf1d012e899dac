#include "codec.h"
#include "ruleset/ruleset.h"

#include <algorithm>
#include <new>
#include <set>
#include <zlib.h>

namespace qivro::ruleset {

namespace {

using detail::ByteWriter;

class BodyEncoder
{
public:
    explicit BodyEncoder(std::vector<std::uint8_t> &out)
        : m_writer(out)
    { }

    bool encode(const std::vector<Rule> &rules)
    {
        m_writer.uvarint(rules.size());
        for (const auto &rule : rules) {
            if (!encodeRule(rule, 0))
                return false;
        }
        return true;
    }

    const std::string &error() const { return m_error; }

private:
    bool fail(const std::string &what)
    {
        m_error = what;
        return false;
    }

    bool encodeRule(const Rule &rule, int depth)
    {
        if (!rule.logical)
            return encodeOrdinary(rule);
        if (depth + 1 >= kMaxNesting)
            return fail("logical rules nested deeper than " + std::to_string(kMaxNesting));
        m_writer.byte(1);
        m_writer.byte(std::uint8_t(rule.mode));
        m_writer.uvarint(rule.rules.size());
        for (const auto &sub : rule.rules) {
            if (!encodeRule(sub, depth + 1))
                return false;
        }
        m_writer.byte(rule.invert ? 1 : 0);
        return true;
    }

    bool encodeOrdinary(const Rule &rule)
    {
        m_writer.byte(0);
        numbers(0, rule.queryType);
        strings(1, rule.network);
        if (!rule.domain.empty() || !rule.domainSuffix.empty()) {
            std::vector<std::string> keys;
            if (!domainKeys(rule, keys))
                return false;
            m_writer.byte(2);
            detail::writeDomainTrie(keys, m_writer);
        }
        strings(3, rule.domainKeyword);
        strings(4, rule.domainRegex);
        if (!ipSet(5, rule.sourceIpCidr) || !ipSet(6, rule.ipCidr))
            return false;
        numbers(7, rule.sourcePort);
        strings(8, rule.sourcePortRange);
        numbers(9, rule.port);
        strings(10, rule.portRange);
        strings(11, rule.processName);
        strings(12, rule.processPath);
        strings(13, rule.packageName);
        strings(14, rule.wifiSsid);
        strings(15, rule.wifiBssid);
        strings(17, rule.processPathRegex);
        m_writer.byte(0xff);
        m_writer.byte(rule.invert ? 1 : 0);
        return true;
    }

    void numbers(std::uint8_t code, const std::vector<std::uint16_t> &values)
    {
        if (values.empty())
            return;
        m_writer.byte(code);
        m_writer.uvarint(values.size());
        for (std::uint16_t value : values)
            m_writer.bigEndian(value, 2);
    }

    void strings(std::uint8_t code, const std::vector<std::string> &values)
    {
        if (values.empty())
            return;
        m_writer.byte(code);
        m_writer.uvarint(values.size());
        for (const auto &value : values)
            m_writer.string(value);
    }

    bool ipSet(std::uint8_t code, const std::vector<IpRange> &input)
    {
        if (input.empty())
            return true;
        for (const auto &range : input) {
            if (!range.isValid())
                return fail("address range " + range.first.toString() + " - "
                    + range.last.toString() + " is not a range");
        }
        std::vector<IpRange> ranges = input;
        normalizeRanges(ranges);
        m_writer.byte(code);
        m_writer.byte(1);
        m_writer.bigEndian(ranges.size(), 8);
        for (const auto &range : ranges) {
            m_writer.byte(range.first.size);
            m_writer.bytes(range.first.bytes.data(), range.first.size);
            m_writer.byte(range.last.size);
            m_writer.bytes(range.last.bytes.data(), range.last.size);
        }
        return true;
    }

    // Version 1 stores suffix "x" as the name itself plus "\r.x" for the names below it.
    bool domainKeys(const Rule &rule, std::vector<std::string> &keys)
    {
        std::set<std::string> unique;
        const auto add = [&](std::string key) {
            if (key.size() > kMaxDomainLength)
                return fail("domain \"" + key.substr(0, 64) + "...\" is too long");
            unique.insert(std::move(key));
            return true;
        };
        for (const auto &name : rule.domainSuffix) {
            if (!checkName(name, true))
                return false;
            if (name[0] == '.') {
                if (!add(detail::kPrefixLabel + name))
                    return false;
            } else if (!add(name) || !add(std::string {detail::kPrefixLabel, '.'} + name)) {
                return false;
            }
        }
        for (const auto &name : rule.domain) {
            if (!checkName(name, false) || !add(name))
                return false;
        }
        keys.assign(unique.begin(), unique.end());
        return true;
    }

    bool checkName(const std::string &name, bool suffix)
    {
        const bool control
            = std::any_of(name.begin(), name.end(), [](char c) { return std::uint8_t(c) < 0x20; });
        if (name.empty() || control || (suffix && name == "."))
            return fail(std::string(suffix ? "domain suffix" : "domain")
                + (name.empty() ? " is empty" : " holds a control character"));
        return true;
    }

    ByteWriter m_writer;
    std::string m_error;
};

} // namespace

bool Rule::hasItems() const
{
    return !(queryType.empty() && network.empty() && domain.empty() && domainSuffix.empty()
        && domainKeyword.empty() && domainRegex.empty() && sourceIpCidr.empty() && ipCidr.empty()
        && sourcePort.empty() && sourcePortRange.empty() && port.empty() && portRange.empty()
        && processName.empty() && processPath.empty() && processPathRegex.empty()
        && packageName.empty() && wifiSsid.empty() && wifiBssid.empty());
}

bool operator==(const Rule &a, const Rule &b)
{
    return a.logical == b.logical && a.invert == b.invert && a.mode == b.mode && a.rules == b.rules
        && a.queryType == b.queryType && a.network == b.network && a.domain == b.domain
        && a.domainSuffix == b.domainSuffix && a.domainKeyword == b.domainKeyword
        && a.domainRegex == b.domainRegex && a.sourceIpCidr == b.sourceIpCidr
        && a.ipCidr == b.ipCidr && a.sourcePort == b.sourcePort
        && a.sourcePortRange == b.sourcePortRange && a.port == b.port && a.portRange == b.portRange
        && a.processName == b.processName && a.processPath == b.processPath
        && a.processPathRegex == b.processPathRegex && a.packageName == b.packageName
        && a.wifiSsid == b.wifiSsid && a.wifiBssid == b.wifiBssid;
}

bool encodeRuleSetBody(
    const RuleSet &set, std::vector<std::uint8_t> &out, std::string *error) noexcept
{
    out.clear();
    try {
        BodyEncoder encoder(out);
        if (encoder.encode(set.rules))
            return true;
        if (error)
            *error = encoder.error();
    } catch (const std::bad_alloc &) {
        if (error)
            *error = "out of memory while writing the rule set";
    } catch (...) {
        if (error)
            *error = "unexpected failure while writing the rule set";
    }
    out.clear();
    return false;
}

bool writeRuleSet(const RuleSet &set, std::vector<std::uint8_t> &out, std::string *error) noexcept
{
    out.clear();
    try {
        std::vector<std::uint8_t> body;
        if (!encodeRuleSetBody(set, body, error))
            return false;
        uLongf compressedSize = compressBound(uLong(body.size()));
        out.resize(4 + compressedSize);
        out[0] = 'S';
        out[1] = 'R';
        out[2] = 'S';
        out[3] = kWriteVersion;
        if (compress2(out.data() + 4, &compressedSize, body.data(), uLong(body.size()),
                Z_BEST_COMPRESSION)
            != Z_OK) {
            out.clear();
            if (error)
                *error = "compression failed";
            return false;
        }
        out.resize(4 + compressedSize);
        return true;
    } catch (const std::bad_alloc &) {
        if (error)
            *error = "out of memory while writing the rule set";
    } catch (...) {
        if (error)
            *error = "unexpected failure while writing the rule set";
    }
    out.clear();
    return false;
}

} // namespace qivro::ruleset
