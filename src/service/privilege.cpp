#include "service/privilege.h"

#include <QDebug>

#ifdef Q_OS_WIN
#include "service/privilege_win.h"

#include <QDir>

#include <string>
#else
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>
#endif

bool Privilege::tunAvailable()
{
#ifdef Q_OS_WIN
    return true;
#else
    const QString forced = qEnvironmentVariable("QIVRO_TUN");
    if (!forced.isEmpty())
        return forced == QLatin1String("1");
#ifdef QIVRO_ENGINE_HAS_TUN
    return true;
#else
    return false;
#endif
#endif
}

bool Privilege::hasElevatedPrivileges()
{
#ifdef Q_OS_WIN
    return PrivilegeWin::processIsElevated();
#else
    return geteuid() == 0;
#endif
}

bool Privilege::canRequestElevation()
{
#ifdef Q_OS_WIN
    return true;
#else
    return !QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty();
#endif
}

bool Privilege::usesNativeVpnApi()
{
    return false;
}

bool Privilege::requiresPasswordInput()
{
    return false;
}

QString Privilege::getElevationExplanation()
{
#ifdef Q_OS_WIN
    return tr("TUN mode requires administrator privileges to create a virtual network adapter.\n\n"
              "Windows will ask for your permission to run this app as administrator.");
#else
    return tr("TUN mode requires administrator privileges to create a virtual network adapter.\n\n"
              "Your system will ask for your permission to run this app as administrator.");
#endif
}

bool Privilege::requestElevation(const QString &reason)
{
    return restartWithElevation(reason);
}

bool Privilege::requestElevationWithPassword(const QString &reason, const QString &password)
{
    Q_UNUSED(password)
    return restartWithElevation(reason);
}

QString Privilege::restartParameters(const QStringList &arguments)
{
    QStringList parameters = arguments.mid(1);
    parameters.append(QStringLiteral("--tun-enabled"));
    return parameters.join(QLatin1Char(' '));
}

#ifdef Q_OS_WIN

bool Privilege::restartWithElevation(const QString &reason)
{
    Q_UNUSED(reason) // the system's prompt has no room for it
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    const std::wstring file = program.toStdWString();
    const std::wstring parameters = restartParameters(QCoreApplication::arguments()).toStdWString();
    qDebug().noquote() << "[Privilege] Requesting UAC elevation for:" << program;
    const unsigned long error = PrivilegeWin::runElevated(file.c_str(), parameters.c_str());
    if (error == 0) {
        qDebug() << "[Privilege] UAC elevation granted, restarting";
        QCoreApplication::quit();
        return true;
    }
    if (error == 1223) { // ERROR_CANCELLED
        qDebug() << "[Privilege] User cancelled UAC prompt";
        return false;
    }
    qWarning() << "[Privilege] ShellExecuteEx failed with error:" << error;
    return false;
}

#else

bool Privilege::waitUntilReplaced(qint64 pid, const QByteArray &programName)
{
    // /proc/<pid>/stat: "pid (name) state ...". A finished process is gone or a zombie.
    const QString statPath = QStringLiteral("/proc/%1/stat").arg(pid);
    bool replaced = false;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&]() {
        QFile stat(statPath);
        if (!stat.open(QIODevice::ReadOnly)) {
            loop.quit();
            return;
        }
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open || line.mid(close + 1).trimmed().startsWith('Z')) {
            loop.quit();
            return;
        }
        if (line.mid(open + 1, close - open - 1) != programName) {
            replaced = true;
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    return replaced;
}

bool Privilege::restartWithElevation(const QString &reason)
{
    Q_UNUSED(reason) // pkexec shows its own wording
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    const QString env = QStandardPaths::findExecutable(QStringLiteral("env"));
    if (pkexec.isEmpty() || env.isEmpty()) {
        qWarning() << "[Privilege] pkexec is not available";
        return false;
    }
    // pkexec starts the program with a bare environment: hand over the display and the profile,
    // so that the elevated process shows its window and finds the pending connection.
    QStringList arguments {env};
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "HOME",
             "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        if (qEnvironmentVariableIsSet(name))
            arguments.append(
                QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name));
    }
    const QString program = QCoreApplication::applicationFilePath();
    arguments.append(program);
    arguments.append(restartParameters(QCoreApplication::arguments())
                         .split(QLatin1Char(' '), Qt::SkipEmptyParts));

    qDebug().noquote() << "[Privilege] Requesting elevation through pkexec for:" << program;
    qint64 pid = 0;
    if (!QProcess::startDetached(pkexec, arguments, QString(), &pid)) {
        qWarning() << "[Privilege] pkexec could not be started";
        return false;
    }
    // pkexec replaces itself with the program once the user agreed; it ends when the user
    // declines or cannot be authorised.
    if (!waitUntilReplaced(pid, QByteArrayLiteral("pkexec"))) {
        qDebug() << "[Privilege] User cancelled the elevation prompt";
        return false;
    }
    qDebug() << "[Privilege] Elevation granted, restarting";
    QCoreApplication::quit();
    return true;
}

#endif
