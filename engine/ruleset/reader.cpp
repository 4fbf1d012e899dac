#include "codec.h"
#include "ruleset/ruleset.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <zlib.h>

namespace qivro::ruleset {

namespace {

using detail::ByteReader;

// Item codes of ordinary rules.
enum Item : std::uint8_t
{
    QueryType = 0,
    Network = 1,
    Domain = 2,
    DomainKeyword = 3,
    DomainRegex = 4,
    SourceIpCidr = 5,
    IpCidr = 6,
    SourcePort = 7,
    SourcePortRange = 8,
    Port = 9,
    PortRange = 10,
    ProcessName = 11,
    ProcessPath = 12,
    PackageName = 13,
    WifiSsid = 14,
    WifiBssid = 15,
    ProcessPathRegex = 17,
    Final = 0xff,
};

class BodyParser
{
public:
    BodyParser(const std::uint8_t *data, std::size_t size)
        : m_reader(data, size)
    { }

    bool parse(std::vector<Rule> &rules)
    {
        std::uint64_t count;
        if (!m_reader.readUvarint(count))
            return fail("truncated rule count");
        // The smallest rule takes three bytes.
        if (count > m_reader.remaining() / 3)
            return fail("rule count " + std::to_string(count) + " exceeds the data");
        rules.resize(count);
        for (auto &rule : rules) {
            if (!parseRule(rule, 0))
                return false;
        }
        if (!m_reader.atEnd())
            return fail("trailing data after the last rule");
        return true;
    }

    const std::string &error() const { return m_error; }

private:
    bool fail(const std::string &what)
    {
        m_error = what + " (at body offset " + std::to_string(m_reader.offset()) + ")";
        return false;
    }

    bool parseRule(Rule &rule, int depth)
    {
        std::uint8_t type;
        if (!m_reader.readByte(type))
            return fail("truncated rule");
        if (type == 0)
            return parseOrdinary(rule);
        if (type != 1)
            return fail("unknown rule type " + std::to_string(type));
        if (depth + 1 >= kMaxNesting)
            return fail("logical rules nested deeper than " + std::to_string(kMaxNesting));
        rule.logical = true;
        std::uint8_t mode;
        if (!m_reader.readByte(mode))
            return fail("truncated logical rule");
        if (mode > 1)
            return fail("unknown logical mode " + std::to_string(mode));
        rule.mode = LogicalMode(mode);
        std::uint64_t count;
        if (!m_reader.readUvarint(count))
            return fail("truncated logical rule");
        if (count > m_reader.remaining() / 3)
            return fail("logical rule count " + std::to_string(count) + " exceeds the data");
        rule.rules.resize(count);
        for (auto &sub : rule.rules) {
            if (!parseRule(sub, depth + 1))
                return false;
        }
        return readInvert(rule);
    }

    bool readInvert(Rule &rule)
    {
        std::uint8_t invert;
        if (!m_reader.readByte(invert))
            return fail("truncated rule: missing invert flag");
        rule.invert = invert != 0;
        return true;
    }

    bool parseOrdinary(Rule &rule)
    {
        std::set<std::string> domainKeys;
        for (;;) {
            std::uint8_t code;
            if (!m_reader.readByte(code))
                return fail("truncated rule: missing end of items");
            bool ok = true;
            switch (code) {
            case Final:
                return finishDomains(rule, domainKeys) && readInvert(rule);
            case QueryType:
                ok = readNumbers(rule.queryType);
                break;
            case Network:
                ok = readStrings(rule.network);
                break;
            case Domain: {
                std::vector<std::string> keys;
                std::string error;
                if (!detail::readDomainTrie(m_reader, keys, error))
                    return fail(error);
                domainKeys.insert(keys.begin(), keys.end());
                break;
            }
            case DomainKeyword:
                ok = readStrings(rule.domainKeyword);
                break;
            case DomainRegex:
                ok = readStrings(rule.domainRegex);
                break;
            case SourceIpCidr:
                ok = readIpSet(rule.sourceIpCidr);
                break;
            case IpCidr:
                ok = readIpSet(rule.ipCidr);
                break;
            case SourcePort:
                ok = readNumbers(rule.sourcePort);
                break;
            case SourcePortRange:
                ok = readStrings(rule.sourcePortRange);
                break;
            case Port:
                ok = readNumbers(rule.port);
                break;
            case PortRange:
                ok = readStrings(rule.portRange);
                break;
            case ProcessName:
                ok = readStrings(rule.processName);
                break;
            case ProcessPath:
                ok = readStrings(rule.processPath);
                break;
            case PackageName:
                ok = readStrings(rule.packageName);
                break;
            case WifiSsid:
                ok = readStrings(rule.wifiSsid);
                break;
            case WifiBssid:
                ok = readStrings(rule.wifiBssid);
                break;
            case ProcessPathRegex:
                ok = readStrings(rule.processPathRegex);
                break;
            default:
                return fail("unsupported rule item " + std::to_string(code));
            }
            if (!ok)
                return false;
        }
    }

