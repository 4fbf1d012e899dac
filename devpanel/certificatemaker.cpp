#include "certificatemaker.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>

CertificateMaker::CertificateMaker(const QString &dataDir)
    : m_dataDir(dataDir)
{ }

QString CertificateMaker::certificatePath() const
{
    return QDir(m_dataDir).absoluteFilePath(QStringLiteral("cert.pem"));
}

QString CertificateMaker::keyPath() const
{
    return QDir(m_dataDir).absoluteFilePath(QStringLiteral("key.pem"));
}

bool CertificateMaker::load()
{
    QFile certFile(certificatePath());
    QFile keyFile(keyPath());
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(certFile.readAll());
    const QByteArray keyData = keyFile.readAll();
    if (certificates.isEmpty())
        return false;
    m_certificate = certificates.first();
    m_key = QSslKey(keyData, QSsl::Ec);
    if (m_key.isNull())
        m_key = QSslKey(keyData, QSsl::Rsa);
    return !m_key.isNull();
}

bool CertificateMaker::generate(QString *error)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-keyout"), keyPath(), QStringLiteral("-out"), certificatePath(),
            QStringLiteral("-days"), QStringLiteral("825"), QStringLiteral("-subj"),
            QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost")});
    if (!openssl.waitForStarted(10000)) {
        *error = QStringLiteral("Cannot run openssl (is it installed?): %1")
                     .arg(openssl.errorString());
        return false;
    }
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl could not make the certificate: %1")
                     .arg(QString::fromLocal8Bit(openssl.readAll()).trimmed());
        return false;
    }
    QFile::setPermissions(keyPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

bool CertificateMaker::ensure(QString *error)
{
    if (load())
        return true;
    qInfo().noquote() << "[Certificate] Making a self-signed certificate in" << m_dataDir;
    if (!generate(error))
        return false;
    if (!load()) {
        *error = QStringLiteral("The new certificate in %1 cannot be read").arg(m_dataDir);
        return false;
    }
    return true;
}
