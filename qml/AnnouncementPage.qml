pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The announcement section: the titles of the panel's announcements in one card, pinned ones
// first. A click hands the announcement to the window, which shows it in full.
Item {
    id: root

    property bool active: false
    property bool pendingPageRefresh: false
    property string errorMessage: ""
    property var items: []
    // A refresh refused because another announcement request was running; it runs once that
    // request is over.
    property bool retryWhenIdle: false

    readonly property bool showingPageLoading: root.pendingPageRefresh || announcement.isLoading

    signal announcementSelected(var item)

    // A blank title still needs a name in the list: its place in it.
    function rowTitle(item, index) {
        const title = item && item.title !== undefined && item.title !== null ? String(item.title).trim() : ""
        return title !== "" ? title : Translations.t("announcement") + " " + (index + 1)
    }

    function rebuildList() {
        const list = []
        for (let i = 0; i < announcement.pageAnnouncementCount; ++i)
            list.push(announcement.getPageAnnouncement(i))
        root.items = list
    }

    function refreshAnnouncements() {
        root.pendingPageRefresh = false
        root.errorMessage = ""
        if (!auth.isLoggedIn)
            return
        root.retryWhenIdle = !announcement.fetchPageAnnouncements(1, 50) && announcement.isLoading
    }

    function scheduleAnnouncementRefresh() {
        if (!auth.isLoggedIn) {
            root.pendingPageRefresh = false
            root.errorMessage = ""
            return
        }
        root.pendingPageRefresh = true
        refreshTimer.restart()
    }

    Component.onCompleted: {
        root.rebuildList()
        if (root.active)
            root.scheduleAnnouncementRefresh()
    }
    onActiveChanged: {
        if (root.active) {
            root.scheduleAnnouncementRefresh()
            return
        }
        refreshTimer.stop()
        root.pendingPageRefresh = false
        root.retryWhenIdle = false
    }

    Timer {
        id: refreshTimer

        interval: 280
        onTriggered: {
            if (root.active)
                root.refreshAnnouncements()
            else
                root.pendingPageRefresh = false
        }
    }

    Connections {
        target: announcement

        function onPageAnnouncementsChanged() {
            root.errorMessage = ""
            root.rebuildList()
        }
        function onIsLoadingChanged() {
            if (root.retryWhenIdle && !announcement.isLoading && root.active)
                root.refreshAnnouncements()
        }
        function onOperationFailed(error) {
            if (!root.active)
                return
            const key = Translations.errorKey(error)
            const message = key !== "" ? Translations.t(key) : Translations.translateError(error)
            if (key === "error_auth_expired") {
                root.errorMessage = ""
                flash.showError(Translations.t("error_auth_expired_title"), message)
                return
            }
            root.errorMessage = message
        }
    }

    Connections {
        target: auth

        function onLoginSucceeded() {
            if (root.active)
                root.scheduleAnnouncementRefresh()
        }
        function onSessionRestored() {
            if (root.active)
                root.scheduleAnnouncementRefresh()
        }
    }

    Flickable {
        id: scroller

        anchors.fill: parent
        contentHeight: column.height + 32
        boundsBehavior: Flickable.StopAtBounds
        interactive: contentHeight > height
        ScrollBar.vertical: ScrollBar {}

        Column {
            id: column

            x: 16
            y: 16
            width: scroller.width - 32
            spacing: 14

            Label {
                objectName: "announcementErrorText"
                width: parent.width
                visible: root.errorMessage !== ""
                text: root.errorMessage
                color: Theme.dangerColor
                font.pixelSize: Theme.metaFontSize + 1
                wrapMode: Text.Wrap
            }

            Label {
                objectName: "announcementFetchingText"
                width: parent.width
                visible: announcement.isLoading && root.items.length === 0 && !root.showingPageLoading
                topPadding: 32
                text: Translations.t("fetching")
                color: Theme.mutedTextColor
                font.pixelSize: Theme.bodyFontSize
                horizontalAlignment: Text.AlignHCenter
            }

            Label {
                objectName: "announcementEmptyText"
                width: parent.width
                visible: !announcement.isLoading && root.items.length === 0 && root.errorMessage === ""
                topPadding: 32
                text: Translations.t("no_available_announcements")
                color: Theme.mutedTextColor
                font.pixelSize: Theme.bodyFontSize
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Rectangle {
                objectName: "announcementCard"
                width: parent.width
                height: rows.height + 2
                visible: root.items.length > 0
                radius: 14
                color: Theme.surfaceColor
                border.width: 1
                border.color: Theme.dividerColor

                Column {
                    id: rows

                    x: 1
                    y: 1
                    width: parent.width - 2

                    Repeater {
                        model: root.items

                        AnnouncementRow {
                            required property var modelData
                            required property int index

                            objectName: "announcementRow" + index
                            width: rows.width
                            title: root.rowTitle(modelData, index)
                            first: index === 0
                            last: index === root.items.length - 1
                            onClicked: root.announcementSelected(modelData)
                        }
                    }
                }
            }
        }
    }

    PageLoadingOverlay {
        active: root.showingPageLoading
        coverWindow: false
    }

    FlashMessage {
        id: flash

        objectName: "announcementFlash"
    }
}