    bool readNumbers(std::vector<std::uint16_t> &out)
    {
        std::uint64_t count;
        if (!m_reader.readUvarint(count) || count > m_reader.remaining() / 2)
            return fail("truncated number list");
        out.reserve(out.size() + count);
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t value = 0;
            m_reader.readBigEndian(value, 2);
            out.push_back(std::uint16_t(value));
        }
        return true;
    }

    bool readStrings(std::vector<std::string> &out)
    {
        std::uint64_t count;
        if (!m_reader.readUvarint(count) || count > m_reader.remaining())
            return fail("truncated string list");
        out.reserve(out.size() + count);
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t length;
            std::string value;
            if (!m_reader.readUvarint(length) || length > m_reader.remaining()
                || !m_reader.readString(value, length))
                return fail("truncated string");
            out.push_back(std::move(value));
        }
        return true;
    }

    bool readAddress(IpAddress &address)
    {
        std::uint8_t size;
        if (!m_reader.readByte(size))
            return fail("truncated address");
        if (size != 4 && size != 16)
            return fail("address of " + std::to_string(size) + " bytes");
        address.size = size;
        if (!m_reader.readBytes(address.bytes.data(), size))
            return fail("truncated address");
        return true;
    }

    bool readIpSet(std::vector<IpRange> &out)
    {
        std::uint8_t version;
        std::uint64_t count;
        if (!m_reader.readByte(version))
            return fail("truncated address set");
        if (version != 1)
            return fail("unsupported address set version " + std::to_string(version));
        // A range takes at least ten bytes.
        if (!m_reader.readBigEndian(count, 8) || count > m_reader.remaining() / 10)
            return fail("truncated address set");
        out.reserve(out.size() + count);
        for (std::uint64_t i = 0; i < count; ++i) {
            IpRange range;
            if (!readAddress(range.first) || !readAddress(range.last))
                return false;
            if (!range.isValid())
                return fail("address range " + range.first.toString() + " - "
                    + range.last.toString() + " is not a range");
            out.push_back(range);
        }
        normalizeRanges(out);
        return true;
    }

    // Turns trie keys back into domain and suffix lists, in a normal form that writing and
    // reading again reproduces: a name is listed once, under the widest entry that covers it.
    bool finishDomains(Rule &rule, const std::set<std::string> &keys)
    {
        if (keys.empty())
            return true;
        std::set<std::string> exact, below, suffix;
        for (const auto &key : keys) {
            const bool marked = key[0] == detail::kPrefixLabel || key[0] == detail::kRootLabel;
            const std::string_view name = std::string_view(key).substr(marked ? 1 : 0);
            const bool control = std::any_of(
                name.begin(), name.end(), [](char c) { return std::uint8_t(c) < 0x20; });
            if (name.empty() || control)
                return fail("invalid domain key in matcher");
            if (key[0] == detail::kRootLabel) {
                // Stored again as "x" plus "\r.x": one byte longer, and "." would mean "below".
                if (name[0] == '.' || name.size() + 2 > kMaxDomainLength)
                    return fail("invalid domain key in matcher");
                suffix.emplace(name);
            } else if (key[0] == detail::kPrefixLabel) {
                if (name.size() < 2 || name[0] != '.')
                    return fail("invalid domain key in matcher");
                below.emplace(name.substr(1));
            } else {
                exact.emplace(name);
            }
        }
        for (const auto &name : below) {
            // A suffix cannot start with a dot: that form means "only below".
            if (name[0] != '.' && exact.erase(name))
                suffix.insert(name);
        }
        for (const auto &name : suffix) {
            exact.erase(name);
            below.erase(name);
        }
        rule.domain.assign(exact.begin(), exact.end());
        rule.domainSuffix.assign(suffix.begin(), suffix.end());
        for (const auto &name : below)
            rule.domainSuffix.push_back("." + name);
        std::sort(rule.domainSuffix.begin(), rule.domainSuffix.end());
        return true;
    }

