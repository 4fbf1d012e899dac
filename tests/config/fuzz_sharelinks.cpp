// libFuzzer harness: arbitrary text as subscription lines through the share-link parser and the
// store's import (which drops what the engine would refuse), then through outbound assembly,
// checking the invariants callers rely on.
#include "config/configbuilder.h"
#include "config/sharelinkimport.h"
#include "config/shareparser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QJsonArray outbounds;
    QList<QString> tags;
    for (const QString &piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        // Callers skip lines without "://"; the parser must cope with them anyway.
        const qsizetype separator = line.indexOf(QLatin1String("://"));
        const QString scheme = separator >= 0 ? line.left(separator) : line;
        QUrl url(line, QUrl::TolerantMode);
        const qsizetype before = outbounds.size();
        const bool ok = parseHandler(url, outbounds, tags, scheme);
        if (outbounds.size() != tags.size() || outbounds.size() != before + (ok ? 1 : 0))
            std::abort();
        if (ok && outbounds.last()[QLatin1String("tag")].toString() != tags.last())
            std::abort();
    }
    // The store's path: whatever it keeps, the engine would take; what it drops, it says why.
    QJsonArray kept;
    QList<QString> keptTags;
    importShareLinks(text, kept, keptTags, [](const ShareLinkIssue &issue) {
        if (issue.kind == ShareLinkIssue::Kind::Refused && issue.reason.isEmpty())
            std::abort();
    });
    if (kept.size() != keptTags.size())
        std::abort();
    for (const QJsonValue &outbound : kept) {
        if (!outboundProblem(outbound.toObject()).isEmpty())
            std::abort();
    }
    if (tags.isEmpty())
        return 0;

    const QJsonArray assembled = createOutbounds(outbounds, tags, QStringLiteral("proxy"));
    QSet<QString> seen;
    for (const QJsonValue &outbound : assembled) {
        const QString tag = outbound[QLatin1String("tag")].toString();
        if (seen.contains(tag))
            std::abort();
        seen.insert(tag);
    }
    if (!seen.contains(QStringLiteral("proxy")) || !seen.contains(QStringLiteral("urltest"))
        || !seen.contains(QStringLiteral("direct")))
        std::abort();
    QJsonDocument(QJsonObject {{QStringLiteral("outbounds"), assembled}})
        .toJson(QJsonDocument::Compact);
    return 0;
}
