// Shared pieces of the tunnel tests: a selection memory that records what it is told, a recorder
// of every notification of an object, and a capture of the process's log lines.
#pragma once

#include "subscription/selectionmemory.h"

#include <QList>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

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
