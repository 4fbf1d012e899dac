#pragma once

#include <QJsonArray>
#include <QString>

class PanelClock;
class PanelStorage;

// The development mailbox: verification mails are kept in the database for tests (through the
// admin API) and printed to the log for people trying the panel by hand.
class Mailbox
{
public:
    Mailbox(PanelStorage &storage, PanelClock &clock);

    void deliverCode(const QString &email, int type, const QString &code);
    // The most recent code sent to the address for the purpose, or an empty string.
    QString latestCode(const QString &email, int type);
    // Every mail to the address (all mail when empty), newest first.
    QJsonArray messages(const QString &email);

private:
    PanelStorage &m_storage;
    PanelClock &m_clock;
};
