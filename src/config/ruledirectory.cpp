#include "config/ruledirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString builtInDirectory = QStringLiteral(":/rules");

} // namespace

QString extractRuleSets()
{
    // The native separator: on Windows, where the client ships, the folder is "...\rules".
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QDir::separator() + QStringLiteral("rules");
    if (!QDir(directory).exists())
        QDir().mkpath(directory);

    const QStringList names = QDir(builtInDirectory).entryList(QDir::Files, QDir::NoSort);
    for (const QString &name : names) {
        const QString target = directory + QDir::separator() + name;
        if (QFile::exists(target))
            continue;
        // Resource files are read-only; the copy keeps that unless told otherwise.
        if (QFile::copy(builtInDirectory + QLatin1Char('/') + name, target))
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return directory;
}

RuleSetListing listRuleSets(const QString &directory)
{
    RuleSetListing listing;
    listing.fileNames
        = QDir(directory).entryList({QStringLiteral("*.srs")}, QDir::Files, QDir::NoSort);
    for (const QString &name : std::as_const(listing.fileNames)) {
        const QString tag = ruleSetTag(name);
        if (tag.startsWith(QLatin1String("geosite-")))
            listing.domainTags.append(tag);
        else if (tag.startsWith(QLatin1String("geoip-")))
            listing.addressTags.append(tag);
    }
    return listing;
}

QString ruleSetTag(const QString &fileName)
{
    return QFileInfo(fileName).completeBaseName();
}
