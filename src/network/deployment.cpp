#include "network/deployment.h"

#include <QDebug>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

namespace {

QString environment(const char *name)
{
    return qEnvironmentVariable(name).trimmed();
}

// The override replaces only the host: anything with a scheme, path or credentials is a mistake
// that would silently send requests elsewhere, so it is refused.
QString hostOverride(const char *name, const QString &fallback)
{
    const QString value = environment(name);
    if (value.isEmpty())
        return fallback;
    const QUrl url(QStringLiteral("https://") + value, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || !url.userInfo().isEmpty()
        || url.hasQuery() || url.hasFragment()) {
        qWarning() << "[Deployment] Ignoring" << name << "- not a host name:" << value;
        return fallback;
    }
    return value;
}

} // namespace

namespace Deployment {

QString apiHost()
{
    return hostOverride("QIVRO_API_HOST", QStringLiteral(QIVRO_API_HOST));
}

QString webDomain()
{
    return hostOverride("QIVRO_WEB_DOMAIN", QStringLiteral(QIVRO_WEB_DOMAIN));
}

QString versionFileUrl()
{
    const QString value = environment("QIVRO_VERSION_FILE_URL");
    if (value.isEmpty())
        return QStringLiteral(QIVRO_VERSION_FILE_URL);
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        qWarning() << "[Deployment] Ignoring QIVRO_VERSION_FILE_URL - not an https address:"
                   << value;
        return QStringLiteral(QIVRO_VERSION_FILE_URL);
    }
    return value;
}

QString extraCaCertificateFile()
{
    return environment("QIVRO_EXTRA_CA_FILE");
}

bool trustExtraCaCertificate()
{
    const QString path = extraCaCertificateFile();
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "[Deployment] Cannot read QIVRO_EXTRA_CA_FILE" << path << file.errorString();
        return false;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll());
    if (certificates.isEmpty()) {
        qWarning() << "[Deployment] No PEM certificate in QIVRO_EXTRA_CA_FILE" << path;
        return false;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

} // namespace Deployment
