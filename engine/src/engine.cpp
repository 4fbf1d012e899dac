#include "engine.h"

#include "common/log.h"
#include "group/groups.h"
#include "outboundfactory.h"
#include "runtime/descriptorlimit.h"

#include <chrono>

namespace qivro::engine {

Engine::~Engine()
{
    stop();
}

std::string Engine::start(const std::string &configPath)
{
    if (running())
        return "engine is already running";
    Config config;
    std::string error;
    if (!loadConfigFile(configPath, config, error))
        return error;
    return startParsed(std::move(config));
}

std::string Engine::startWithText(const std::string &configText)
{
    if (running())
        return "engine is already running";
    Config config;
    std::string error;
    if (!parseConfig(configText, config, error))
        return error;
    return startParsed(std::move(config));
}

std::string Engine::startParsed(Config config)
{
    if (running())
        return "engine is already running";
    const auto began = std::chrono::steady_clock::now();
    Logger::instance().configure(config.logDisabled, config.logLevel, config.logTimestamp);
    logDebug("descriptor limit: ", raiseDescriptorLimit());
    m_io = std::make_unique<asio::io_context>(1);
    m_services = std::make_unique<Services>();
    m_services->config = std::move(config);
    Services &services = *m_services;
    std::string error;

    for (const OutboundConfig &outbound : services.config.outbounds)
        services.outbounds[outbound.tag] = createOutbound(outbound);
    for (const OutboundConfig &outbound : services.config.outbounds) {
        auto *group = dynamic_cast<GroupOutbound *>(services.outbounds[outbound.tag].get());
        if (!group)
            continue;
        std::vector<std::shared_ptr<Outbound>> members;
        for (const std::string &tag : outbound.members)
            members.push_back(services.outbounds.at(tag));
        group->setMembers(std::move(members));
        if (auto *selector = dynamic_cast<SelectorOutbound *>(group);
            selector && !outbound.defaultMember.empty())
            selector->setDefault(outbound.defaultMember);
        if (auto *urltest = dynamic_cast<UrlTestOutbound *>(group))
            urltest->attach(&services.history, m_io->get_executor());
    }
    services.router.setGuard(&services.guard);
    if (!services.router.init(services.config, services.outbounds, error)) {
        teardown();
        return error;
    }
    services.dns.init(services.config);
    services.dnsRouter.init(services.config, services.router, services.dns);

    for (const InboundConfig &inbound : services.config.inbounds) {
        if (inbound.type == "tun") {
            auto tun = std::make_shared<TunInbound>(*m_io, inbound, services);
            if (!tun->open(error)) {
                tun.reset();
                teardown();
                return error;
            }
            m_tunInbounds.push_back(tun);
            continue;
        }
        auto listener = std::make_shared<MixedInbound>(*m_io, inbound, services);
        if (!listener->listen(error)) {
            listener.reset(); // its acceptor must go before the io_context
            teardown();
            return error;
        }
        m_inbounds.push_back(listener);
    }
    if (services.config.clashApi) {
        m_controller = std::make_unique<Controller>(services);
        if (!m_controller->listen(error)) {
            teardown();
            return error;
        }
    }
    for (const auto &inbound : m_inbounds)
        inbound->startAccepting();
    for (const auto &inbound : m_tunInbounds)
        inbound->start();
    m_thread = std::thread([io = m_io.get()] {
        try {
            io->run();
        } catch (const std::exception &e) {
            logError("engine: worker stopped: ", e.what());
        }
    });
    if (m_controller)
        m_controller->start();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began)
                          .count();
    logInfo("qivro-engine started (", took, "ms)");
    return {};
}

void Engine::stop()
{
    if (!m_io)
        return;
    if (m_controller)
        m_controller->stop();
    m_io->stop();
    if (m_thread.joinable())
        m_thread.join();
    teardown();
    logInfo("qivro-engine stopped");
}

void Engine::teardown()
{
    // Asio objects must go before the io_context they belong to, and connections (destroyed with
    // the io_context's pending handlers) still report to the tracker in services.
    if (m_services) {
        for (auto &entry : m_services->outbounds) {
            if (auto *urltest = dynamic_cast<UrlTestOutbound *>(entry.second.get()))
                urltest->stopTesting();
            entry.second->closeConnections();
        }
    }
    // The TUN goes first: its routes would otherwise send the system's traffic nowhere.
    for (auto &inbound : m_tunInbounds)
        inbound->close();
    m_tunInbounds.clear();
    for (auto &inbound : m_inbounds)
        inbound->close();
    m_inbounds.clear();
    m_controller.reset();
    m_io.reset();
    m_services.reset();
}

std::vector<std::uint16_t> Engine::inboundPorts() const
{
    std::vector<std::uint16_t> ports;
    for (const auto &inbound : m_inbounds)
        ports.push_back(inbound->port());
    return ports;
}

std::vector<std::string> Engine::tunInterfaces() const
{
    std::vector<std::string> names;
    for (const auto &inbound : m_tunInbounds)
        names.push_back(inbound->interfaceName());
    return names;
}

std::uint16_t Engine::controllerPort() const
{
    return m_controller ? m_controller->port() : 0;
}

} // namespace qivro::engine
