#pragma once

#include "service/enginelibrary.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The engine started only to measure nodes while no tunnel runs. The library holds one engine per
// process, so this uses the same start and stop as the tunnel and must be stopped before the
// tunnel starts. Its configuration has the nodes and the control API on a free loopback port and
// no inbound: nothing listens on the proxy port and no traffic of the machine goes through it.
class ProbeEngine
{
public:
    ProbeEngine();
    ~ProbeEngine();

    ProbeEngine(const ProbeEngine &) = delete;
    ProbeEngine &operator=(const ProbeEngine &) = delete;

    // False, with the engine's reason in *error, when it does not run (for example because the
    // tunnel holds the engine).
    bool start(const QJsonArray &outbounds, QString *error = nullptr);
    void stop();
    bool running() const { return m_running; }

    // "127.0.0.1:<port>" and the secret of the running probe's control API.
    QString controller() const { return m_controller; }
    QString secret() const { return m_secret; }

    static QJsonObject probeConfig(
        const QJsonArray &outbounds, const QString &controller, const QString &secret);

private:
    EngineLibrary m_engine;
    QString m_configFile;
    QString m_controller;
    QString m_secret;
    bool m_running = false;
};
