#include "startup.h"

#include "announcementhandler.h"
#include "authhandler.h"
#include "autostart.h"
#include "cjkfonts.h"
#include "databasehandler.h"
#include "deployment.h"
#include "desktopintegration.h"
#include "latencytester.h"
#include "privatefiles.h"
#include "service.h"
#include "storehandler.h"
#include "subscribehandler.h"
#include "subscriptionhandler.h"
#include "tickethandler.h"
#include "trafficmonitor.h"
#include "versionchecker.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace Startup {

QStringList registerBundledFonts(const QString &directory, const QStringList &nameFilters)
{
    QStringList stack;
    const QDir dir(directory);
    if (!dir.exists())
        return stack;

    const QFileInfoList files = dir.entryInfoList(nameFilters, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const int id = QFontDatabase::addApplicationFont(file.absoluteFilePath());
        if (id < 0) {
            qWarning() << "[Main] Failed to register bundled font" << file.fileName();
            continue;
        }
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        for (const QString &family : families) {
            if (!stack.contains(family))
                stack.append(family);
        }
    }
    return stack;
}

void installFontStack(const QStringList &families)
{
    if (families.isEmpty())
        return;
    QFont font;
    font.setFamilies(families);
    QGuiApplication::setFont(font);
    qDebug() << "[Main] Bundled font stack:" << families;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(QStringLiteral(":/branding/appicon-%1.png").arg(size), "png");
        // Told, not probed: probing a picture's format first loads every image format plugin.
        reader.setAutoDetectImageFormat(false);
        const QImage picture = reader.read();
        if (!picture.isNull())
            icon.addPixmap(QPixmap::fromImage(picture));
    }
    return icon;
}

bool isTunRequested(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--tun-enabled"), Qt::CaseSensitive);
}

void registerBackendTypes()
{
    const QString reason = QStringLiteral("provided by the application as a context object");
    qmlRegisterUncreatableType<AuthHandler>("qivro.backend", 1, 0, "AuthHandler", reason);
}

void prepareProfile()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    PrivateFiles::makeDirectory(data);
    PrivateFiles::restrictFile(data + QStringLiteral("/config.json"));

    bool unreadable = false;
    QString file;
    {
        const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
            QCoreApplication::organizationName(), QCoreApplication::applicationName());
        file = settings.fileName();
        unreadable = settings.status() == QSettings::FormatError;
    }
    PrivateFiles::makeDirectory(QFileInfo(file).absolutePath());
    if (unreadable) {
        // Kept before anything writes to it: a write would save only what could be parsed.
        const QString kept = PrivateFiles::quarantine(file);
        qWarning().noquote() << "[Main] Settings file could not be read; moved to" << kept
                             << "and signed out";
    }
    PrivateFiles::ensureFile(file);
    if (unreadable)
        AuthHandler::getInstance()->clearCredentials();
}

QVariantMap applicationInfo()
{
    return {
        {QStringLiteral("name"), QStringLiteral("qivro")},
        {QStringLiteral("version"), QStringLiteral(QIVRO_VERSION)},
        {QStringLiteral("versionCode"), 900},
        {QStringLiteral("organization"), QStringLiteral("qivro")},
        {QStringLiteral("domain"), Deployment::webDomain()},
        {QStringLiteral("package"), QStringLiteral("com.qivro.app")},
        {QStringLiteral("versionFileUrl"), Deployment::versionFileUrl()},
    };
}

bool loadClient(QQmlApplicationEngine &engine, QObject *owner, bool tunRequested)
{
    QObject::connect(
        &engine, &QQmlApplicationEngine::warnings, &engine,
        [](const QList<QQmlError> &warnings) {
            for (const QQmlError &error : warnings)
                qWarning() << "[QML Warning]" << error.toString();
        },
        Qt::DirectConnection);

    qDebug() << "[Main] Creating service";
    auto *tunnel = new service(owner);
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
    context->setContextProperty(QStringLiteral("store"), StoreHandler::getInstance());
    context->setContextProperty(QStringLiteral("ticket"), TicketHandler::getInstance());
    context->setContextProperty(QStringLiteral("announcement"), AnnouncementHandler::getInstance());
    context->setContextProperty(QStringLiteral("versionChecker"), VersionChecker::getInstance());
    context->setContextProperty(QStringLiteral("latency"),
        new LatencyTester(*tunnel, SubscriptionHandler::getInstance(), owner));
    context->setContextProperty(QStringLiteral("traffic"), new TrafficMonitor(*tunnel, owner));
    const QVariantMap appInfo = Startup::applicationInfo();
    context->setContextProperty(QStringLiteral("appInfo"), appInfo);
    qDebug() << "[Main] Context properties set";
    tunnel->setSelectionMemory(SubscribeHandler::getInstance());
    auto *desktop = new DesktopIntegration(*tunnel, owner);
    desktop->publish(context);

    if (tunRequested)
        Startup::connectTunResume(VersionChecker::getInstance(), tunnel);

    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, owner,
        []() {
            qCritical() << "[Main] QML object creation failed!";
            QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);

    qDebug() << "[Main] Initializing database";
    DatabaseHandler::getInstance().initializeDatabase();

    qDebug() << "[Main] Loading subscriptions from database";
    SubscriptionHandler::getInstance().loadFromDatabase();

    // The Chinese faces before the first frame only when the UI speaks Chinese; otherwise once
    // the window is up, for the Chinese an English window still shows.
    auto *cjkFonts = new CjkFonts(owner);
    const QString language
        = QSettings().value(QStringLiteral("Language/language"), QStringLiteral("en")).toString();
    const bool chinese = language.startsWith(QLatin1String("zh"));
    if (chinese)
        cjkFonts->useLanguage(language);

    qDebug() << "[Main] Loading QML module 'appclient'";
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/appclient/Main.qml")));
    qDebug() << "[Main] QML module loaded, root objects:" << engine.rootObjects().size();

    if (engine.rootObjects().isEmpty()) {
        qCritical() << "[Main] No root objects created - QML failed to load";
        return false;
    }
    // For the start-up benchmark, which times the client against a minimal window. Connected
    // before the work that waits for the first frame, so that work does not delay the line.
    if (qEnvironmentVariableIsSet("QIVRO_FIRST_FRAME_PROBE")) {
        if (auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst())) {
            QObject::connect(
                window, &QQuickWindow::frameSwapped, owner,
                [] { qDebug() << "[Main] First frame"; }, Qt::SingleShotConnection);
        }
    }
    cjkFonts->follow(
        engine.singletonInstance<QObject *>(qmlTypeId("appclient", 1, 0, "Translations")));
    if (!chinese) {
        QObject::connect(engine.rootObjects().constFirst(), SIGNAL(frameSwapped()), cjkFonts,
            SLOT(sync()), Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    }
    desktop->attachWindow(qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst()),
        QCoreApplication::arguments().contains(Autostart::kArgument));
    return true;
}

} // namespace Startup
