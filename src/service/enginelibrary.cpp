#include "service/enginelibrary.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

EngineLibrary::EngineLibrary()
    : EngineLibrary(defaultPath())
{ }

EngineLibrary::EngineLibrary(const QString &path)
    : m_library(path)
{ }

QString EngineLibrary::defaultPath()
{
    const QString configured = qEnvironmentVariable("QIVRO_ENGINE_LIBRARY");
    if (!configured.isEmpty())
        return configured;
    // QLibrary adds the platform's prefix and suffix: qivroengine.dll, libqivroengine.so.
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qivroengine"));
}

bool EngineLibrary::resolve()
{
    if (m_tried)
        return m_failure.isEmpty();
    m_tried = true;
    if (!m_library.load()) {
        m_failure = QStringLiteral("cannot load the engine library: ") + m_library.errorString();
    } else {
        m_start = reinterpret_cast<StartFunction>(m_library.resolve("start"));
        m_stop = reinterpret_cast<StopFunction>(m_library.resolve("stop"));
        if (!m_start || !m_stop)
            m_failure = QStringLiteral("the engine library lacks its entry points: ")
                + m_library.errorString();
    }
    if (!m_failure.isEmpty())
        qWarning().noquote() << "[Service][Engine]:" << m_failure;
    // The engine's threads may outlive this object; the library stays mapped until exit.
    return m_failure.isEmpty();
}

QString EngineLibrary::start(const QByteArray &configPathUtf8)
{
    if (!resolve())
        return m_failure;
    const char *result = m_start(configPathUtf8.constData());
    return result ? QString::fromUtf8(result) : QString();
}

QString EngineLibrary::stop()
{
    if (!resolve())
        return m_failure;
    const char *result = m_stop();
    return result ? QString::fromUtf8(result) : QString();
}
