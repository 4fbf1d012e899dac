#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class QIcon;
class QQmlApplicationEngine;

// The testable steps of the entry operation.
namespace Startup {

// Registers every *.ttf and *.otf in the directory, in name order, and returns the font families
// they bring, each once, in first-seen order. A file that cannot be registered is skipped.
QStringList registerBundledFonts(const QString &directory = QStringLiteral(":/fonts"),
    const QStringList &nameFilters = {QStringLiteral("*.ttf"), QStringLiteral("*.otf")});

// Makes the stack the application's default font; an empty stack leaves the platform's font.
void installFontStack(const QStringList &families);

// The square application icon, from the pictures drawn for each size (no SVG rendering at start).
QIcon applicationIcon();

// True when an argument is exactly "--tun-enabled".
bool isTunRequested(const QStringList &arguments);

// Makes the backend's enumerations known to QML by name, under "import qivro.backend"
// (AuthHandler.RegistrationState.CodeSent, ...). The UI module itself is sealed once loaded.
void registerBackendTypes();

// Once the application's names are set: the data folder and the INI settings file made private
// (older builds left them readable by everyone), and a settings file that cannot be read moved
// aside to "<file>.corrupt-<time>"; the stored session is then forgotten, so the user is signed
// out rather than half signed in.
void prepareProfile();

// The application facts handed to the UI as `appInfo`.
QVariantMap applicationInfo();

// The wiring after the application object: backend objects as context objects of the engine
// (the controller owned by `owner`), the database, the stored subscriptions and the UI module's
// window, in the program's logged order. False when the module yields no window.
bool loadClient(QQmlApplicationEngine &engine, QObject *owner, bool tunRequested);

// Second half of the elevated restart: once the version gate says the app may be used, turn TUN
// mode on and resume the recorded connection. Fires at most once; later notifications are ignored.
template <typename Gate, typename Service>
void connectTunResume(Gate *gate, Service *service)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(
        gate, &Gate::canUseAppChanged, service,
        [gate, service, done]() {
            if (*done || !gate->canUseApp())
                return;
            *done = true;
            service->setTunEnabled(true);
            service->resumePendingConnection();
        },
        Qt::QueuedConnection);
}

} // namespace Startup
