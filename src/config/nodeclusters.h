#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// Nodes are known only by their outbound tags, such as "香港-01". The text before the first "-"
// names the cluster (usually a country) that the UI groups, labels and flags.

// The trimmed text before the first "-"; the whole trimmed tag when it has none.
QString clusterFromTag(const QString &tag);

// Whether a tag marks a premium node: "VIP" in any letter case.
bool isVipTag(const QString &tag);

// One entry per cluster, in the order of each cluster's first tag:
// {"name": cluster, "count": tags in it, "hasVip": any of them a VIP tag}.
QVariantList groupTagsByCluster(const QStringList &tags);

// Clusters with a VIP tag first, then by region (North America, Asia, Europe, the rest); the
// order of the list is kept otherwise.
QVariantList sortClustersForDisplay(QVariantList clusters);

// The automatic choice: a random VIP tag, or a random tag when there is none; empty for none.
QString pickAutoTag(const QStringList &tags);

// A random tag of the list, or empty.
QString pickRandomTag(const QStringList &tags);

// The tags whose cluster is exactly `cluster`, in order.
QStringList tagsInCluster(const QStringList &tags, const QString &cluster);

// "qrc:/flags/<code>.png" for a cluster with a country code, else empty. Any two letters give a
// path, whether or not a flag with that name is bundled.
QString flagIconPathForCluster(const QString &cluster);

// The cluster's country name in the UI language ("en", "zh", "zh-Hant"); the cluster itself when
// it names no known country. Traditional Chinese shows the simplified names.
QString displayNameForCluster(const QString &cluster, const QString &language);
