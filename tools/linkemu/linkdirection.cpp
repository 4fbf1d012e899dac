#include "linkdirection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace linkemu {

namespace {

std::uint64_t nanoseconds(double ms)
{
    return ms <= 0 ? 0 : static_cast<std::uint64_t>(std::llround(ms * 1e6));
}

} // namespace

LinkDirection::LinkDirection(const LinkParams &params, std::uint64_t seed)
    : m_params(params)
    , m_random(seed)
{ }

void LinkDirection::offer(Packet packet, std::uint64_t now)
{
    ++m_stats.packetsIn;
    m_stats.bytesIn += packet.size();
    std::uint64_t sent = now;
    if (m_params.rateMbit > 0) {
        // Serialisation is booked against the schedule, not the moment this code runs, so a late
        // wake-up delivers a burst instead of losing the link's rate.
        const std::uint64_t start = std::max(now, m_busyUntil);
        if (start - now > nanoseconds(m_params.queueMs)) {
            ++m_stats.queueDrops;
            return;
        }
        m_busyUntil = start
            + static_cast<std::uint64_t>(
                static_cast<double>(packet.size()) * 8e3 / m_params.rateMbit);
        sent = m_busyUntil;
    }
    // Lost on the path: the packet has used the bottleneck already.
    if (m_params.lossPercent > 0 && m_unit(m_random) * 100 < m_params.lossPercent) {
        ++m_stats.lost;
        return;
    }
    double delayMs = m_params.delayMs;
    if (m_params.jitterMs > 0)
        delayMs += (m_unit(m_random) * 2 - 1) * m_params.jitterMs;
    std::uint64_t due = sent + nanoseconds(delayMs);
    if (m_params.reorderPercent > 0 && m_unit(m_random) * 100 < m_params.reorderPercent) {
        ++m_stats.reordered;
        due += nanoseconds(m_params.reorderGapMs);
    } else {
        // Jitter alone does not reorder, as on a real path where packets share one queue.
        due = std::max(due, m_lastDue);
        m_lastDue = due;
    }
    m_queue.push({due, m_sequence++, std::move(packet)});
}

std::uint64_t LinkDirection::nextDue() const
{
    return m_queue.empty() ? std::numeric_limits<std::uint64_t>::max() : m_queue.top().due;
}

bool LinkDirection::takeDue(std::uint64_t now, Packet &out)
{
    if (m_queue.empty() || m_queue.top().due > now)
        return false;
    // priority_queue::top is const; the packet is moved out just before the pop discards it.
    Entry &top = const_cast<Entry &>(m_queue.top());
    const std::uint64_t late = now - top.due;
    m_stats.maxLateNs = std::max(m_stats.maxLateNs, late);
    m_stats.sumLateNs += static_cast<double>(late);
    m_stats.lateOver1ms += late > 1000000;
    out = std::move(top.packet);
    m_queue.pop();
    ++m_stats.delivered;
    m_stats.bytesDelivered += out.size();
    return true;
}

} // namespace linkemu
