#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QString>

// The engine's two entry points, resolved at run time from a shared library: by default the
// bundled qivroengine next to the executable, or the library that QIVRO_ENGINE_LIBRARY names.
// A library or entry point that cannot be had turns every call into an error text; the reason is
// logged once.
class EngineLibrary
{
public:
    // The library path is fixed here, from the environment as it is now.
    EngineLibrary();
    explicit EngineLibrary(const QString &path);

    EngineLibrary(const EngineLibrary &) = delete;
    EngineLibrary &operator=(const EngineLibrary &) = delete;

    static QString defaultPath();
    QString path() const { return m_library.fileName(); }

    // Empty once the engine runs; otherwise why it does not.
    QString start(const QByteArray &configPathUtf8);
    // Empty once the engine has stopped.
    QString stop();

private:
    using StartFunction = const char *(*)(const char *);
    using StopFunction = const char *(*)();

    bool resolve();

    QLibrary m_library;
    StartFunction m_start = nullptr;
    StopFunction m_stop = nullptr;
    bool m_tried = false;
    QString m_failure;
};
