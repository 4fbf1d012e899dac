#include "inbound/tun/netlink.h"

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qivro::engine::tun {

Netlink::Message::Message(std::uint16_t type, std::uint16_t flags)
{
    nlmsghdr header {};
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    append(&header, sizeof(header));
}

void Netlink::Message::append(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    m_bytes.resize(NLMSG_ALIGN(m_bytes.size()), 0);
}

void Netlink::Message::attribute(std::uint16_t type, const void *data, std::size_t size)
{
    rtattr header {};
    header.rta_type = type;
    header.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    const std::size_t start = m_bytes.size();
    m_bytes.resize(start + RTA_ALIGN(RTA_LENGTH(size)), 0);
    std::memcpy(m_bytes.data() + start, &header, sizeof(header));
    std::memcpy(m_bytes.data() + start + RTA_LENGTH(0), data, size);
}

std::vector<std::uint8_t> &Netlink::Message::bytes()
{
    reinterpret_cast<nlmsghdr *>(m_bytes.data())->nlmsg_len
        = static_cast<std::uint32_t>(m_bytes.size());
    return m_bytes;
}

Netlink::Netlink()
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd < 0) {
        m_openError = errno;
        return;
    }
    sockaddr_nl local {};
    local.nl_family = AF_NETLINK;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        m_openError = errno;
        ::close(m_fd);
        m_fd = -1;
    }
}

Netlink::~Netlink()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int Netlink::send(Message &message)
{
    if (m_fd < 0)
        return m_openError;
    std::vector<std::uint8_t> &bytes = message.bytes();
    auto *header = reinterpret_cast<nlmsghdr *>(bytes.data());
    header->nlmsg_seq = m_sequence++;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    while (::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&kernel),
               sizeof(kernel))
        < 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

int Netlink::request(Message &message)
{
    message.bytes();
    reinterpret_cast<nlmsghdr *>(message.bytes().data())->nlmsg_flags |= NLM_F_ACK;
    return dump(message, [](const nlmsghdr *) {});
}

int Netlink::dump(Message &message, const std::function<void(const nlmsghdr *)> &each)
{
    if (const int error = send(message))
        return error;
    const std::uint32_t sequence = m_sequence - 1;
    const bool acked
        = reinterpret_cast<nlmsghdr *>(message.bytes().data())->nlmsg_flags & NLM_F_ACK;
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (true) {
        const ssize_t size = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        int remaining = static_cast<int>(size);
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer.data());
             NLMSG_OK(header, static_cast<unsigned>(remaining));
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_seq != sequence)
                continue; // a late answer to an earlier request
            if (header->nlmsg_type == NLMSG_DONE)
                return 0;
            if (header->nlmsg_type == NLMSG_ERROR) {
                const auto *error = static_cast<const nlmsgerr *>(NLMSG_DATA(header));
                if (error->error != 0 || acked)
                    return -error->error;
                continue;
            }
            each(header);
        }
    }
}

} // namespace qivro::engine::tun
