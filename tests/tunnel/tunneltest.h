// Shared pieces of the tunnel tests: a private profile with a stored subscription, a selection
// memory that records what it is told, a recorder of every notification of an object, and a
// capture of the process's log lines.
#pragma once

#include "config/configbuilder.h"
#include "database/databasehandler.h"
#include "service/service.h"
#include "subscription/selectionmemory.h"
#include "subscription/subscriptionhandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QList>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

// A private profile (its own data folder and database) for suites that drive the client's objects
// without real servers; add() stores a subscription of Shadowsocks nodes where nothing listens.
struct TestProfile
{
    bool open(const QString &name)
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("qivro-test"));
        QCoreApplication::setApplicationName(name);
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        // The program's own settings file too: a run that failed half-way (LAN sharing left on)
        // must not decide the next.
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
            QStringLiteral("qivro"))
            .clear();
        database = std::make_unique<DatabaseHandler>(QStringLiteral(":/sql/"), name);
        if (!database->initializeDatabase())
            return false;
        store = std::make_unique<SubscriptionHandler>(*database);
        return true;
    }
    bool add(const QString &url, const QList<QString> &tags)
    {
        QJsonArray nodes;
        for (const QString &tag : tags) {
            nodes.append(QJsonObject {{QStringLiteral("type"), QStringLiteral("shadowsocks")},
                {QStringLiteral("tag"), tag},
                {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
                {QStringLiteral("server_port"), 9},
                {QStringLiteral("method"), QStringLiteral("aes-256-gcm")},
                {QStringLiteral("password"), QStringLiteral("pw")}});
        }
        return store->addSubJson(
            url, buildConfig(nodes, tags, QString(), QString(), QString(), false));
    }

    std::unique_ptr<DatabaseHandler> database;
    std::unique_ptr<SubscriptionHandler> store;
    std::unique_ptr<service> tunnel; // for suites that keep one controller
};

class RecordingSelection : public SelectionMemory
{
public:
    void rememberTagSelection(const QString &subscriptionUrl, const QString &tag) override
    {
        calls.append(QStringLiteral("tag ") + subscriptionUrl + QLatin1Char(' ') + tag);
    }
    void rememberAutoSelection(const QString &subscriptionUrl) override
    {
        calls.append(QStringLiteral("auto ") + subscriptionUrl);
    }
    // Old builds' plain tag, or Auto: the two ends of what a subscription can remember.
    RememberedChoice rememberedChoice(
        const QString &subscriptionUrl, const QList<QString> &tags) override
    {
        calls.append(QStringLiteral("default ") + subscriptionUrl + QLatin1Char(' ')
            + QString::number(tags.size()));
        if (defaultIsAuto)
            return {};
        return {RememberedChoice::Kind::Node, defaultTag};
    }
    QString chooseDefaultTagForSubscription(
        const QString &subscriptionUrl, const QList<QString> &tags, bool *autoSelected) override
    {
        calls.append(QStringLiteral("default ") + subscriptionUrl + QLatin1Char(' ')
            + QString::number(tags.size()));
        if (autoSelected)
            *autoSelected = defaultIsAuto;
        return defaultTag;
    }

    QString defaultTag;
    bool defaultIsAuto = false;
    QStringList calls;
};

// Counts every signal an object emits from now on.
class SignalRecorder
{
public:
    explicit SignalRecorder(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                m_spies.emplace_back(std::make_unique<QSignalSpy>(object, method));
        }
    }
    QStringList emitted() const
    {
        QStringList names;
        for (const auto &spy : m_spies) {
            for (int i = 0; i < spy->count(); ++i)
                names.append(QString::fromLatin1(spy->signal()));
        }
        return names;
    }
    int count(const char *signalName) const
    {
        for (const auto &spy : m_spies) {
            if (spy->signal().startsWith(signalName))
                return int(spy->count());
        }
        return -1;
    }

private:
    std::vector<std::unique_ptr<QSignalSpy>> m_spies;
};

// Every readable property of an object, by name.
inline QVariantMap propertySnapshot(const QObject *object)
{
    QVariantMap values;
    const QMetaObject *meta = object->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        values.insert(QString::fromLatin1(property.name()), property.read(object));
    }
    return values;
}

// The log lines written while it lives; they still reach the previous handler.
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        previous() = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous()); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    static int count(const QString &text)
    {
        int found = 0;
        for (const QString &line : lines())
            found += line.contains(text) ? 1 : 0;
        return found;
    }
    // Lets a test mark a moment among the log lines.
    static void mark(const QString &text) { lines().append(text); }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        lines().append(message);
        if (previous())
            previous()(type, context, message);
    }
};
