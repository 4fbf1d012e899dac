#include "panelclock.h"

#include <QDateTime>

qint64 PanelClock::now() const
{
    return QDateTime::currentSecsSinceEpoch() + m_offset;
}
