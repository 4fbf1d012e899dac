#include "linkside.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace linkemu {

namespace {

constexpr const char *deviceName = "emu0";

std::string failed(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool setFlagsUp(int control, const char *name, std::string &error)
{
    ifreq request {};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(control, SIOCGIFFLAGS, &request) != 0) {
        error = failed("SIOCGIFFLAGS");
        return false;
    }
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    if (::ioctl(control, SIOCSIFFLAGS, &request) != 0) {
        error = failed("SIOCSIFFLAGS");
        return false;
    }
    return true;
}

bool setAddress(int control, unsigned long request, const char *address, std::string &error)
{
    ifreq entry {};
    std::strncpy(entry.ifr_name, deviceName, IFNAMSIZ - 1);
    auto *in = reinterpret_cast<sockaddr_in *>(&entry.ifr_addr);
    in->sin_family = AF_INET;
    if (::inet_pton(AF_INET, address, &in->sin_addr) != 1) {
        error = std::string("not an IPv4 address: ") + address;
        return false;
    }
    if (::ioctl(control, request, &entry) != 0) {
        error = failed("setting the address of emu0");
        return false;
    }
    return true;
}

ino_t namespaceOf(const char *path)
{
    struct stat info
    { };
    return ::stat(path, &info) == 0 ? info.st_ino : 0;
}

} // namespace

LinkSide::LinkSide(LinkSide &&other) noexcept
    : m_fd(other.m_fd)
    , m_pid(other.m_pid)
    , m_holder(other.m_holder)
{
    other.m_fd = -1;
    other.m_holder = -1;
}

LinkSide::~LinkSide()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_holder > 0) {
        ::kill(m_holder, SIGKILL);
        ::waitpid(m_holder, nullptr, 0);
    }
}

LinkSide LinkSide::here(const std::string &address, int mtu, std::string &error)
{
    LinkSide side;
    if (namespaceOf("/proc/self/ns/net") == namespaceOf("/proc/1/ns/net")) {
        error = "refusing to add a device in the machine's own network namespace (run it under "
                "unshare -n, or without --here)";
        return side;
    }
    side.m_pid = ::getpid();
    side.configure(address, mtu, error);
    return side;
}

LinkSide LinkSide::create(const std::string &address, int mtu, std::string &error)
{
    LinkSide side;
    int ready[2];
    if (::pipe(ready) != 0) {
        error = failed("pipe");
        return side;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        char status = ::getppid() == parent && ::unshare(CLONE_NEWNET) == 0 ? 1 : 0;
        (void)!::write(ready[1], &status, 1);
        while (true)
            ::pause();
    }
    ::close(ready[1]);
    char status = 0;
    const bool up = child > 0 && ::read(ready[0], &status, 1) == 1 && status == 1;
    ::close(ready[0]);
    if (child > 0)
        side.m_holder = side.m_pid = child;
    if (!up) {
        error = "could not make a network namespace (needs root)";
        return side;
    }
    // The device is made inside the namespace, then this process returns to its own.
    const int own = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target
        = ::open(("/proc/" + std::to_string(child) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (own < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
        error = failed("entering the new namespace");
    } else {
        side.configure(address, mtu, error);
        if (::setns(own, CLONE_NEWNET) != 0 && error.empty())
            error = failed("returning to linkemu's namespace");
    }
    if (own >= 0)
        ::close(own);
    if (target >= 0)
        ::close(target);
    return side;
}

bool LinkSide::configure(const std::string &address, int mtu, std::string &error)
{
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = failed("/dev/net/tun");
        return false;
    }
    ifreq request {};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, deviceName, IFNAMSIZ - 1);
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        error = failed("TUNSETIFF");
        ::close(fd);
        return false;
    }
    m_fd = fd;
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        error = failed("socket");
        return false;
    }
    ifreq settings {};
    std::strncpy(settings.ifr_name, deviceName, IFNAMSIZ - 1);
    settings.ifr_mtu = mtu;
    bool ok = ::ioctl(control, SIOCSIFMTU, &settings) == 0;
    // The emulator, not the device, decides what is dropped: a deep device queue rides out a
    // moment in which linkemu was not scheduled.
    settings.ifr_qlen = 10000;
    ok = ok && ::ioctl(control, SIOCSIFTXQLEN, &settings) == 0;
    if (!ok)
        error = failed("setting the MTU or queue of emu0");
    // IPv6 would put the kernel's own neighbour and router messages on the link.
    std::FILE *ipv6 = std::fopen("/proc/sys/net/ipv6/conf/emu0/disable_ipv6", "w");
    if (ipv6) {
        std::fputs("1", ipv6);
        std::fclose(ipv6);
    }
    ok = ok && setAddress(control, SIOCSIFADDR, address.c_str(), error)
        && setAddress(control, SIOCSIFNETMASK, "255.255.255.0", error)
        && setFlagsUp(control, deviceName, error) && setFlagsUp(control, "lo", error);
    ::close(control);
    return ok;
}

} // namespace linkemu
