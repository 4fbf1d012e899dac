// One running engine: configuration, outbounds, inbounds, the control API and the worker thread.
#pragma once

#include "api/controller.h"
#include "inbound/mixed.h"
#include "inbound/tun/tuninbound.h"
#include "runtime/services.h"

#include <asio/io_context.hpp>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qivro::engine {

class Engine
{
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // "" once running, otherwise the reason it is not.
    std::string start(const std::string &configPath);
    std::string startWithText(const std::string &configText);
    // An already parsed configuration, for tests that adjust values no configuration file sets.
    std::string startParsed(Config config);
    void stop();
    bool running() const { return m_thread.joinable(); }

    // Bound ports, for tests and the runner (listen_port 0 binds a free port).
    std::vector<std::uint16_t> inboundPorts() const;
    // The TUN interfaces in use, in configuration order.
    std::vector<std::string> tunInterfaces() const;
    std::uint16_t controllerPort() const;

private:
    void teardown();

    std::unique_ptr<asio::io_context> m_io;
    std::unique_ptr<Services> m_services;
    std::vector<std::shared_ptr<MixedInbound>> m_inbounds;
    std::vector<std::shared_ptr<TunInbound>> m_tunInbounds;
    std::unique_ptr<Controller> m_controller;
    std::thread m_thread;
};

} // namespace qivro::engine
