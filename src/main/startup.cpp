#include "startup.h"

#include "authhandler.h"
#include "deployment.h"

#include <QDebug>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlEngine>

namespace Startup {

QStringList registerBundledFonts(const QString &directory)
{
    QStringList stack;
    const QDir dir(directory);
    if (!dir.exists())
        return stack;

    const QFileInfoList files = dir.entryInfoList(
        {QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files, QDir::Name);
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

bool isTunRequested(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--tun-enabled"), Qt::CaseSensitive);
}

void registerBackendTypes()
{
    const QString reason = QStringLiteral("provided by the application as a context object");
    qmlRegisterUncreatableType<AuthHandler>("qivro.backend", 1, 0, "AuthHandler", reason);
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

} // namespace Startup
