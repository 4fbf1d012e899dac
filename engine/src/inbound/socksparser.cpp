#include "inbound/socksparser.h"

#include <algorithm>
#include <cstring>

namespace qivro::engine::socks {

ParseStatus parseGreeting(
    const std::uint8_t *data, std::size_t size, Greeting &out, std::size_t &consumed)
{
    if (size < 2)
        return size >= 1 && data[0] != 5 ? ParseStatus::Invalid : ParseStatus::NeedMore;
    if (data[0] != 5 || data[1] == 0)
        return ParseStatus::Invalid;
    const std::size_t need = 2 + data[1];
    if (size < need)
        return ParseStatus::NeedMore;
    out.methods.assign(data + 2, data + need);
    consumed = need;
    return ParseStatus::Done;
}

ParseStatus parseCredentials(
    const std::uint8_t *data, std::size_t size, Credentials &out, std::size_t &consumed)
{
    if (size < 2)
        return size >= 1 && data[0] != 1 ? ParseStatus::Invalid : ParseStatus::NeedMore;
    if (data[0] != 1)
        return ParseStatus::Invalid;
    const std::size_t userLength = data[1];
    if (size < 2 + userLength + 1)
        return ParseStatus::NeedMore;
    const std::size_t passLength = data[2 + userLength];
    const std::size_t need = 3 + userLength + passLength;
    if (size < need)
        return ParseStatus::NeedMore;
    out.username.assign(reinterpret_cast<const char *>(data + 2), userLength);
    out.password.assign(reinterpret_cast<const char *>(data + 3 + userLength), passLength);
    consumed = need;
    return ParseStatus::Done;
}

ParseStatus parseRequest5(
    const std::uint8_t *data, std::size_t size, Request &out, std::size_t &consumed)
{
    if (size >= 1 && data[0] != 5)
        return ParseStatus::Invalid;
    if (size >= 2 && (data[1] < Connect || data[1] > UdpAssociate))
        return ParseStatus::Invalid;
    if (size >= 3 && data[2] != 0)
        return ParseStatus::Invalid;
    if (size < 4)
        return ParseStatus::NeedMore;
    std::size_t addressSize = 0;
    Destination destination;
    const ParseStatus status = parseSocksAddress(data + 3, size - 3, destination, addressSize);
    if (status != ParseStatus::Done)
        return status;
    out.command = data[1];
    out.destination = destination;
    consumed = 3 + addressSize;
    return ParseStatus::Done;
}

ParseStatus parseRequest4(
    const std::uint8_t *data, std::size_t size, Request4 &out, std::size_t &consumed)
{
    constexpr std::size_t maxField = 255;
    if (size >= 1 && data[0] != 4)
        return ParseStatus::Invalid;
    if (size >= 2 && data[1] != Connect && data[1] != Bind)
        return ParseStatus::Invalid;
    if (size < 8)
        return ParseStatus::NeedMore;
    const auto *userEnd = static_cast<const std::uint8_t *>(std::memchr(data + 8, 0, size - 8));
    if (!userEnd)
        return size - 8 > maxField ? ParseStatus::Invalid : ParseStatus::NeedMore;
    Request4 request;
    request.command = data[1];
    request.userId.assign(reinterpret_cast<const char *>(data + 8), userEnd - (data + 8));
    if (request.userId.size() > maxField)
        return ParseStatus::Invalid;
    const std::uint16_t port = static_cast<std::uint16_t>((data[2] << 8) | data[3]);
    std::size_t end = static_cast<std::size_t>(userEnd - data) + 1;
    const bool is4a = data[4] == 0 && data[5] == 0 && data[6] == 0 && data[7] != 0;
    if (is4a) {
        const auto *hostEnd
            = static_cast<const std::uint8_t *>(std::memchr(data + end, 0, size - end));
        if (!hostEnd)
            return size - end > maxField ? ParseStatus::Invalid : ParseStatus::NeedMore;
        const std::string host(reinterpret_cast<const char *>(data + end), hostEnd - (data + end));
        if (host.empty() || host.size() > maxField)
            return ParseStatus::Invalid;
        request.destination = makeDestination(host, port);
        end = static_cast<std::size_t>(hostEnd - data) + 1;
    } else {
        asio::ip::address_v4::bytes_type bytes;
        std::copy(data + 4, data + 8, bytes.begin());
        request.destination.ip = asio::ip::address_v4(bytes);
        request.destination.port = port;
    }
    out = request;
    consumed = end;
    return ParseStatus::Done;
}

bool parseDatagram(const std::uint8_t *data, std::size_t size, Datagram &out)
{
    if (size < 4 || data[0] != 0 || data[1] != 0 || data[2] != 0)
        return false;
    std::size_t addressSize = 0;
    if (parseSocksAddress(data + 3, size - 3, out.destination, addressSize) != ParseStatus::Done)
        return false;
    out.payloadOffset = 3 + addressSize;
    return true;
}

std::vector<std::uint8_t> datagramHeader(const Destination &source)
{
    std::vector<std::uint8_t> header {0, 0, 0};
    appendSocksAddress(header, source);
    return header;
}

std::vector<std::uint8_t> reply5(std::uint8_t code, const Destination &bound)
{
    std::vector<std::uint8_t> reply {5, code, 0};
    appendSocksAddress(reply, bound);
    return reply;
}

std::vector<std::uint8_t> reply4(bool granted)
{
    return {0, static_cast<std::uint8_t>(granted ? 90 : 91), 0, 0, 0, 0, 0, 0};
}

} // namespace qivro::engine::socks
