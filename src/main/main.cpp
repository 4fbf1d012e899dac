#include "announcementhandler.h"
#include "authhandler.h"
#include "databasehandler.h"
#include "deployment.h"
#include "service.h"
#include "startup.h"
#include "subscribehandler.h"
#include "subscriptionhandler.h"
#include "versionchecker.h"

#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlError>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

int main(int argc, char *argv[])
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    qDebug() << "[Main] Starting application";

    QGuiApplication app(argc, argv);
    qDebug() << "[Main] QGuiApplication created";

    Startup::installFontStack(Startup::registerBundledFonts());

    const QIcon icon(QStringLiteral(":/branding/logo.svg"));
    QGuiApplication::setWindowIcon(icon);

    QGuiApplication::setOrganizationName(QStringLiteral("qivro"));
    QGuiApplication::setApplicationName(QStringLiteral("qivro"));
    Deployment::trustExtraCaCertificate();

    const bool tunRequested = Startup::isTunRequested(QGuiApplication::arguments());

    qDebug() << "[Main] Creating QML engine";
    QQmlApplicationEngine engine;
    QObject::connect(
        &engine, &QQmlApplicationEngine::warnings, &engine,
        [](const QList<QQmlError> &warnings) {
            for (const QQmlError &error : warnings)
                qWarning() << "[QML Warning]" << error.toString();
        },
        Qt::DirectConnection);

    qDebug() << "[Main] Creating service";
    auto *tunnel = new service(&app);
    qDebug() << "[Main] Service created";

    qDebug() << "[Main] Setting context properties";
    Startup::registerBackendTypes();
    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("auth"), AuthHandler::getInstance());
    context->setContextProperty(QStringLiteral("service"), tunnel);
    context->setContextProperty(
        QStringLiteral("subscription"), &SubscriptionHandler::getInstance());
    context->setContextProperty(
        QStringLiteral("subscribeHandler"), SubscribeHandler::getInstance());
    context->setContextProperty(QStringLiteral("announcement"), AnnouncementHandler::getInstance());
    context->setContextProperty(QStringLiteral("versionChecker"), VersionChecker::getInstance());
    const QVariantMap appInfo = Startup::applicationInfo();
    context->setContextProperty(QStringLiteral("appInfo"), appInfo);
    qDebug() << "[Main] Context properties set";
    tunnel->setSelectionMemory(SubscribeHandler::getInstance());

    if (tunRequested)
        Startup::connectTunResume(VersionChecker::getInstance(), tunnel);

    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        []() {
            qCritical() << "[Main] QML object creation failed!";
            QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);

    qDebug() << "[Main] Initializing database";
    DatabaseHandler::getInstance().initializeDatabase();

    qDebug() << "[Main] Loading subscriptions from database";
    SubscriptionHandler::getInstance().loadFromDatabase();

    qDebug() << "[Main] Loading QML module 'appclient'";
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/appclient/Main.qml")));
    qDebug() << "[Main] QML module loaded, root objects:" << engine.rootObjects().size();

    if (engine.rootObjects().isEmpty()) {
        qCritical() << "[Main] No root objects created - QML failed to load";
        return -1;
    }

    qDebug() << "[Main] Entering event loop";
    return QGuiApplication::exec();
}
