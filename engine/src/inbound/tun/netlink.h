// A route netlink socket (NETLINK_ROUTE) for the few requests the TUN's Linux set-up makes:
// addresses, links, routes and rules, each acknowledged, and dumps to find what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

struct nlmsghdr;

namespace qivro::engine::tun {

class Netlink
{
public:
    // One request: the netlink header, the family's fixed header, then attributes.
    class Message
    {
    public:
        Message(std::uint16_t type, std::uint16_t flags);
        template <typename Header>
        void header(const Header &value)
        {
            append(&value, sizeof(value));
        }
        void attribute(std::uint16_t type, const void *data, std::size_t size);
        void attribute32(std::uint16_t type, std::uint32_t value)
        {
            attribute(type, &value, sizeof(value));
        }
        void attribute8(std::uint16_t type, std::uint8_t value)
        {
            attribute(type, &value, sizeof(value));
        }
        void attributeString(std::uint16_t type, const std::string &value)
        {
            attribute(type, value.c_str(), value.size() + 1);
        }
        std::vector<std::uint8_t> &bytes();

    private:
        void append(const void *data, std::size_t size);
        std::vector<std::uint8_t> m_bytes;
    };

    Netlink();
    ~Netlink();
    Netlink(const Netlink &) = delete;
    Netlink &operator=(const Netlink &) = delete;

    // 0 once the socket is open, else its errno.
    int openError() const { return m_openError; }
    // Sends the message and waits for its acknowledgement: 0, or the kernel's errno.
    int request(Message &message);
    // Sends a dump request and hands every answer to each; 0 or an errno.
    int dump(Message &message, const std::function<void(const nlmsghdr *)> &each);

private:
    int send(Message &message);
    int m_fd = -1;
    int m_openError = 0;
    std::uint32_t m_sequence = 1;
};

} // namespace qivro::engine::tun
