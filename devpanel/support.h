#pragma once

#include "panelreply.h"

#include <QJsonObject>
#include <QVariantMap>

class PanelClock;
class PanelConfig;
class PanelRequest;
class PanelStorage;

// Support tickets and their replies.
class Support
{
public:
    enum Status
    {
        Waiting = 1,
        Answered = 2,
        Closed = 4
    };

    Support(PanelStorage &storage, PanelConfig &config, PanelClock &clock);

    PanelReply list(qint64 userId, const PanelRequest &request);
    PanelReply detail(qint64 userId, const PanelRequest &request);
    PanelReply create(qint64 userId, const QByteArray &body);
    PanelReply follow(qint64 userId, const QByteArray &body);
    PanelReply update(qint64 userId, const QByteArray &body);

    // A reply from the support staff; the ticket then waits for the user. Panels differ in how
    // they name the staff side, so the sender can be chosen.
    QString staffReply(
        qint64 ticketId, const QString &content, const QString &sender = QStringLiteral("Admin"));

private:
    QJsonObject ticketJson(const QVariantMap &row, bool withFollows);
    QJsonObject followJson(const QVariantMap &row) const;
    qint64 addFollow(qint64 ticketId, const QString &sender, int type, const QString &content);

    PanelStorage &m_storage;
    PanelConfig &m_config;
    PanelClock &m_clock;
};
