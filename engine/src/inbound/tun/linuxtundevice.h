// The Linux TUN device: /dev/net/tun, one raw IP packet per read and write (IFF_TUN|IFF_NO_PI).
#pragma once

#include "inbound/tun/packetdevice.h"

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <memory>
#include <string>

namespace qivro::engine::tun {

class LinuxTunDevice : public PacketDevice
{
public:
    // name: the interface to create ("" lets the kernel pick tunN); error names the cause.
    static std::unique_ptr<LinuxTunDevice> open(
        asio::io_context &io, const std::string &name, std::string &error);

    const std::string &name() const { return m_name; }
    void asyncWait(WaitHandler handler) override;
    std::size_t read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error) override;
    void write(const std::uint8_t *packet, std::size_t size) override;
    void close() override;

private:
    LinuxTunDevice(asio::io_context &io, int fd, std::string name);

    asio::posix::stream_descriptor m_descriptor;
    std::string m_name;
};

} // namespace qivro::engine::tun
