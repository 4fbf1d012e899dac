#include "panel/orderstatuslatch.h"

bool OrderStatusLatch::begin(const QString &orderNo)
{
    if (m_active)
        return false;
    m_active = true;
    m_orderNo = orderNo;
    return true;
}

bool OrderStatusLatch::release(const QString &orderNo)
{
    if (!m_active || m_orderNo != orderNo)
        return false;
    cancel();
    return true;
}

void OrderStatusLatch::cancel()
{
    m_active = false;
    m_orderNo.clear();
}
