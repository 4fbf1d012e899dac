#pragma once

#include "network/api.h"

#include <QObject>
#include <QVariantMap>

#include <vector>

class AuthHandler;

// The panel's announcements: the pop-up list that the main window shows after sign-in (fetched
// by itself on every sign-in and restored session) and the list of the announcement page,
// pinned ones first. Both lists hold only announcements the panel marks as shown.
class AnnouncementHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(
        int popupAnnouncementCount READ popupAnnouncementCount NOTIFY popupAnnouncementsChanged)
    Q_PROPERTY(int pageAnnouncementCount READ pageAnnouncementCount NOTIFY pageAnnouncementsChanged)

public:
    // Tests build their own with their own session; the program uses getInstance().
    explicit AnnouncementHandler(AuthHandler *auth, QObject *parent = nullptr);
    static AnnouncementHandler *getInstance();

    bool isLoading() const { return m_isLoading; }
    int popupAnnouncementCount() const { return int(m_popupAnnouncements.size()); }
    int pageAnnouncementCount() const { return int(m_pageAnnouncements.size()); }

    Q_INVOKABLE bool fetchPopupAnnouncements(int page = 1, int size = 10);
    Q_INVOKABLE bool fetchPageAnnouncements(int page = 1, int size = 50);
    // Empty maps outside the lists.
    Q_INVOKABLE QVariantMap getPopupAnnouncement(int index) const;
    Q_INVOKABLE QVariantMap getPageAnnouncement(int index) const;

signals:
    void isLoadingChanged();
    void popupAnnouncementsChanged();
    void pageAnnouncementsChanged();
    void operationFailed(QString error);

private:
    // Replaces target with the shown (and, for popupOnly, pop-up) announcements of one page. A
    // second call while one waits for its reply returns false at once and reports nothing.
    bool fetchVisibleAnnouncements(
        int page, int size, bool popupOnly, std::vector<API::Announcement> &target);
    void fetchPopupsLater();
    void clearLists();
    void setLoading(bool loading);

    AuthHandler *m_auth = nullptr;
    bool m_isLoading = false;
    std::vector<API::Announcement> m_popupAnnouncements;
    std::vector<API::Announcement> m_pageAnnouncements;
};
