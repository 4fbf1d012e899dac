#include "outbound/vlessprotocol.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <openssl/sha.h>

namespace qivro::engine::vless {

namespace {

// The canonical, hyphen-less, braced and urn:uuid: forms, as Go's UUID parsers take them.
bool parseUuidText(std::string text, Uuid &out)
{
    if (text.size() > 9 && toLower(text.substr(0, 9)) == "urn:uuid:")
        text = text.substr(9);
    else if (text.size() > 2 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, text.size() - 2);
    if (text.size() == 36) {
        for (const std::size_t at : {8, 13, 18, 23}) {
            if (text[at] != '-')
                return false;
        }
        text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    }
    if (text.size() != 32)
        return false;
    for (std::size_t i = 0; i < 16; ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

void appendPort(std::vector<std::uint8_t> &out, std::uint16_t port)
{
    out.push_back(static_cast<std::uint8_t>(port >> 8));
    out.push_back(static_cast<std::uint8_t>(port & 0xFF));
}

std::uint16_t readPort(const std::uint8_t *data)
{
    return static_cast<std::uint16_t>(data[0] << 8 | data[1]);
}

} // namespace

Uuid parseUuid(const std::string &text)
{
    Uuid uuid {};
    if (parseUuidText(text, uuid) && uuid != Uuid {})
        return uuid;
    std::vector<std::uint8_t> input(16, 0);
    input.insert(input.end(), text.begin(), text.end());
    std::uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(input.data(), input.size(), digest);
    std::memcpy(uuid.data(), digest, uuid.size());
    uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0F) | 0x50);
    uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);
    return uuid;
}

bool appendAddress(std::vector<std::uint8_t> &out, const Destination &destination)
{
    if (destination.isDomain()) {
        if (destination.domain.size() > 255)
            return false;
        appendPort(out, destination.port);
        out.push_back(2);
        out.push_back(static_cast<std::uint8_t>(destination.domain.size()));
        out.insert(out.end(), destination.domain.begin(), destination.domain.end());
        return true;
    }
    appendPort(out, destination.port);
    if (destination.ip.is_v4()) {
        out.push_back(1);
        const auto bytes = destination.ip.to_v4().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
        out.push_back(3);
        const auto bytes = destination.ip.to_v6().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return true;
}

ParseStatus parseAddress(
    const std::uint8_t *data, std::size_t size, Destination &out, std::size_t &consumed)
{
    if (size < 4)
        return ParseStatus::NeedMore;
    Destination result;
    result.port = readPort(data);
    switch (data[2]) {
    case 1: {
        if (size < 7)
            return ParseStatus::NeedMore;
        asio::ip::address_v4::bytes_type bytes;
        std::memcpy(bytes.data(), data + 3, 4);
        result.ip = asio::ip::address_v4(bytes);
        consumed = 7;
        break;
    }
    case 2: {
        const std::size_t length = data[3];
        if (length == 0)
            return ParseStatus::Invalid;
        if (size < 4 + length)
            return ParseStatus::NeedMore;
        result = makeDestination(
            std::string(reinterpret_cast<const char *>(data + 4), length), result.port);
        consumed = 4 + length;
        break;
    }
    case 3: {
        if (size < 19)
            return ParseStatus::NeedMore;
        asio::ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), data + 3, 16);
        result.ip = asio::ip::address_v6(bytes);
        consumed = 19;
        break;
    }
    default:
        return ParseStatus::Invalid;
    }
    out = std::move(result);
    return ParseStatus::Done;
}

bool appendRequest(std::vector<std::uint8_t> &out, const Uuid &uuid, Command command,
    const Destination &destination, const std::string &flow)
{
    out.push_back(0);
    out.insert(out.end(), uuid.begin(), uuid.end());
    if (flow.empty() || flow.size() > 125) {
        out.push_back(0);
    } else {
        // Protobuf field 1 (Flow), length-delimited.
        out.push_back(static_cast<std::uint8_t>(flow.size() + 2));
        out.push_back(0x0a);
        out.push_back(static_cast<std::uint8_t>(flow.size()));
        out.insert(out.end(), flow.begin(), flow.end());
    }
    out.push_back(command);
    return command == CommandMux || appendAddress(out, destination);
}

