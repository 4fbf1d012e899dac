#pragma once

#include "desktop/proxybackend.h"

#include <QString>

#include <memory>
#include <vector>

// Points the desktop's proxy settings at the local proxy and puts them back. Before writing, the
// settings found and the ones about to be written are recorded in a file; putting back writes the
// found ones only where the settings still read as written, so a change the user made meanwhile
// stays. The record outlives a crash: whatever it names is put back at the next start.
class SystemProxy
{
public:
    using Backends = std::vector<std::unique_ptr<ProxyBackend>>;

    // The record in the application's data folder, the platform's backends.
    SystemProxy();
    SystemProxy(QString recordFile, Backends backends);

    static Backends platformBackends();

    // True when at least one backend now points at host:port. Set already, it changes nothing.
    bool set(const QString &host, int port);
    // Puts back what the record names and forgets it.
    void restore();
    bool isSet() const;

private:
    ProxyBackend *backend(const QString &name) const;

    QString m_recordFile;
    Backends m_backends;
};
