#pragma once

#include <QList>
#include <QString>

// A remembered choice, as the tunnel should apply it after connecting.
struct RememberedChoice
{
    enum class Kind
    {
        Auto,
        Cluster, // value: the cluster, which still has nodes
        Node // value: a node tag from an older build that is still there; empty: no choice
    };
    Kind kind = Kind::Auto;
    QString value;
};

// Where the tunnel controller keeps the user's node choice per subscription, and asks for the
// node to use after connecting. RememberedSelection implements it; tests bring their own.
class SelectionMemory
{
public:
    virtual ~SelectionMemory() = default;

    // What to route through after connecting, among `tags`: a remembered cluster or tag that has
    // left the subscription falls back to Auto.
    virtual RememberedChoice rememberedChoice(
        const QString &subscriptionUrl, const QList<QString> &tags)
        = 0;

    // A node picked by hand.
    virtual void rememberTagSelection(const QString &subscriptionUrl, const QString &tag) = 0;
    // The subscription is in automatic mode.
    virtual void rememberAutoSelection(const QString &subscriptionUrl) = 0;
    // One of `tags` picked at random within the remembered choice (empty when there is none to
    // give), for when the engine cannot run the latency test groups; *autoSelected tells whether
    // it is an automatic pick.
    virtual QString chooseDefaultTagForSubscription(
        const QString &subscriptionUrl, const QList<QString> &tags, bool *autoSelected)
        = 0;

protected:
    SelectionMemory() = default;
    SelectionMemory(const SelectionMemory &) = default;
    SelectionMemory &operator=(const SelectionMemory &) = default;
};
