#include <QCoreApplication>
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
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(appclient, Setup)

#include "tst_qml.moc"
