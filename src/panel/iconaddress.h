#pragma once

#include <QString>

// Where a payment method's icon is loaded from. Panels send icons in many forms: full addresses,
// scheme-relative ones, paths on the admin site's asset folder, paths on the product's web site,
// or bare file names; this turns each into one secure address. Hosts are deployment values
// without a scheme.
class IconAddress
{
public:
    IconAddress(const QString &appDomainHost, const QString &apiHost);

    // Empty for an empty (or blank) icon.
    QString resolve(const QString &icon) const;

private:
    QString m_appDomainHost;
    QString m_apiHost;
    QString m_adminAssetHost;
    QString m_adminAssetBaseUrl;
    QString m_domain;
    QString m_brand;
};
