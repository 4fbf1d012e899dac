#pragma once

#include <QtGlobal>

// The panel's notion of now, in seconds. Tests shift it to expire tokens, orders and cooldowns
// without waiting.
class PanelClock
{
public:
    qint64 now() const;
    qint64 offset() const { return m_offset; }
    void setOffset(qint64 seconds) { m_offset = seconds; }

private:
    qint64 m_offset = 0;
};
