#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// The panel's self-signed certificate for 127.0.0.1, ::1 and localhost, made once per data
// directory with the openssl command line tool and reused afterwards. Clients trust it by adding
// the certificate file as an extra CA.
class CertificateMaker
{
public:
    explicit CertificateMaker(const QString &dataDir);

    QString certificatePath() const;
    QString keyPath() const;
    // Loads the pair, making it first when missing. False with a message on failure.
    bool ensure(QString *error);

    QSslCertificate certificate() const { return m_certificate; }
    QSslKey key() const { return m_key; }

private:
    bool load();
    bool generate(QString *error);

    QString m_dataDir;
    QSslCertificate m_certificate;
    QSslKey m_key;
};
