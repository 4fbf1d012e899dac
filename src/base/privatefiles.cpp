#include "base/privatefiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace PrivateFiles {

bool makeDirectory(const QString &path)
{
    if (path.isEmpty() || !QDir().mkpath(path))
        return false;
    // Where there are no Unix modes this changes nothing, and that is no failure.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

void restrictFile(const QString &path)
{
    if (QFileInfo(path).isFile())
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

bool ensureFile(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    restrictFile(path);
    return QFileInfo(path).isFile();
}

QString quarantine(const QString &path)
{
    const QString stem = path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = stem;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = stem + QLatin1Char('-') + QString::number(n);
    return QFile::rename(path, target) ? target : QString();
}

} // namespace PrivateFiles
