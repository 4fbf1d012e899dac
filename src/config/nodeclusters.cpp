#include "config/nodeclusters.h"

#include "config/countrytable.h"

#include <QHash>
#include <QRandomGenerator64>
#include <QVariantMap>

#include <algorithm>
#include <vector>

namespace {

const QString kName = QStringLiteral("name");
const QString kCount = QStringLiteral("count");
const QString kHasVip = QStringLiteral("hasVip");

} // namespace

QString clusterFromTag(const QString &tag)
{
    const qsizetype dash = tag.indexOf(QLatin1Char('-'));
    return (dash < 0 ? tag : tag.left(dash)).trimmed();
}

bool isVipTag(const QString &tag)
{
    return tag.contains(QLatin1String("VIP"), Qt::CaseInsensitive);
}

QVariantList groupTagsByCluster(const QStringList &tags)
{
    QVariantList clusters;
    QHash<QString, qsizetype> position;
    for (const QString &tag : tags) {
        const QString cluster = clusterFromTag(tag);
        const bool vip = isVipTag(tag);
        const auto seen = position.constFind(cluster);
        if (seen == position.constEnd()) {
            position.insert(cluster, clusters.size());
            clusters.append(QVariantMap {{kName, cluster}, {kCount, 1}, {kHasVip, vip}});
            continue;
        }
        QVariantMap entry = clusters.at(*seen).toMap();
        entry[kCount] = entry.value(kCount).toInt() + 1;
        if (vip)
            entry[kHasVip] = true;
        clusters[*seen] = entry;
    }
    return clusters;
}

QVariantList sortClustersForDisplay(QVariantList clusters)
{
    struct Key
    {
        bool vip;
        int rank;
        QVariant entry;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<std::size_t>(clusters.size()));
    for (const QVariant &entry : std::as_const(clusters)) {
        const QVariantMap map = entry.toMap();
        keys.push_back(
            {map.value(kHasVip).toBool(), countryRegionRank(map.value(kName).toString()), entry});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
        if (a.vip != b.vip)
            return a.vip;
        return a.rank < b.rank;
    });
    QVariantList sorted;
    sorted.reserve(clusters.size());
    for (Key &key : keys)
        sorted.append(std::move(key.entry));
    return sorted;
}

QString pickRandomTag(const QStringList &tags)
{
    if (tags.isEmpty())
        return QString();
    return tags.at(QRandomGenerator64::global()->bounded(qint64(tags.size())));
}

QString pickAutoTag(const QStringList &tags)
{
    QStringList vip;
    for (const QString &tag : tags) {
        if (isVipTag(tag))
            vip.append(tag);
    }
    return pickRandomTag(vip.isEmpty() ? tags : vip);
}

QStringList tagsInCluster(const QStringList &tags, const QString &cluster)
{
    QStringList members;
    for (const QString &tag : tags) {
        if (clusterFromTag(tag) == cluster)
            members.append(tag);
    }
    return members;
}

QString flagIconPathForCluster(const QString &cluster)
{
    const QString code = isoCodeForLabel(cluster);
    if (code.isEmpty())
        return QString();
    return QStringLiteral("qrc:/flags/") + code + QStringLiteral(".png");
}

QString displayNameForCluster(const QString &cluster, const QString &language)
{
    if (language == QLatin1String("en")) {
        const QString code = isoCodeForChineseLabel(cluster);
        const QString english = code.isEmpty() ? QString() : englishForIsoCode(code);
        if (!english.isEmpty())
            return english;
    }
    const QString code = isoCodeForLabel(cluster).toUpper();
    if (!code.isEmpty()) {
        const bool chinese
            = language == QLatin1String("zh") || language.startsWith(QLatin1String("zh-"));
        const QString name = language == QLatin1String("zh-Hant")
            ? traditionalChineseForIsoCode(code)
            : (chinese ? chineseForIsoCode(code) : englishForIsoCode(code));
        if (!name.isEmpty())
            return name;
    }
    return cluster;
}
