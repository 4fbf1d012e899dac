// One direction of an emulated link: a bottleneck of a set rate with a bounded queue, then a
// path with a set delay, jitter, random loss and reordering. Times are nanoseconds of one
// monotonic clock; the caller stamps packets as they arrive and collects them when due.
#pragma once

#include <queue>

#include <cstdint>
#include <random>
#include <vector>

namespace linkemu {

struct LinkParams
{
    double delayMs = 0; // one way
    double jitterMs = 0; // delay varies uniformly within +-jitter
    double lossPercent = 0;
    double reorderPercent = 0; // share of packets held back so that later ones overtake them
    double reorderGapMs = 10; // how long such a packet is held back
    double rateMbit = 0; // 0: no bottleneck
    double queueMs = 100; // backlog the bottleneck holds before it drops at the tail
};

struct LinkStats
{
    std::uint64_t packetsIn = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t delivered = 0;
    std::uint64_t bytesDelivered = 0;
    std::uint64_t lost = 0; // random loss on the path
    std::uint64_t queueDrops = 0; // the bottleneck's queue was full
    std::uint64_t reordered = 0;
    // How late packets left against their schedule: the emulator's own timing error.
    std::uint64_t lateOver1ms = 0;
    std::uint64_t maxLateNs = 0;
    double sumLateNs = 0;
};

class LinkDirection
{
public:
    using Packet = std::vector<std::uint8_t>;

    LinkDirection(const LinkParams &params, std::uint64_t seed);

    void offer(Packet packet, std::uint64_t now);
    // When the next packet is due; UINT64_MAX when none waits.
    std::uint64_t nextDue() const;
    // The next packet due at or before now, if any.
    bool takeDue(std::uint64_t now, Packet &out);
    const LinkStats &stats() const { return m_stats; }

private:
    struct Entry
    {
        std::uint64_t due;
        std::uint64_t sequence;
        Packet packet;
        bool operator>(const Entry &other) const
        {
            return due != other.due ? due > other.due : sequence > other.sequence;
        }
    };

    LinkParams m_params;
    std::mt19937_64 m_random;
    std::uniform_real_distribution<double> m_unit {0.0, 1.0};
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> m_queue;
    std::uint64_t m_busyUntil = 0; // the bottleneck finishes its backlog then
    std::uint64_t m_lastDue = 0; // in-order packets never overtake each other
    std::uint64_t m_sequence = 0;
    LinkStats m_stats;
};

} // namespace linkemu
