#include "desktop/logbuffer.h"
#include "main/cjkfonts.h"
#include "main/startup.h"
#include "network/deployment.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

int main(int argc, char *argv[])
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    LogBuffer::install();
    qDebug() << "[Main] Starting application";

    // QApplication rather than QGuiApplication: the tray icon's menu is a widget on Linux.
    QApplication app(argc, argv);
    qDebug() << "[Main] QGuiApplication created";

    // Latin faces now; the Chinese ones are registered as the UI's language needs them.
    Startup::installFontStack(
        Startup::registerBundledFonts(QStringLiteral(":/fonts"), {QStringLiteral("Inter-*.ttf")})
        + CjkFonts::families());

    const QIcon icon = Startup::applicationIcon();
    QGuiApplication::setWindowIcon(icon);

    QGuiApplication::setOrganizationName(QStringLiteral("qivro"));
    QGuiApplication::setApplicationName(QStringLiteral("qivro"));
    Startup::prepareProfile();
    Deployment::trustExtraCaCertificate();

    const bool tunRequested = Startup::isTunRequested(QGuiApplication::arguments());

    qDebug() << "[Main] Creating QML engine";
    QQmlApplicationEngine engine;
    if (!Startup::loadClient(engine, &app, tunRequested))
        return -1;

    qDebug() << "[Main] Entering event loop";
    return QGuiApplication::exec();
}
