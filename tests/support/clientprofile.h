#pragma once

#include "network/apiendpoints.h"
#include "network/deployment.h"
#include "testpanel.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

// Client-side set-up shared by the suites that run the client's handlers against a panel.
// Header-only so the support library itself stays free of the client.

// A private profile: test-mode paths and INI settings under `settingsDir`.
inline void useTestProfile(const QString &organization, const QString &settingsDir)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir);
}

// Points the client's deployment values at a running panel and trusts its certificate.
inline bool pointClientAt(const TestPanel &panel)
{
    panel.exportClientEnvironment();
    ApiEndpoints::reload();
    return Deployment::trustExtraCaCertificate();
}
