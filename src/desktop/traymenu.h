#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QuickConnect;
class service;

// What the tray icon's menu offers, kept apart from the tray so that it can be tested where no
// tray runs: the connection state, Connect or Disconnect, Auto and the countries of the selected
// subscription, Show and Quit. The UI hands over its texts in the chosen language.
class TrayMenu : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantMap texts READ texts WRITE setTexts NOTIFY changed)

public:
    struct Entry
    {
        // "state", "toggle", "auto", "country:<cluster>", "show", "quit"; empty for a separator.
        QString action;
        QString text;
        bool enabled = true;
        bool checkable = false;
        bool checked = false;
    };

    TrayMenu(service &tunnel, QuickConnect &quick, QObject *parent = nullptr);

    QVariantMap texts() const { return m_texts; }
    void setTexts(const QVariantMap &texts);

    QList<Entry> entries() const;
    QString toolTip() const;

    // Runs an entry's action; unknown actions are ignored.
    Q_INVOKABLE void trigger(const QString &action);

signals:
    void changed();
    void showRequested();
    void quitRequested();

private:
    QString text(const char *key, const QString &fallback) const;
    void connectOrShow();

    service &m_tunnel;
    QuickConnect &m_quick;
    QVariantMap m_texts;
};
