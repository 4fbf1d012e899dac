#include "route/rulesetsource.h"

#include "config/boundedfile.h"
#include "route/router.h"

#include <vector>

#ifdef QIVRO_HAVE_RULESET_READER
#include "ruleset/matcher.h"
#include "ruleset/ruleset.h"
#endif

namespace qivro::engine {

namespace {

class RuleListSet : public RuleSetSource
{
public:
    explicit RuleListSet(std::vector<RuleConfig> rules)
        : m_rules(std::move(rules))
    { }
    bool match(const Metadata &metadata) const override
    {
        static const std::map<std::string, std::shared_ptr<RuleSetSource>> none;
        for (const RuleConfig &rule : m_rules) {
            if (matchRule(rule, metadata, none))
                return true;
        }
        return false;
    }

private:
    std::vector<RuleConfig> m_rules;
};

#ifdef QIVRO_HAVE_RULESET_READER
class BinarySet : public RuleSetSource
{
public:
    bool load(const std::vector<std::uint8_t> &bytes, std::string &error)
    {
        ruleset::RuleSet set;
        return ruleset::readRuleSet(bytes.data(), bytes.size(), set, &error)
            && m_matcher.build(set, &error);
    }

    static ruleset::IpAddress toRuleSetAddress(const asio::ip::address &ip)
    {
        if (ip.is_v4())
            return ruleset::IpAddress::v4(ip.to_v4().to_uint());
        ruleset::IpAddress address;
        address.size = 16;
        const auto bytes = ip.to_v6().to_bytes();
        std::copy(bytes.begin(), bytes.end(), address.bytes.begin());
        return address;
    }

    bool match(const Metadata &metadata) const override
    {
        ruleset::MatchQuery query;
        query.domain = metadata.domain();
        if (!metadata.destination.isDomain())
            query.destination = toRuleSetAddress(metadata.destination.ip);
        if (metadata.source) {
            query.source = toRuleSetAddress(metadata.source->ip);
            query.sourcePort = metadata.source->port;
        }
        query.port = metadata.destination.port;
        query.network = metadata.network;
        if (metadata.queryType)
            query.queryType = metadata.queryType;
        return m_matcher.match(query);
    }

private:
    ruleset::RuleSetMatcher m_matcher;
};
#endif

} // namespace

std::unique_ptr<RuleSetSource> loadRuleSet(const RuleSetConfig &config, std::string &error)
{
    if (config.type == "inline")
        return std::make_unique<RuleListSet>(config.rules);
    std::string text;
    if (!readBoundedFile(config.path, text, error))
        return nullptr;
    if (config.format == "source") {
        std::vector<RuleConfig> rules;
        if (!parseSourceRuleSet(text, rules, error))
            return nullptr;
        return std::make_unique<RuleListSet>(std::move(rules));
    }
#ifdef QIVRO_HAVE_RULESET_READER
    auto set = std::make_unique<BinarySet>();
    if (!set->load(std::vector<std::uint8_t>(text.begin(), text.end()), error))
        return nullptr;
    return set;
#else
    error = "binary rule-set files are not supported by this engine build";
    return nullptr;
#endif
}

} // namespace qivro::engine
