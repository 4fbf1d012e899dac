#include "route/sniff.h"

#include "common/address.h"
#include "common/httpparser.h"

namespace qivro::engine::sniff {

namespace {

struct Reader
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t position = 0;

    bool skip(std::size_t count)
    {
        if (size - position < count)
            return false;
        position += count;
        return true;
    }
    bool u8(std::size_t &value)
    {
        if (position >= size)
            return false;
        value = data[position++];
        return true;
    }
    bool u16(std::size_t &value)
    {
        if (size - position < 2)
            return false;
        value = (static_cast<std::size_t>(data[position]) << 8) | data[position + 1];
        position += 2;
        return true;
    }
};

} // namespace

Result tlsServerName(const std::uint8_t *data, std::size_t size, std::string &name)
{
    if (size >= 1 && data[0] != 0x16)
        return Result::NotThis;
    if (size >= 2 && data[1] != 0x03)
        return Result::NotThis;
    if (size < 5)
        return Result::NeedMore;
    const std::size_t recordLength = (static_cast<std::size_t>(data[3]) << 8) | data[4];
    if (size < 5 + recordLength)
        return Result::NeedMore;
    Reader reader {data + 5, recordLength};
    std::size_t type = 0;
    std::size_t value = 0;
    if (!reader.u8(type) || type != 1 || !reader.skip(3) || !reader.skip(2 + 32))
        return Result::NotThis;
    if (!reader.u8(value) || !reader.skip(value) || !reader.u16(value) || !reader.skip(value)
        || !reader.u8(value) || !reader.skip(value))
        return Result::NotThis;
    std::size_t extensionsLength = 0;
    if (!reader.u16(extensionsLength) || reader.size - reader.position < extensionsLength)
        return Result::NotThis;
    Reader extensions {reader.data + reader.position, extensionsLength};
    while (extensions.position < extensions.size) {
        std::size_t extensionType = 0;
        std::size_t extensionLength = 0;
        if (!extensions.u16(extensionType) || !extensions.u16(extensionLength)
            || extensions.size - extensions.position < extensionLength)
            return Result::NotThis;
        if (extensionType == 0) {
            Reader list {extensions.data + extensions.position, extensionLength};
            std::size_t listLength = 0;
            std::size_t nameType = 0;
            std::size_t nameLength = 0;
            if (!list.u16(listLength) || !list.u8(nameType) || nameType != 0
                || !list.u16(nameLength) || list.size - list.position < nameLength
                || nameLength == 0)
                return Result::NotThis;
            name = toLower(
                std::string(reinterpret_cast<const char *>(list.data + list.position), nameLength));
            return Result::Found;
        }
        extensions.skip(extensionLength);
    }
    return Result::NotThis;
}

Result httpHost(const std::uint8_t *data, std::size_t size, std::string &host)
{
    http::RequestHead head;
    std::size_t consumed = 0;
    switch (http::parseRequestHead(reinterpret_cast<const char *>(data), size, head, consumed)) {
    case ParseStatus::NeedMore:
        return Result::NeedMore;
    case ParseStatus::Invalid:
        return Result::NotThis;
    case ParseStatus::Done:
        break;
    }
    const std::string *value = http::findHeader(head.headers, "Host");
    if (!value || value->empty())
        return Result::NotThis;
    std::string name;
    std::uint16_t port = 0;
    if (!splitHostPort(*value, name, port))
        name = *value;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    host = toLower(name);
    return Result::Found;
}

bool isDnsQuery(const std::uint8_t *data, std::size_t size)
{
    if (size < 12 || (data[2] & 0x80) != 0 || (data[2] & 0x78) != 0)
        return false;
    const std::size_t questions = (static_cast<std::size_t>(data[4]) << 8) | data[5];
    if (questions == 0)
        return false;
    std::size_t position = 12;
    std::size_t nameLength = 0;
    while (true) {
        if (position >= size)
            return false;
        const std::size_t label = data[position];
        if (label == 0) {
            ++position;
            break;
        }
        if (label > 63)
            return false;
        nameLength += label + 1;
        if (nameLength > 255)
            return false;
        position += label + 1;
    }
    return size - position >= 4;
}

bool classifyStream(
    const std::uint8_t *data, std::size_t size, std::string &name, std::string &protocol)
{
    if (size == 0)
        return false;
    const Result tls = tlsServerName(data, size, name);
    if (tls == Result::Found) {
        protocol = "tls";
        return true;
    }
    const Result http = httpHost(data, size, name);
    if (http == Result::Found) {
        protocol = "http";
        return true;
    }
    name.clear();
    if (size > 2) {
        const std::size_t length = (static_cast<std::size_t>(data[0]) << 8) | data[1];
        if (length + 2 <= size && isDnsQuery(data + 2, length)) {
            protocol = "dns";
            return true;
        }
    }
    return tls == Result::NotThis && http == Result::NotThis;
}

} // namespace qivro::engine::sniff
