#pragma once

#include <QString>

// Where this build finds its panel. Each value comes from the build configuration and can be
// replaced at run time through the environment, for staging panels and tests.
namespace Deployment {

// Host (optionally with ":port") of the panel API, no scheme. Override: QIVRO_API_HOST.
QString apiHost();

// The product's web domain, no scheme. Override: QIVRO_WEB_DOMAIN.
QString webDomain();

// Secure address of the remote version file. Override: QIVRO_VERSION_FILE_URL.
QString versionFileUrl();

// PEM file named by QIVRO_EXTRA_CA_FILE, or empty.
QString extraCaCertificateFile();

// Adds the certificates of extraCaCertificateFile() to the default TLS configuration, beside the
// system store. True when nothing is configured or everything was added.
bool trustExtraCaCertificate();

} // namespace Deployment
