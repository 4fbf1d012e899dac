// Route rules in order; the first match decides, route.final is the fallback.
#pragma once

#include "common/metadata.h"
#include "config/config.h"
#include "outbound/outbound.h"
#include "route/rulesetsource.h"

#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

namespace qivro::engine {

struct RouteDecision
{
    enum class Action
    {
        Route,
        Reject,
        HijackDns
    };
    Action action = Action::Route;
    std::shared_ptr<Outbound> outbound;
    std::string rule = "final";
    std::string payload;
    // Set with Reject when the destination guard refused it (and logged why).
    std::string refusal;
};

class Router
{
public:
    bool init(const Config &config,
        const std::map<std::string, std::shared_ptr<Outbound>> &outbounds, std::string &error);
    // Connections that would reach what the guard forbids are rejected whatever the rules say.
    void setGuard(const DialGuard *guard) { m_guard = guard; }
    RouteDecision route(const Metadata &metadata) const;
    // The control API's mode ("Rule", "Global", "Direct" ...), matched by clash_mode items.
    std::string mode() const;
    void setMode(const std::string &mode);
    // The loaded rule sets by tag, shared with the DNS rules.
    const std::map<std::string, std::shared_ptr<RuleSetSource>> &ruleSets() const { return m_sets; }

private:
    RouteDecision routeByRules(const Metadata &metadata) const;

    std::vector<RuleConfig> m_rules;
    std::vector<std::string> m_descriptions;
    std::map<std::string, std::shared_ptr<RuleSetSource>> m_sets;
    std::map<std::string, std::shared_ptr<Outbound>> m_outbounds;
    std::shared_ptr<Outbound> m_final;
    const DialGuard *m_guard = nullptr;
    mutable std::mutex m_modeMutex; // the control API sets it from its own thread
    std::string m_mode;
};

bool matchRule(const RuleConfig &rule, const Metadata &metadata,
    const std::map<std::string, std::shared_ptr<RuleSetSource>> &sets);
std::string describeRule(const RuleConfig &rule);

} // namespace qivro::engine
