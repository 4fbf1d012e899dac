#pragma once

// The demo world on loopback for end-to-end suites: the development panel seeded with the demo
// account, and one ss-server per Shadowsocks node its subscription lists. Header-only, for suites
// that link both the panel support and the engine's test helpers.
#include "support.h"
#include "testpanel.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <map>
#include <memory>

class DemoNodes
{
public:
    static constexpr const char *kEmail = "demo@qivro.example";
    static constexpr const char *kPassword = "demo1234";

    static bool available() { return support::haveProgram("ss-server"); }

    // Starts the panel and the servers; false (with lastError()) when any of them is missing.
    // serverArguments go to every ss-server.
    bool start(const std::vector<std::string> &serverArguments = {})
    {
        const quint16 base = freePortRun(3);
        if (base == 0)
            return fail(QStringLiteral("no three free ports in a row"));
        if (!panel.start({QStringLiteral("--seed"), QStringLiteral("demo"),
                QStringLiteral("--ss-base-port"), QString::number(base)}))
            return fail(panel.lastError());
        QFile list(QDir(panel.dataDir()).filePath(QStringLiteral("ss-servers.txt")));
        if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(QStringLiteral("the panel wrote no ss-servers.txt"));
        while (!list.atEnd()) {
            const QList<QByteArray> fields = list.readLine().simplified().split(' ');
            if (fields.size() != 3)
                continue;
            const int port = fields.at(0).toInt();
            std::vector<std::string> argv
                = {"ss-server", "-s", "127.0.0.1", "-p", fields.at(0).toStdString(), "-k",
                    fields.at(2).toStdString(), "-m", fields.at(1).toStdString()};
            argv.insert(argv.end(), serverArguments.begin(), serverArguments.end());
            m_servers[port] = std::make_unique<support::Process>(argv);
            if (!support::waitForTcpPort(std::uint16_t(port)))
                return fail(QStringLiteral("ss-server on %1 did not start").arg(port));
        }
        return !m_servers.empty() || fail(QStringLiteral("no Shadowsocks node in the demo"));
    }

    std::size_t serverCount() const { return m_servers.size(); }
    // Stops the server behind one node, so that a route through it breaks.
    void stopServer(int port) { m_servers.erase(port); }
    QString lastError() const { return m_error; }

    TestPanel panel;

private:
    // The first of `count` ports in a row that are free now.
    static quint16 freePortRun(int count)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const quint16 first = support::freeTcpPort();
            bool free = first > 0 && first < 65500;
            for (int i = 1; free && i < count; ++i) {
                QTcpServer probe;
                free = probe.listen(QHostAddress::LocalHost, quint16(first + i));
            }
            if (free)
                return first;
        }
        return 0;
    }

    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    std::map<int, std::unique_ptr<support::Process>> m_servers; // by port
    QString m_error;
};
