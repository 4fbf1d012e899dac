import QtQml

// Stand-in for the announcement handler: tests fill the two lists.
Recorder {
    property bool isLoading: false
    property var popups: []
    property var pages: []
    // Plain properties set before the notification, as the real handler has its counts right
    // when it reports a change.
    property int popupAnnouncementCount: 0
    property int pageAnnouncementCount: 0

    signal popupAnnouncementsChanged
    signal pageAnnouncementsChanged
    signal operationFailed(string error)

    onPopupsChanged: {
        popupAnnouncementCount = popups.length
        popupAnnouncementsChanged()
    }
    onPagesChanged: {
        pageAnnouncementCount = pages.length
        pageAnnouncementsChanged()
    }

    function fetchPopupAnnouncements(page, size) { record("fetchPopupAnnouncements", arguments); return true }
    function fetchPageAnnouncements(page, size) { record("fetchPageAnnouncements", arguments); return true }
    function getPopupAnnouncement(index) { return index >= 0 && index < popups.length ? popups[index] : ({}) }
    function getPageAnnouncement(index) { return index >= 0 && index < pages.length ? pages[index] : ({}) }
}