std::size_t ResponseParser::feed(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && m_state != State::Done && m_state != State::Failed) {
        switch (m_state) {
        case State::Version:
            if (data[at] != 0) {
                m_error = "unknown version: " + std::to_string(data[at]);
                m_state = State::Failed;
                return at;
            }
            ++at;
            m_state = State::AddonsLength;
            break;
        case State::AddonsLength:
            m_addonsLeft = data[at++];
            m_state = m_addonsLeft ? State::Addons : State::Done;
            break;
        case State::Addons: {
            const std::size_t skip = std::min(m_addonsLeft, size - at);
            at += skip;
            m_addonsLeft -= skip;
            if (m_addonsLeft == 0)
                m_state = State::Done;
            break;
        }
        default:
            break;
        }
    }
    return at;
}

void appendLengthPacket(std::vector<std::uint8_t> &out, const std::uint8_t *data, std::size_t size)
{
    appendPort(out, static_cast<std::uint16_t>(size));
    out.insert(out.end(), data, data + size);
}

ParseStatus parseLengthPacket(const std::uint8_t *data, std::size_t size, std::size_t &payloadAt,
    std::size_t &payloadSize, std::size_t &consumed)
{
    if (size < 2)
        return ParseStatus::NeedMore;
    const std::size_t length = readPort(data);
    if (size < 2 + length)
        return ParseStatus::NeedMore;
    payloadAt = 2;
    payloadSize = length;
    consumed = 2 + length;
    return ParseStatus::Done;
}

namespace xudp {

bool appendFrame(std::vector<std::uint8_t> &out, bool first, const Destination &to,
    const std::uint8_t *data, std::size_t size)
{
    if (size > 0xFFFF)
        return false;
    std::vector<std::uint8_t> address;
    if (!appendAddress(address, to))
        return false;
    appendPort(out, static_cast<std::uint16_t>(5 + address.size()));
    out.insert(out.end(), {0, 0, first ? New : Keep, optionData, CommandUdp});
    out.insert(out.end(), address.begin(), address.end());
    appendPort(out, static_cast<std::uint16_t>(size));
    out.insert(out.end(), data, data + size);
    return true;
}

ParseStatus parseFrame(
    const std::uint8_t *data, std::size_t size, Frame &out, std::size_t &consumed)
{
    if (size < 2)
        return ParseStatus::NeedMore;
    const std::size_t metaLength = readPort(data);
    if (metaLength < 4 || metaLength > maxMetaLength)
        return ParseStatus::Invalid;
    if (size < 2 + metaLength)
        return ParseStatus::NeedMore;
    const std::uint8_t *meta = data + 2;
    Frame frame;
    frame.status = meta[2];
    frame.option = meta[3];
    if (frame.status < New || frame.status > KeepAlive)
        return ParseStatus::Invalid;
    if (metaLength > 4 && (frame.status == New || frame.status == Keep)) {
        // network byte, then the address; anything after it (a global id) is skipped
        std::size_t addressSize = 0;
        if (metaLength < 5 + 4
            || parseAddress(meta + 5, metaLength - 5, frame.address, addressSize)
                != ParseStatus::Done)
            return ParseStatus::Invalid;
        frame.hasAddress = true;
    }
    std::size_t at = 2 + metaLength;
    if (frame.option & optionData) {
        if (size < at + 2)
            return ParseStatus::NeedMore;
        const std::size_t length = readPort(data + at);
        at += 2;
        if (size < at + length)
            return ParseStatus::NeedMore;
        frame.dataAt = at;
        frame.dataSize = length;
        at += length;
    }
    out = std::move(frame);
    consumed = at;
    return ParseStatus::Done;
}

} // namespace xudp

} // namespace qivro::engine::vless
