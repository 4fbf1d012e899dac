#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Whether this process may create the TUN adapter, and the restart that gets it the rights: a new
// process through the system's elevation prompt, with "--tun-enabled" added. The running process
// never becomes elevated itself.
class Privilege
{
    Q_DECLARE_TR_FUNCTIONS(Privilege)

public:
    Privilege() = delete;

    // Whether this build offers TUN mode at all. Windows: always. Elsewhere when the bundled
    // engine has a TUN inbound (Linux), or as QIVRO_TUN says (1 on, 0 off, for another engine
    // build); otherwise the client connects as the local proxy on 127.0.0.1:1080, which needs no
    // rights.
    static bool tunAvailable();
    // Windows: the process token is elevated. Elsewhere: the effective user is root.
    static bool hasElevatedPrivileges();
    // Windows: always. Linux: when pkexec is installed.
    static bool canRequestElevation();
    static bool usesNativeVpnApi();
    static bool requiresPasswordInput();
    static QString getElevationExplanation();

    static bool requestElevation(const QString &reason);
    // The system asks for consent itself; the password is not used.
    static bool requestElevationWithPassword(const QString &reason, const QString &password);
    // True once the elevated process runs; this one then quits when control returns to the
    // event loop.
    static bool restartWithElevation(const QString &reason);

    // The elevated process's parameters from this one's arguments: the program path dropped,
    // "--tun-enabled" appended (even when present), joined with spaces and not quoted, so an
    // argument holding a space arrives split.
    static QString restartParameters(const QStringList &arguments);

#ifndef Q_OS_WIN
    // Waits, running the event loop, until the process runs a program other than programName
    // (true) or has ended (false).
    static bool waitUntilReplaced(qint64 pid, const QByteArray &programName);
#endif
};
