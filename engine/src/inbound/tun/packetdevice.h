// Where the TUN stack reads and writes raw IP packets: the system's TUN device, or a stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <system_error>

namespace qivro::engine::tun {

class PacketDevice
{
public:
    using WaitHandler = std::function<void(const std::error_code &error)>;

    virtual ~PacketDevice() = default;
    // Bytes of offload information before every packet read and written (Linux's virtio header
    // when the device hands over segmentation and checksums), 0 for plain packets.
    virtual std::size_t headerSize() const { return 0; }
    // Calls handler on the device's executor once a packet may be read, or with an error once
    // the device is closed.
    virtual void asyncWait(WaitHandler handler) = 0;
    // One packet into buffer without waiting: its size, or 0 when none is there. A packet larger
    // than capacity is cut short.
    virtual std::size_t read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error)
        = 0;
    // One packet; dropped when the device has no room for it, as a link drops.
    virtual void write(const std::uint8_t *packet, std::size_t size) = 0;
    virtual void close() = 0;
};

} // namespace qivro::engine::tun
