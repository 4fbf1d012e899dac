// Rule sets as the router sees them: something that matches a connection's metadata. Local
// binary (.srs) files are compiled by the rule-set library; inline and source sets reuse the
// configuration's own rule matching.
#pragma once

#include "common/metadata.h"
#include "config/config.h"

#include <memory>
#include <string>

namespace qivro::engine {

class RuleSetSource
{
public:
    virtual ~RuleSetSource() = default;
    // True when any rule of the set matches.
    virtual bool match(const Metadata &metadata) const = 0;
};

// nullptr with an error text when the set cannot be read.
std::unique_ptr<RuleSetSource> loadRuleSet(const RuleSetConfig &config, std::string &error);

} // namespace qivro::engine
