// The vision flow's frames. Odd first byte: the input is cut into writes that are framed as the
// client frames them and fed back in pieces; the content must come out unchanged, the last
// command where the framer put it. Even: raw input goes to the frame reader and the inner-TLS
// sniffer as a server (or anyone in between) might send it.
#include "fuzzcheck.h"
#include "outbound/visionframing.h"

#include <cstring>

using namespace qivro::engine::vision;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const UserId id = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::uint8_t mode = data[0];
    const std::size_t piece = static_cast<std::size_t>(data[1]) * 97 + 1;
    data += 2;
    size -= 2;
    Unpadder unpadder(id);
    Bytes content;
    TrafficState traffic;
    if (mode & 1) {
        Bytes wire;
        Bytes expected;
        std::size_t at = 0;
        bool first = true;
        std::uint8_t last = command::padding;
        while (at < size && last == command::padding) {
            std::size_t length = std::min(size - at, piece);
            if (length > maxContent) {
                length = splitPoint(data + at, length);
                require(length > 0 && length <= maxContent);
            }
            traffic.filter(data + at, length, true);
            last = completeApplicationRecords(data + at, length) ? command::direct
                : at + length == size                            ? command::end
                                                                 : command::padding;
            appendFrame(wire, first ? &id : nullptr, last, data + at, length, traffic.isTls());
            expected.insert(expected.end(), data + at, data + at + length);
            first = false;
            at += length;
        }
        const std::size_t framed = wire.size();
        wire.insert(wire.end(), data + at, data + size); // bytes after the last frame
        for (std::size_t offset = 0; offset < wire.size();) {
            const std::size_t chunk = std::min(piece, wire.size() - offset);
            std::size_t consumed = 0;
            require(unpadder.feed(wire.data() + offset, chunk, content, consumed));
            offset += consumed;
            if (unpadder.finished()) {
                require(offset == framed);
                break;
            }
        }
        require(
            content == expected && (last == command::padding || unpadder.lastCommand() == last));
    } else {
        std::size_t consumed = 0;
        unpadder.feed(data, size, content, consumed);
        require(consumed <= size);
        traffic.filter(data, size, false);
        traffic.filter(data, size, true);
    }
    return 0;
}
