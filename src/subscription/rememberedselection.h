#pragma once

#include "subscription/selectionmemory.h"

#include <QList>
#include <QString>

// "Service/LastSelection/" and the subscription URL in URL-safe Base64 without "=" padding, the
// settings key of the remembered node choice; empty for an empty URL.
QString selectionSettingsKey(const QString &subscriptionUrl);

// The user's node choice per stored subscription, kept in the same INI file as the credentials:
// the tunnel controller records it and applies it after connecting, the subscription list shows
// it. Values: "[[auto]]", "[[cluster]]" and a cluster, or (from older builds) a plain tag.
class RememberedSelection : public SelectionMemory
{
public:
    void rememberAutoSelection(const QString &subscriptionUrl) override;
    // Remembers the tag's cluster, not the tag: the next connection picks anew within it.
    void rememberTagSelection(const QString &subscriptionUrl, const QString &tag) override;
    QString recallSelectionForSubscription(const QString &subscriptionUrl) const;
    bool rememberedAutoForSubscription(const QString &subscriptionUrl) const;
    QString rememberedClusterForSubscription(const QString &subscriptionUrl) const;
    RememberedChoice rememberedChoice(
        const QString &subscriptionUrl, const QList<QString> &tags) override;
    // The node to use after connecting; falls back to the automatic pick when the remembered
    // cluster or tag is gone.
    QString chooseDefaultTagForSubscription(const QString &subscriptionUrl,
        const QList<QString> &tags, bool *autoSelected = nullptr) override;

    // Goes up with every choice recorded, so that a view knows to read again.
    int rememberedSelectionRevision() const { return m_revision; }

protected:
    RememberedSelection() = default;
    // After every choice recorded.
    virtual void rememberedSelectionRecorded() { }

private:
    void rememberSelection(const QString &subscriptionUrl, const QString &value);

    int m_revision = 0;
};