    ByteReader m_reader;
    std::string m_error;
};

bool inflateBody(
    const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &body, std::string &error)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK) {
        error = "cannot start decompression";
        return false;
    }
    stream.next_in = const_cast<Bytef *>(data);
    stream.avail_in = uInt(std::min<std::size_t>(size, 1u << 30));
    std::size_t fed = stream.avail_in;
    int status = Z_OK;
    while (status == Z_OK) {
        if (body.size() - stream.total_out == 0) {
            if (body.size() >= kMaxBodySize) {
                error = "rule set inflates past " + std::to_string(kMaxBodySize >> 20) + " MiB";
                inflateEnd(&stream);
                return false;
            }
            body.resize(std::min(kMaxBodySize, std::max<std::size_t>(body.size() * 2, 64 * 1024)));
        }
        stream.next_out = body.data() + stream.total_out;
        stream.avail_out = uInt(body.size() - stream.total_out);
        if (stream.avail_in == 0 && fed < size) {
            stream.avail_in = uInt(std::min<std::size_t>(size - fed, 1u << 30));
            fed += stream.avail_in;
        }
        status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && fed == size)
            break; // the input ended before the stream did
        if (status == Z_BUF_ERROR)
            status = Z_OK;
    }
    const bool trailing = stream.avail_in != 0 || fed != size;
    const std::string message = stream.msg ? stream.msg : "";
    body.resize(stream.total_out);
    inflateEnd(&stream);
    if (status == Z_STREAM_END && !trailing)
        return true;
    if (status == Z_STREAM_END)
        error = "trailing bytes after the compressed body";
    else if (status == Z_OK || status == Z_BUF_ERROR)
        error = "truncated compressed body";
    else
        error = "corrupt compressed body" + (message.empty() ? "" : ": " + message);
    return false;
}

} // namespace

bool decodeRuleSetBody(const std::uint8_t *data, std::size_t size, std::uint8_t version,
    RuleSet &out, std::string *error) noexcept
{
    out = RuleSet {};
    try {
        RuleSet set;
        set.version = version;
        BodyParser parser(data, size);
        if (!parser.parse(set.rules)) {
            if (error)
                *error = parser.error();
            return false;
        }
        out = std::move(set);
        return true;
    } catch (const std::bad_alloc &) {
        if (error)
            *error = "out of memory while reading the rule set";
    } catch (...) {
        if (error)
            *error = "unexpected failure while reading the rule set";
    }
    return false;
}

bool readRuleSet(
    const std::uint8_t *data, std::size_t size, RuleSet &out, std::string *error) noexcept
{
    out = RuleSet {};
    try {
        if (size < 4 || std::memcmp(data, "SRS", 3) != 0) {
            if (error)
                *error = "not a rule-set file: missing \"SRS\" header";
            return false;
        }
        const std::uint8_t version = data[3];
        if (version == 0 || version > kMaxReadVersion) {
            if (error)
                *error = "unsupported rule-set version " + std::to_string(version);
            return false;
        }
        std::vector<std::uint8_t> body;
        std::string inflateError;
        if (!inflateBody(data + 4, size - 4, body, inflateError)) {
            if (error)
                *error = inflateError;
            return false;
        }
        return decodeRuleSetBody(body.data(), body.size(), version, out, error);
    } catch (const std::bad_alloc &) {
        if (error)
            *error = "out of memory while reading the rule set";
    } catch (...) {
        if (error)
            *error = "unexpected failure while reading the rule set";
    }
    return false;
}

} // namespace qivro::ruleset
