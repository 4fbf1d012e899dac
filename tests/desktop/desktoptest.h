// The tunnel of the desktop suites: a private profile, one stored subscription with nodes in two
// countries, and the controller on the engine stand-in.
#pragma once

#include "config/configbuilder.h"
#include "database/databasehandler.h"
#include "service/service.h"
#include "subscription/subscriptionhandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QStandardPaths>

#include <memory>

class DesktopTunnel
{
public:
    static inline const QString kSubscription
        = QStringLiteral("https://panel.test/api/subscribe?token=desktop");

    bool start(const QString &name)
    {
        qputenv("QIVRO_ENGINE_LIBRARY", QIVRO_STANDIN_ENGINE);
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("qivro-test"));
        QCoreApplication::setApplicationName(name);
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        database = std::make_unique<DatabaseHandler>(QStringLiteral(":/sql/"), name);
        if (!database->initializeDatabase())
            return false;
        store = std::make_unique<SubscriptionHandler>(*database);
        QJsonArray nodes;
        const QList<QString> tags {
            QStringLiteral("HK-01"), QStringLiteral("JP-01"), QStringLiteral("JP-02")};
        for (const QString &tag : tags) {
            nodes.append(QJsonObject {{QStringLiteral("type"), QStringLiteral("shadowsocks")},
                {QStringLiteral("tag"), tag},
                {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
                {QStringLiteral("server_port"), 9}, {QStringLiteral("method"), "aes-256-gcm"},
                {QStringLiteral("password"), QStringLiteral("pw")}});
        }
        if (!store->addSubJson(
                kSubscription, buildConfig(nodes, tags, QString(), QString(), QString(), false)))
            return false;
        tunnel = std::make_unique<service>(*store, nullptr);
        return true;
    }

    std::unique_ptr<DatabaseHandler> database;
    std::unique_ptr<SubscriptionHandler> store;
    std::unique_ptr<service> tunnel;
};
