#include "inbound/tun/linuxtundevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qivro::engine::tun {

namespace {
// struct virtio_net_hdr, whose kernel header C++ cannot include.
constexpr std::size_t virtioHeaderSize = 10;
} // namespace

std::unique_ptr<LinuxTunDevice> LinuxTunDevice::open(
    asio::io_context &io, const std::string &name, bool offload, std::string &error)
{
    if (name.size() >= IFNAMSIZ) {
        error = "interface name too long: " + name;
        return nullptr;
    }
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "open /dev/net/tun: " + std::string(std::strerror(errno));
        return nullptr;
    }
    ifreq request {};
    request.ifr_flags = static_cast<short>(IFF_TUN | IFF_NO_PI | (offload ? IFF_VNET_HDR : 0));
    std::strncpy(request.ifr_name, name.empty() ? "tun%d" : name.c_str(), IFNAMSIZ - 1);
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        error = "create " + (name.empty() ? std::string("tun device") : name) + ": "
            + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    std::size_t headerSize = 0;
    if (offload) {
        // Without the offloads the header stays, empty, and packets come one MTU at a time.
        headerSize = virtioHeaderSize;
        ::ioctl(fd, TUNSETOFFLOAD, TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6 | TUN_F_TSO_ECN);
    }
    return std::unique_ptr<LinuxTunDevice>(
        new LinuxTunDevice(io, fd, request.ifr_name, headerSize));
}

LinuxTunDevice::LinuxTunDevice(
    asio::io_context &io, int fd, std::string name, std::size_t headerSize)
    : m_descriptor(io, fd)
    , m_name(std::move(name))
    , m_headerSize(headerSize)
{ }

void LinuxTunDevice::asyncWait(WaitHandler handler)
{
    m_descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
        [handler = std::move(handler)](const std::error_code &error) { handler(error); });
}

std::size_t LinuxTunDevice::read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error)
{
    while (true) {
        const ssize_t size = ::read(m_descriptor.native_handle(), buffer, capacity);
        if (size >= 0)
            return static_cast<std::size_t>(size);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            error = std::error_code(errno, asio::error::get_system_category());
        return 0;
    }
}

void LinuxTunDevice::write(const std::uint8_t *packet, std::size_t size)
{
    // A full queue drops the packet; TCP above recovers it like any loss on a link.
    while (::write(m_descriptor.native_handle(), packet, size) < 0 && errno == EINTR) { }
}

void LinuxTunDevice::close()
{
    std::error_code ignored;
    m_descriptor.close(ignored);
}

} // namespace qivro::engine::tun
