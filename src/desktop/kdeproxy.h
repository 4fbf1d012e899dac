#pragma once

#include "desktop/proxybackend.h"

// KDE's proxy settings: the [Proxy Settings] group of kioslaverc in the user's configuration
// folder. Present when that file exists or the session is KDE's; running KDE programs are told to
// read it again.
class KdeProxy : public ProxyBackend
{
public:
    // The file; by default kioslaverc in the user's configuration folder.
    explicit KdeProxy(QString file = QString());

    QString name() const override { return QStringLiteral("kde"); }
    bool read(Values *values) const override;
    bool write(const Values &values) override;
    Values proxyValues(const QString &host, int port) const override;

private:
    QString m_file;
};
