#pragma once

#include <QString>

// Starting the program when the user logs in: a value under the current user's Run key on
// Windows, an XDG autostart entry elsewhere. The entry names the program as it runs now.
class Autostart
{
public:
    // Started from the login entry, the program knows by this argument.
    static const QString kArgument;

    // The entry for this program; `program` defaults to the running executable.
    explicit Autostart(QString program = QString());

    bool isEnabled() const;
    bool setEnabled(bool enabled);

    // The XDG autostart file (Linux), for the tests.
    static QString desktopFile();

private:
    QString m_program;
};
