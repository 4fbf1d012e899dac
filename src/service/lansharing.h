#pragma once

#include "config/configbuilder.h"

#include <QObject>
#include <QString>
#include <QStringList>

// Sharing the local proxy with the local network, off unless the user turns it on. While on, the
// engine listens on every interface and asks for a login that is made once per install from the
// system's secure random source and kept in the credential store; the UI shows it with the
// addresses other devices use. A change reaches the engine at its next start.
class LanSharing : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(QString username READ username NOTIFY loginChanged)
    Q_PROPERTY(QString password READ password NOTIFY loginChanged)
    Q_PROPERTY(int port READ port CONSTANT)
    Q_PROPERTY(QStringList addresses READ addresses NOTIFY addressesChanged)

public:
    explicit LanSharing(QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    QString username() const { return m_username; }
    QString password() const { return m_password; }
    int port() const { return kMixedProxyPort; }
    // "address:port" for each of the machine's own addresses on its networks.
    QStringList addresses() const { return m_addresses; }

    // Interfaces come and go; the UI asks again whenever it shows them.
    Q_INVOKABLE void refreshAddresses();

    ProxyAccess access() const { return {m_enabled, m_username, m_password}; }

signals:
    void enabledChanged();
    void loginChanged();
    void addressesChanged();

private:
    // Reads the login, making and storing it the first time.
    void loadLogin();

    bool m_enabled = false;
    QString m_username;
    QString m_password;
    QStringList m_addresses;
};
