#include "panel/announcementhandler.h"

#include "network/apiendpoints.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "panel/authhandler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

QVariantMap announcementToMap(const API::Announcement &announcement)
{
    return {{QStringLiteral("id"), announcement.id}, {QStringLiteral("title"), announcement.title},
        {QStringLiteral("content"), announcement.content},
        {QStringLiteral("show"), announcement.show},
        {QStringLiteral("pinned"), announcement.pinned},
        {QStringLiteral("popup"), announcement.popup},
        {QStringLiteral("created_at"), double(announcement.created_at)},
        {QStringLiteral("updated_at"), double(announcement.updated_at)}};
}

QVariantMap entryAt(const std::vector<API::Announcement> &list, int index)
{
    if (index < 0 || std::size_t(index) >= list.size())
        return {};
    return announcementToMap(list[std::size_t(index)]);
}

} // namespace

AnnouncementHandler::AnnouncementHandler(AuthHandler *auth, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
{
    connect(m_auth, &AuthHandler::loginSucceeded, this, &AnnouncementHandler::fetchPopupsLater);
    connect(m_auth, &AuthHandler::sessionRestored, this, &AnnouncementHandler::fetchPopupsLater);
    connect(m_auth, &AuthHandler::isLoggedInChanged, this, &AnnouncementHandler::clearLists);
}

AnnouncementHandler *AnnouncementHandler::getInstance()
{
    // Never destroyed: the UI holds it until the process ends.
    static AnnouncementHandler *const instance
        = new AnnouncementHandler(AuthHandler::getInstance());
    return instance;
}

bool AnnouncementHandler::fetchPopupAnnouncements(int page, int size)
{
    const bool fetched = fetchVisibleAnnouncements(page, size, true, m_popupAnnouncements);
    if (fetched)
        emit popupAnnouncementsChanged();
    return fetched;
}

bool AnnouncementHandler::fetchPageAnnouncements(int page, int size)
{
    const bool fetched = fetchVisibleAnnouncements(page, size, false, m_pageAnnouncements);
    if (fetched) {
        std::stable_sort(m_pageAnnouncements.begin(), m_pageAnnouncements.end(),
            [](const API::Announcement &a, const API::Announcement &b) {
                return a.pinned && !b.pinned;
            });
        emit pageAnnouncementsChanged();
    }
    return fetched;
}

QVariantMap AnnouncementHandler::getPopupAnnouncement(int index) const
{
    return entryAt(m_popupAnnouncements, index);
}

QVariantMap AnnouncementHandler::getPageAnnouncement(int index) const
{
    return entryAt(m_pageAnnouncements, index);
}

bool AnnouncementHandler::fetchVisibleAnnouncements(
    int page, int size, bool popupOnly, std::vector<API::Announcement> &target)
{
    if (!m_auth->isLoggedIn()) {
        emit operationFailed(QStringLiteral("Not logged in"));
        return false;
    }
    if (m_isLoading)
        return false;
    setLoading(true);

    QUrlQuery query;
    query.addQueryItem(QStringLiteral("page"), QString::number(page));
    query.addQueryItem(QStringLiteral("size"), QString::number(size));
    if (popupOnly)
        query.addQueryItem(QStringLiteral("popup"), QStringLiteral("true"));
    QUrl url(ApiEndpoints::Announcement::List);
    url.setQuery(query);

    QJsonObject reply;
    try {
        reply = NetworkHandler::getDirectInstance()
                    ->request()
                    .url(url)
                    .header("Authorization", m_auth->authToken().toUtf8())
                    .get()
                    .object();
    } catch (const NetworkError &error) {
        setLoading(false);
        emit operationFailed(error.userMessage());
        return false;
    }

    const QString msg = reply.value(QStringLiteral("msg")).toString();
    if (msg != API::SuccessMsg) {
        setLoading(false);
        emit operationFailed(msg.isEmpty() ? QStringLiteral("Failed to fetch announcements") : msg);
        return false;
    }
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    const auto announcements = API::arrayFromJson<API::Announcement>(
        data.value(QStringLiteral("announcements")).toArray());
    target.clear();
    for (const API::Announcement &announcement : announcements) {
        if (announcement.show && (!popupOnly || announcement.popup))
            target.push_back(announcement);
    }
    setLoading(false);
    return true;
}

void AnnouncementHandler::fetchPopupsLater()
{
    // After the current event, so that everything else reacting to the sign-in runs first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (fetchVisibleAnnouncements(1, 10, true, m_popupAnnouncements))
                emit popupAnnouncementsChanged();
        },
        Qt::QueuedConnection);
}

void AnnouncementHandler::clearLists()
{
    const bool hadPopups = !m_popupAnnouncements.empty();
    const bool hadPage = !m_pageAnnouncements.empty();
    m_popupAnnouncements.clear();
    m_pageAnnouncements.clear();
    if (hadPopups)
        emit popupAnnouncementsChanged();
    if (hadPage)
        emit pageAnnouncementsChanged();
}

void AnnouncementHandler::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}
