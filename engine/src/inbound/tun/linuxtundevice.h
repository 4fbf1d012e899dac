// The Linux TUN device: /dev/net/tun, one IP packet per read and write (IFF_TUN|IFF_NO_PI). With
// offload the kernel hands over TCP segments of up to 64 KiB and leaves checksums unfinished
// (IFF_VNET_HDR, TUNSETOFFLOAD): a turned-around connection then costs a few packets per 64 KiB
// rather than one per MTU.
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
        asio::io_context &io, const std::string &name, bool offload, std::string &error);

    const std::string &name() const { return m_name; }
    std::size_t headerSize() const override { return m_headerSize; }
    void asyncWait(WaitHandler handler) override;
    std::size_t read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error) override;
    void write(const std::uint8_t *packet, std::size_t size) override;
    void close() override;

private:
    LinuxTunDevice(asio::io_context &io, int fd, std::string name, std::size_t headerSize);

    asio::posix::stream_descriptor m_descriptor;
    std::string m_name;
    std::size_t m_headerSize = 0;
};

} // namespace qivro::engine::tun
