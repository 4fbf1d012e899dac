#include "servicestandin.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

// Runs the tst_*.qml files of this folder against the real UI module.
class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Settings of the UI need an identity, as in the program.
        QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("qivro.example"));
        QCoreApplication::setApplicationName(QStringLiteral("qivro"));
        QSettings().clear();
        for (const char *scheme : {"http", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openInBrowser");
    }

    void cleanupTestCase()
    {
        for (const char *scheme : {"http", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    // The views read the program's context objects by name; each stand-in has the same members
    // as what it stands in for, and records what the views call.
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        ServiceStandIn::installAll(engine, QStringLiteral(QUICK_TEST_SOURCE_DIR "/backend"));
    }

    // The system browser: views that open a web address must not start one on the test machine.
    // That the payment page reaches it is the store road's step (tst_uistoreendtoend).
    void openInBrowser(const QUrl &) { }
};

QUICK_TEST_MAIN_WITH_SETUP(appclient, Setup)

#include "tst_qml.moc"
