#pragma once

#include "clientprofile.h"
#include "testpanel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// The fixture of the suites that drive the client's handlers against a panel of their own: a
// private profile, the panel with the client pointed at it, faults and counters cleared before
// each case, and a fresh account whenever a case needs one. A suite derives from it instead of
// QObject (and lists this header among its sources, for moc); its own initTestCase() calls
// PanelSuite::initTestCase() first.
class PanelSuite : public QObject
{
    Q_OBJECT

protected:
    // What a handler reports once the panel has refused the session and its renewal.
    static inline const QString kAuthExpired
        = QStringLiteral("Authentication expired, please log in again");
    static inline const QString kPassword = QStringLiteral("correct-horse-1");

    explicit PanelSuite(const QString &organisation = QStringLiteral("qivro"))
        : m_organisation(organisation)
    { }

    // "account<n>@example.test" with kPassword; the panel's record of it in `created`.
    QString newAccount(qint64 balance = 0, qint64 giftAmount = 0, QJsonObject *created = nullptr)
    {
        const QString email = QStringLiteral("account%1@example.test").arg(++m_accounts);
        const QJsonObject user = m_panel.createUser(email, kPassword, balance, giftAmount);
        if (created)
            *created = user;
        return user.isEmpty() ? QString() : email;
    }
    // The JSON body the last request to `path` carried.
    QJsonObject sentBody(const QString &path)
    {
        return QJsonDocument::fromJson(m_panel.lastRequest(path)["body"].toString().toUtf8())
            .object();
    }
    // The first argument of every emission, as text.
    static QStringList texts(const QSignalSpy &spy)
    {
        QStringList out;
        for (const QList<QVariant> &signal : spy)
            out.append(signal.at(0).toString());
        return out;
    }

    TestPanel m_panel;
    QTemporaryDir m_settingsDir;

protected slots:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        useTestProfile(m_organisation, m_settingsDir.path());
        QVERIFY2(m_panel.start() && pointClientAt(m_panel), qPrintable(m_panel.lastError()));
    }
    void init() { QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError())); }

private:
    QString m_organisation;
    int m_accounts = 0;
};
