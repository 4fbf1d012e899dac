import QtQml

// Stand-in for the announcement handler: tests fill the two lists.
Recorder {
    property bool isLoading: false
    property var popups: []
    property var pages: []
    readonly property int popupAnnouncementCount: popups.length
    readonly property int pageAnnouncementCount: pages.length

    signal popupAnnouncementsChanged
    signal pageAnnouncementsChanged
    signal operationFailed(string error)

    onPopupsChanged: popupAnnouncementsChanged()
    onPagesChanged: pageAnnouncementsChanged()

    function reset() {
        isLoading = false
        popups = []
        pages = []
        clearCalls()
    }

    function fetchPopupAnnouncements() { record("fetchPopupAnnouncements", arguments); return true }
    function fetchPageAnnouncements() { record("fetchPageAnnouncements", arguments); return true }
    function getPopupAnnouncement(index) { return index >= 0 && index < popups.length ? popups[index] : ({}) }
    function getPageAnnouncement(index) { return index >= 0 && index < pages.length ? pages[index] : ({}) }
}
