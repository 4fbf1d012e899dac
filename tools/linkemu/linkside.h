// One end of the emulated link: a network namespace (made here, or the one linkemu runs in) with
// loopback up and a TUN device "emu0" holding the end's address in a /24 shared with the other
// end. The device's packets are read and written through fd().
#pragma once

#include <string>
#include <sys/types.h>

namespace linkemu {

class LinkSide
{
public:
    // A new namespace, held by a child process that dies with linkemu.
    static LinkSide create(const std::string &address, int mtu, std::string &error);
    // The namespace linkemu runs in; refused when it is the machine's own.
    static LinkSide here(const std::string &address, int mtu, std::string &error);

    LinkSide(LinkSide &&other) noexcept;
    LinkSide &operator=(LinkSide &&other) = delete;
    ~LinkSide();

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // What nsenter -t takes to enter this side's namespace.
    pid_t pid() const { return m_pid; }

private:
    LinkSide() = default;
    bool configure(const std::string &address, int mtu, std::string &error);

    int m_fd = -1;
    pid_t m_pid = -1;
    pid_t m_holder = -1; // ours to stop; -1 for the namespace linkemu runs in
};

} // namespace linkemu
