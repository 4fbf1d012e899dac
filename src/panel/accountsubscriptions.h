#pragma once

#include "network/api.h"

#include <QString>

#include <vector>

class SubscriptionHandler;

// The subscriptions the panel last listed for an account, kept in the settings so the connect
// page can offer them when the panel cannot be reached at start. Each entry names its node list
// in the local store by the store's row id, so no subscription token is written a second time, and
// the store's rows stay usable by whichever account they belong to.
class AccountSubscriptions
{
public:
    struct Entry
    {
        API::UserSubscribeItem item;
        QString url; // the subscription URL, the store's name for its node list
    };

    // Replaces what is kept for the account.
    static void remember(const QString &email, const std::vector<Entry> &entries);
    // The kept entries whose node lists the store still holds, their URLs and tokens taken back
    // from the store; empty for an unknown account.
    static std::vector<Entry> recall(const QString &email, const SubscriptionHandler &store);
    // "Subscriptions/Account/" and the lower-cased address in URL-safe Base64 without padding.
    static QString settingsKey(const QString &email);
};
