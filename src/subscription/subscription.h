#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>

// The nodes of one stored subscription: its engine outbounds, in stored order, and their distinct
// non-empty tags in first-seen order.
struct Subscription
{
    QJsonArray outbounds;
    QList<QString> tags;
};
