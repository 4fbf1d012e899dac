#include "subscription/rememberedselection.h"

#include "config/nodeclusters.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSettings>
#include <QStringList>

namespace {

const QString kSelectionPrefix = QStringLiteral("Service/LastSelection/");
const QString kAutoSelection = QStringLiteral("[[auto]]");
const QString kClusterSelection = QStringLiteral("[[cluster]]");

// The same INI file as the stored credentials.
QSettings selectionStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope,
        QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

QString encodedUrl(const QString &subscriptionUrl, QByteArray::Base64Options padding)
{
    return QString::fromLatin1(
        subscriptionUrl.toUtf8().toBase64(QByteArray::Base64UrlEncoding | padding));
}

// Earlier builds kept the "=" padding in the key.
QString legacySelectionSettingsKey(const QString &subscriptionUrl)
{
    if (subscriptionUrl.isEmpty())
        return QString();
    return kSelectionPrefix + encodedUrl(subscriptionUrl, QByteArray::KeepTrailingEquals);
}

} // namespace

QString selectionSettingsKey(const QString &subscriptionUrl)
{
    if (subscriptionUrl.isEmpty())
        return QString();
    return kSelectionPrefix + encodedUrl(subscriptionUrl, QByteArray::OmitTrailingEquals);
}

void RememberedSelection::rememberSelection(const QString &subscriptionUrl, const QString &value)
{
    const QString key = selectionSettingsKey(subscriptionUrl);
    if (key.isEmpty())
        return;
    QSettings settings = selectionStore();
    settings.setValue(key, value);
    settings.sync();
    ++m_revision;
    rememberedSelectionRecorded();
}

void RememberedSelection::rememberAutoSelection(const QString &subscriptionUrl)
{
    rememberSelection(subscriptionUrl, kAutoSelection);
}

void RememberedSelection::rememberTagSelection(const QString &subscriptionUrl, const QString &tag)
{
    const QString cluster = clusterFromTag(tag);
    if (!cluster.isEmpty())
        rememberSelection(subscriptionUrl, kClusterSelection + cluster);
}

QString RememberedSelection::recallSelectionForSubscription(const QString &subscriptionUrl) const
{
    if (subscriptionUrl.isEmpty())
        return QString();
    const QSettings settings = selectionStore();
    const QString value = settings.value(selectionSettingsKey(subscriptionUrl)).toString();
    if (!value.isEmpty())
        return value;
    return settings.value(legacySelectionSettingsKey(subscriptionUrl)).toString();
}

bool RememberedSelection::rememberedAutoForSubscription(const QString &subscriptionUrl) const
{
    const QString value = recallSelectionForSubscription(subscriptionUrl);
    return value.isEmpty() || value == kAutoSelection;
}

QString RememberedSelection::rememberedClusterForSubscription(const QString &subscriptionUrl) const
{
    const QString value = recallSelectionForSubscription(subscriptionUrl);
    if (value.isEmpty() || value == kAutoSelection)
        return QString();
    if (value.startsWith(kClusterSelection))
        return value.mid(kClusterSelection.size());
    return clusterFromTag(value);
}

RememberedChoice RememberedSelection::rememberedChoice(
    const QString &subscriptionUrl, const QList<QString> &tags)
{
    const QString value = recallSelectionForSubscription(subscriptionUrl);
    if (value.startsWith(kClusterSelection)) {
        const QString cluster = value.mid(kClusterSelection.size());
        if (!tagsInCluster(tags, cluster).isEmpty())
            return {RememberedChoice::Kind::Cluster, cluster};
    } else if (!value.isEmpty() && value != kAutoSelection && tags.contains(value)) {
        return {RememberedChoice::Kind::Node, value};
    }
    return {};
}

QString RememberedSelection::chooseDefaultTagForSubscription(
    const QString &subscriptionUrl, const QList<QString> &tags, bool *autoSelected)
{
    if (autoSelected)
        *autoSelected = false;
    if (tags.isEmpty())
        return QString();
    const auto automatic = [&] {
        if (autoSelected)
            *autoSelected = true;
        return pickAutoTag(tags);
    };

    const QString value = recallSelectionForSubscription(subscriptionUrl);
    if (value.isEmpty() || value == kAutoSelection)
        return automatic();
    if (value.startsWith(kClusterSelection)) {
        const QStringList members = tagsInCluster(tags, value.mid(kClusterSelection.size()));
        return members.isEmpty() ? automatic() : pickRandomTag(members);
    }
    return tags.contains(value) ? value : automatic();
}
