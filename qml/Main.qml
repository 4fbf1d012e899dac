import QtQuick
import QtQuick.Controls

// The one window: the start-up gate (loading overlay, version blocker, session start), the general
// message dialog and the announcement pop-up around the main view.
ApplicationWindow {
    id: root

    readonly property bool isMobile: Qt.platform.os === "android" || Qt.platform.os === "ios"
    property int minimumStartupLoadingMs: 800
    property bool startupLoadingDelayElapsed: false
    property bool sessionInitializationRequested: false
    readonly property bool canShowStartupAnnouncement: root.startupLoadingDelayElapsed
                                                       && versionChecker.canUseApp
                                                       && !auth.isInitializing
                                                       && mainView.canShowStartupAnnouncement
    property var activeAnnouncement: ({})
    property int lastPopupAnnouncementId: 0
    readonly property string updateDownloadUrl: versionChecker.updateUrl !== ""
                                                ? versionChecker.updateUrl
                                                : "https://" + appInfo.domain + "/"

    function showMessage(title, text) {
        messageDialog.show(title, text)
    }

    function initializeSessionWhenAllowed() {
        if (root.sessionInitializationRequested || !versionChecker.canUseApp)
            return
        root.sessionInitializationRequested = true
        auth.initializeSession()
    }

    function maybeOpenAnnouncementDialog() {
        if (!root.canShowStartupAnnouncement || announcement.popupAnnouncementCount <= 0
                || announcementDialog.visible)
            return
        announcementDelay.restart()
    }

    // Unforced, an announcement that already popped up once stays closed: a later refresh that
    // reports it again must not bring it back.
    function openAnnouncementDialog(force) {
        if (!root.canShowStartupAnnouncement || announcement.popupAnnouncementCount <= 0)
            return false
        const item = announcement.getPopupAnnouncement(0)
        if (!item || item.id === undefined || item.id === null)
            return false
        if (!force && item.id === root.lastPopupAnnouncementId)
            return false
        root.activeAnnouncement = item
        root.lastPopupAnnouncementId = item.id
        announcementDialog.open()
        return true
    }

    function showAnnouncementDialog(item) {
        root.activeAnnouncement = item
        announcementDialog.open()
    }

    width: 400
    height: 760
    minimumWidth: root.isMobile ? 0 : 400
    minimumHeight: root.isMobile ? 0 : 760
    maximumWidth: root.isMobile ? 16777215 : 400
    maximumHeight: root.isMobile ? 16777215 : 760
    visible: true
    title: appInfo.name
    color: Theme.appBackgroundColor

    Component.onCompleted: {
        versionChecker.checkMinimumSupportedVersion()
        root.initializeSessionWhenAllowed()
    }

    onCanShowStartupAnnouncementChanged: root.maybeOpenAnnouncementDialog()

    Connections {
        target: versionChecker

        function onCanUseAppChanged() {
            root.initializeSessionWhenAllowed()
        }
    }

    Connections {
        target: auth

        function onIsInitializingChanged() {
            root.maybeOpenAnnouncementDialog()
        }
    }

    Connections {
        target: announcement

        function onPopupAnnouncementsChanged() {
            root.maybeOpenAnnouncementDialog()
        }
    }

    Timer {
        id: startupDelay

        interval: root.minimumStartupLoadingMs
        running: true
        onTriggered: {
            root.startupLoadingDelayElapsed = true
            root.maybeOpenAnnouncementDialog()
        }
    }

    Timer {
        id: announcementDelay

        interval: 300
        onTriggered: root.openAnnouncementDialog(false)
    }

    TrayTexts {}

    MainView {
        id: mainView

        objectName: "mainView"
        anchors.fill: parent
        visible: versionChecker.canUseApp
        enabled: versionChecker.canUseApp
        onShowMessage: (title, text) => root.showMessage(title, text)
        onAnnouncementSelected: item => root.showAnnouncementDialog(item)
    }

    PageLoadingOverlay {
        objectName: "startupOverlay"
        backgroundColor: Theme.appBackgroundColor
        active: versionChecker.isChecking
                || (!versionChecker.checked && !versionChecker.updateRequired)
                || auth.isInitializing
                || !root.startupLoadingDelayElapsed

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.verticalCenter
            anchors.topMargin: 52
            text: Translations.t("loading")
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize + 1
        }
    }

    VersionBlocker {
        objectName: "versionBlocker"
        active: versionChecker.updateRequired
        currentVersion: versionChecker.currentVersion
        minimumVersion: versionChecker.minimumVersion
        downloadUrl: root.updateDownloadUrl
        onExitRequested: versionChecker.exitApplication()
    }

    MessageDialog {
        id: messageDialog

        objectName: "messageDialog"
    }

    AnnouncementDialog {
        id: announcementDialog

        objectName: "announcementDialog"
        announcement: root.activeAnnouncement
    }
}
