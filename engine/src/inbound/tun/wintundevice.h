// The TUN device on Windows: a wintun adapter and its ring session, wintun.dll loaded at run time
// from the program's folder (it is not part of the build; users get it from wintun.net).
#pragma once

#include "inbound/tun/packetdevice.h"

#include <asio/io_context.hpp>
#include <asio/windows/object_handle.hpp>
#include <cstdint>
#include <memory>
#include <string>

namespace qivro::engine::tun {

class WintunDevice : public PacketDevice
{
public:
    // The adapter is named after the inbound's interface_name; its GUID follows from the name,
    // so Windows keeps treating it as the same network between runs.
    static std::unique_ptr<WintunDevice> open(
        asio::io_context &io, const std::string &name, std::string &error);
    ~WintunDevice() override;

    // The adapter's NET_LUID, as the IP Helper and filtering APIs take it.
    std::uint64_t luid() const { return m_luid; }
    void asyncWait(WaitHandler handler) override;
    std::size_t read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error) override;
    void write(const std::uint8_t *packet, std::size_t size) override;
    void close() override;

    struct Api;

private:
    explicit WintunDevice(asio::io_context &io);

    std::shared_ptr<Api> m_api;
    void *m_adapter = nullptr;
    void *m_session = nullptr;
    asio::windows::object_handle m_readEvent;
    std::uint64_t m_luid = 0;
};

} // namespace qivro::engine::tun
