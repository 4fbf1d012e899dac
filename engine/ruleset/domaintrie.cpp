// The domain item's succinct trie: keys are stored reversed, nodes numbered breadth-first.
// labelBitmap holds, node by node, a 0 bit per child label and a 1 bit closing the node;
// `leaves` has bit n set when node n ends a key.
#include "codec.h"
#include "ruleset/ruleset.h"

#include <algorithm>

namespace qivro::ruleset::detail {

namespace {

void setBit(std::vector<std::uint64_t> &bits, std::size_t index)
{
    if (bits.size() <= index / 64)
        bits.resize(index / 64 + 1, 0);
    bits[index / 64] |= std::uint64_t(1) << (index % 64);
}

bool bit(const std::vector<std::uint64_t> &bits, std::size_t index)
{
    return index / 64 < bits.size() && (bits[index / 64] >> (index % 64) & 1);
}

bool readWords(ByteReader &reader, std::vector<std::uint64_t> &words)
{
    std::uint64_t count;
    if (!reader.readUvarint(count) || count > reader.remaining() / 8)
        return false;
    words.resize(count);
    for (auto &word : words) {
        if (!reader.readBigEndian(word, 8))
            return false;
    }
    return true;
}

void writeWords(const std::vector<std::uint64_t> &words, ByteWriter &writer)
{
    writer.uvarint(words.size());
    for (std::uint64_t word : words)
        writer.bigEndian(word, 8);
}

} // namespace

void writeDomainTrie(const std::vector<std::string> &keys, ByteWriter &writer)
{
    std::vector<std::string> reversed;
    reversed.reserve(keys.size());
    for (const auto &key : keys)
        reversed.emplace_back(key.rbegin(), key.rend());
    std::sort(reversed.begin(), reversed.end());
    reversed.erase(std::unique(reversed.begin(), reversed.end()), reversed.end());

    std::vector<std::uint64_t> leaves, labelBitmap;
    std::string labels;
    struct Span
    {
        std::size_t begin, end, column;
    };
    std::vector<Span> queue {{0, reversed.size(), 0}};
    std::size_t labelIndex = 0;
    for (std::size_t node = 0; node < queue.size(); ++node) {
        Span span = queue[node];
        // Sorted keys put the one that ends here first among those sharing this prefix.
        if (span.begin < span.end && span.column == reversed[span.begin].size()) {
            setBit(leaves, node);
            ++span.begin;
        }
        for (std::size_t i = span.begin; i < span.end;) {
            const std::size_t from = i;
            const char label = reversed[from][span.column];
            while (i < span.end && reversed[i][span.column] == label)
                ++i;
            queue.push_back({from, i, span.column + 1});
            labels += label;
            ++labelIndex; // a 0 bit
        }
        setBit(labelBitmap, labelIndex++);
    }

    writer.byte(0);
    writeWords(leaves, writer);
    writeWords(labelBitmap, writer);
    writer.string(labels);
}

bool readDomainTrie(ByteReader &reader, std::vector<std::string> &keys, std::string &error)
{
    std::uint8_t version;
    if (!reader.readByte(version)) {
        error = "truncated domain matcher";
        return false;
    }
    if (version != 0) {
        error = "unsupported domain matcher version " + std::to_string(version);
        return false;
    }
    std::vector<std::uint64_t> leaves, labelBitmap;
    std::uint64_t labelCount;
    std::string labels;
    if (!readWords(reader, leaves) || !readWords(reader, labelBitmap)
        || !reader.readUvarint(labelCount) || labelCount > reader.remaining()
        || !reader.readString(labels, labelCount)) {
        error = "truncated domain matcher";
        return false;
    }

    // Rebuild the nodes as (parent, label, depth); node 0 is the root.
    struct Node
    {
        std::uint32_t parent;
        char label;
        std::uint16_t depth;
    };
    std::vector<Node> nodes {{0, 0, 0}};
    nodes.reserve(labels.size() + 1);
    std::size_t current = 0, labelIndex = 0;
    const std::size_t totalBits = labelBitmap.size() * 64;
    std::size_t position = 0;
    for (; position < totalBits && current < nodes.size(); ++position) {
        if (bit(labelBitmap, position)) {
            ++current;
            continue;
        }
        if (labelIndex >= labels.size()) {
            error = "domain matcher has more branches than labels";
            return false;
        }
        const std::size_t depth = nodes[current].depth + 1u;
        if (depth > kMaxDomainLength) {
            error = "domain matcher holds a name longer than " + std::to_string(kMaxDomainLength)
                + " bytes";
            return false;
        }
        nodes.push_back({std::uint32_t(current), labels[labelIndex++], std::uint16_t(depth)});
    }
    if (current < nodes.size()) {
        error = "truncated domain matcher bitmap";
        return false;
    }
    for (; position < totalBits; ++position) {
        if (bit(labelBitmap, position)) {
            error = "domain matcher bitmap has bits past its last node";
            return false;
        }
    }
    if (labelIndex != labels.size()) {
        error = "domain matcher has unused labels";
        return false;
    }
    for (std::size_t i = nodes.size(); i < leaves.size() * 64; ++i) {
        if (bit(leaves, i)) {
            error = "domain matcher marks a leaf past its last node";
            return false;
        }
    }

    std::size_t budget = kMaxBodySize;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (!bit(leaves, n))
            continue;
        const std::size_t length = nodes[n].depth;
        if (length > budget) {
            error = "domain matcher expands to too many bytes";
            return false;
        }
        budget -= length;
        // Walking up from the leaf reads the reversed key backwards: the name in its own order.
        std::string key;
        key.reserve(length);
        for (std::size_t at = n; at != 0; at = nodes[at].parent)
            key += nodes[at].label;
        keys.push_back(std::move(key));
    }
    return true;
}

} // namespace qivro::ruleset::detail
