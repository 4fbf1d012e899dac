#pragma once

#include "panelreply.h"

#include <QJsonObject>

class PanelClock;
class PanelConfig;
class PanelRequest;
class PanelStorage;

// What the panel tells everyone: announcements, the site configuration and the version file.
class News
{
public:
    News(PanelStorage &storage, PanelConfig &config, PanelClock &clock);

    PanelReply announcements(const PanelRequest &request);
    PanelReply siteConfig();
    // The version file is a plain JSON document, not an envelope. Without a configured
    // "update_url" it points at the panel's own download page under `baseUrl`.
    PanelReply versionFile(const QString &baseUrl);

    qint64 addAnnouncement(const QJsonObject &spec, QString *error);

private:
    PanelStorage &m_storage;
    PanelConfig &m_config;
    PanelClock &m_clock;
};
