#include "servicestandin.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

// Stands in for the system browser: views that open a web address leave it here for the tests
// (as context object "browser") instead of starting a browser on the test machine.
class BrowserStandIn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList openedUrls MEMBER m_openedUrls NOTIFY openedUrlsChanged)

public:
    using QObject::QObject;
    Q_INVOKABLE void clear() { setProperty("openedUrls", QStringList()); }

public slots:
    void open(const QUrl &url)
    {
        setProperty("openedUrls", m_openedUrls + QStringList(url.toString()));
    }

signals:
    void openedUrlsChanged();

private:
    QStringList m_openedUrls;
};

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
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_browser, "open");
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
        engine->rootContext()->setContextProperty(QStringLiteral("browser"), &m_browser);
    }

private:
    BrowserStandIn m_browser;
};

QUICK_TEST_MAIN_WITH_SETUP(appclient, Setup)

#include "tst_qml.moc"
