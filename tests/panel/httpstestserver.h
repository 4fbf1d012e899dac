#pragma once

// A local HTTPS server for tests: a throwaway self-signed certificate made with the openssl
// command line, QHttpServer on 127.0.0.1 with a port the system picks, and the certificate added
// to the client's default TLS configuration. Header-only so that any suite can include it.
//
//     HttpsTestServer https;
//     https.server().route("/v1/ping", [] { return QHttpServerResponse(QJsonObject {}); });
//     QVERIFY2(https.start(), qPrintable(https.errorString()));
//     request.url(https.url("/v1/ping"));

#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>
#include <QUrl>

class HttpsTestServer
{
public:
    QHttpServer &server() { return m_server; }

    // Add routes before or after; false with errorString() when anything fails. With trust set,
    // every later TLS connection of the process accepts the certificate.
    bool start(bool trust = true)
    {
        if (!makeCertificate())
            return false;
        m_server.sslSetup(m_certificate, m_key);
        m_port = m_server.listen(QHostAddress::LocalHost, 0);
        if (m_port == 0) {
            m_error = QStringLiteral("cannot listen on 127.0.0.1");
            return false;
        }
        if (trust) {
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            configuration.addCaCertificate(m_certificate);
            QSslConfiguration::setDefaultConfiguration(configuration);
        }
        return true;
    }

    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>", the form the deployment host overrides take.
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QUrl url(const QString &pathAndQuery) const
    {
        return QUrl(QStringLiteral("https://") + host() + pathAndQuery);
    }
    QSslCertificate certificate() const { return m_certificate; }
    QString errorString() const { return m_error; }

private:
    bool makeCertificate()
    {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary directory");
            return false;
        }
        const QString keyPath = m_dir.filePath(QStringLiteral("key.pem"));
        const QString certificatePath = m_dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath,
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
        if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
            || openssl.exitCode() != 0) {
            m_error = QStringLiteral("openssl failed: ") + openssl.errorString() + QLatin1Char(' ')
                + QString::fromLocal8Bit(openssl.readAllStandardError());
            if (openssl.state() != QProcess::NotRunning) {
                openssl.kill();
                openssl.waitForFinished(1000);
            }
            return false;
        }
        QFile keyFile(keyPath);
        QFile certificateFile(certificatePath);
        if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("cannot read the generated certificate");
            return false;
        }
        m_key = QSslKey(keyFile.readAll(), QSsl::Ec);
        m_certificate = QSslCertificate(certificateFile.readAll());
        if (m_key.isNull() || m_certificate.isNull()) {
            m_error = QStringLiteral("generated certificate or key does not load");
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QHttpServer m_server;
    QSslCertificate m_certificate;
    QSslKey m_key;
    quint16 m_port = 0;
    QString m_error;
};
