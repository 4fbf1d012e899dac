#include "panel/iconaddress.h"

#include <QUrl>

IconAddress::IconAddress(const QString &appDomainHost, const QString &apiHost)
    : m_appDomainHost(appDomainHost)
    , m_apiHost(apiHost)
    , m_adminAssetHost(QStringLiteral("admin.") + apiHost)
    , m_adminAssetBaseUrl(QStringLiteral("https://admin.") + apiHost)
    , m_domain(QStringLiteral("https://") + appDomainHost)
{
    // Admin uploads are sometimes sent prefixed with the product's short name ("brand/x.png").
    const qsizetype dot = appDomainHost.indexOf(QLatin1Char('.'));
    m_brand = dot > 0 ? appDomainHost.left(dot) : appDomainHost;
}

QString IconAddress::resolve(const QString &rawIcon) const
{
    const QString icon = rawIcon.trimmed();
    if (icon.isEmpty())
        return QString();
    if (icon.startsWith(QLatin1String("//")))
        return QStringLiteral("https:") + icon;
    const QUrl url(icon);
    if (url.isValid() && !url.scheme().isEmpty())
        return url.toString();
    if (icon.startsWith(QLatin1String("assets/")))
        return m_adminAssetBaseUrl + QLatin1Char('/') + icon;
    const QString brandPrefix = m_brand + QLatin1Char('/');
    if (icon.startsWith(brandPrefix, Qt::CaseInsensitive))
        return m_adminAssetBaseUrl + QLatin1Char('/') + icon.mid(brandPrefix.size());
    if (icon.startsWith(m_adminAssetHost + QLatin1Char('/'), Qt::CaseInsensitive))
        return QStringLiteral("https://") + icon;
    if (icon.startsWith(QLatin1String("/assets/")))
        return m_adminAssetBaseUrl + icon;
    if (icon.startsWith(QLatin1Char('/')))
        return m_domain + icon;
    if (icon.startsWith(m_appDomainHost + QLatin1Char('/'), Qt::CaseInsensitive)
        || icon.startsWith(m_apiHost + QLatin1Char('/'), Qt::CaseInsensitive))
        return QStringLiteral("https://") + icon;
    return m_domain + QLatin1Char('/') + icon;
}
