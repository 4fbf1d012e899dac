#pragma once

#include <QList>
#include <QString>

// Where the tunnel controller keeps the user's node choice per subscription, and asks for the
// node to use after connecting. The panel subscription code implements it; tests bring their own.
class SelectionMemory
{
public:
    virtual ~SelectionMemory() = default;

    // A node picked by hand.
    virtual void rememberTagSelection(const QString &subscriptionUrl, const QString &tag) = 0;
    // The subscription is in automatic mode.
    virtual void rememberAutoSelection(const QString &subscriptionUrl) = 0;
    // One of `tags` (empty when there is none to give); *autoSelected tells whether it is an
    // automatic pick.
    virtual QString chooseDefaultTagForSubscription(
        const QString &subscriptionUrl, const QList<QString> &tags, bool *autoSelected)
        = 0;

protected:
    SelectionMemory() = default;
    SelectionMemory(const SelectionMemory &) = default;
    SelectionMemory &operator=(const SelectionMemory &) = default;
};
