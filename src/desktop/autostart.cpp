#include "desktop/autostart.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

#ifdef Q_OS_WIN
const QString kRunKey
    = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kValueName = QStringLiteral("qivro");
#endif

// Quoted as the desktop entry format asks: the path may hold spaces, quotes and backslashes.
QString desktopExecArgument(const QString &path)
{
    QString escaped = path;
    for (const char *special : {"\\", "\"", "`", "$"})
        escaped.replace(QLatin1String(special), QLatin1Char('\\') + QLatin1String(special));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

const QString Autostart::kArgument = QStringLiteral("--autostart");

Autostart::Autostart(QString program)
    : m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program))
{ }

QString Autostart::desktopFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/qivro.desktop");
}

bool Autostart::isEnabled() const
{
#ifdef Q_OS_WIN
    return QSettings(kRunKey, QSettings::NativeFormat).contains(kValueName);
#else
    return QFile::exists(desktopFile());
#endif
}

bool Autostart::setEnabled(bool enabled)
{
#ifdef Q_OS_WIN
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (enabled)
        run.setValue(kValueName,
            QStringLiteral("\"%1\" %2").arg(QDir::toNativeSeparators(m_program), kArgument));
    else
        run.remove(kValueName);
    run.sync();
    return run.status() == QSettings::NoError;
#else
    const QString path = desktopFile();
    if (!enabled)
        return !QFile::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=qivro\n"
                                         "Exec=%1 %2\n"
                                         "Icon=qivro\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopExecArgument(m_program), kArgument);
    file.write(entry.toUtf8());
    if (!file.commit()) {
        qWarning() << "[Autostart] Could not write" << path;
        return false;
    }
    return true;
#endif
}
