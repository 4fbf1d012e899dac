import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings

// The one window: the start-up gate (loading overlay, version blocker, session start), the general
// message dialog and the announcement pop-up around the main view. What few runs show (the
// dialogs, the blocker, the link banner) is made on first use, not with the first frame.
ApplicationWindow {
    id: root

    readonly property bool isMobile: Qt.platform.os === "android" || Qt.platform.os === "ios"
    property int minimumStartupLoadingMs: 800
    property bool startupLoadingDelayElapsed: false
    property bool sessionInitializationRequested: false
    property bool gateStarted: false
    // The main view is made once the first frame (the start-up overlay, which hides it for its
    // minimum time anyway) is on the screen, so that frame waits for the window alone.
    property bool firstFrameShown: false
    readonly property bool canShowStartupAnnouncement: root.startupLoadingDelayElapsed
                                                       && versionChecker.canUseApp
                                                       && !auth.isInitializing
                                                       && mainViewLoader.status === Loader.Ready
                                                       && mainViewLoader.item.canShowStartupAnnouncement
    // The designed size, cut to the screen's free area (less room for the title bar) so a small
    // screen at a large scale factor still shows the whole window; the pages scroll instead.
    readonly property int designWidth: 400
    readonly property int designHeight: 760
    readonly property int frameAllowance: 40
    readonly property int fittedWidth: Math.max(320, Math.min(root.designWidth,
                                                              Screen.desktopAvailableWidth))
    readonly property int fittedHeight: Math.max(320, Math.min(root.designHeight,
                                                               Screen.desktopAvailableHeight
                                                               - root.frameAllowance))
    property var activeAnnouncement: ({})
    property int lastPopupAnnouncementId: 0
    readonly property string updateDownloadUrl: versionChecker.updateUrl !== ""
                                                ? versionChecker.updateUrl
                                                : "https://" + appInfo.domain + "/"

    function showMessage(title, text) {
        messageDialog.active = true
        const dialog = messageDialog.item as MessageDialog
        dialog.show(title, text)
    }

    function initializeSessionWhenAllowed() {
        if (root.sessionInitializationRequested || !versionChecker.canUseApp)
            return
        root.sessionInitializationRequested = true
        auth.initializeSession()
    }

    function maybeOpenAnnouncementDialog() {
        if (!root.canShowStartupAnnouncement || announcement.popupAnnouncementCount <= 0
                || (announcementDialog.item && announcementDialog.item.visible))
            return
        announcementDelay.restart()
    }

    // Pop-ups a signed-in account has read are remembered per account across runs; signed out,
    // only for the run.
    function readPopupsKey() {
        if (!auth.isLoggedIn || !auth.userEmail)
            return ""
        return "read/" + Qt.btoa(auth.userEmail).replace(/\+/g, "-").replace(/\//g, "_")
                                                .replace(/=+$/, "")
    }

    function readPopupIds(key) {
        return String(readPopups.value(key, "")).split(" ").filter(id => id !== "")
    }

    function popupWasRead(id) {
        const key = root.readPopupsKey()
        return key !== "" && root.readPopupIds(key).indexOf(String(id)) >= 0
    }

    function rememberPopupRead(id) {
        const key = root.readPopupsKey()
        if (key === "" || id === undefined || id === null || root.popupWasRead(id))
            return
        const ids = root.readPopupIds(key)
        ids.push(String(id))
        readPopups.setValue(key, ids.slice(-50).join(" "))
    }

    // Unforced, an announcement that already popped up once stays closed: a later refresh that
    // reports it again must not bring it back, nor a later run once the account has read it.
    function openAnnouncementDialog(force) {
        if (!root.canShowStartupAnnouncement || announcement.popupAnnouncementCount <= 0)
            return false
        const item = announcement.getPopupAnnouncement(0)
        if (!item || item.id === undefined || item.id === null)
            return false
        if (!force && (item.id === root.lastPopupAnnouncementId || root.popupWasRead(item.id)))
            return false
        root.lastPopupAnnouncementId = item.id
        root.showAnnouncementDialog(item)
        return true
    }

    function showAnnouncementDialog(item) {
        root.activeAnnouncement = item
        announcementDialog.active = true
        const dialog = announcementDialog.item as AnnouncementDialog
        dialog.open()
    }

    width: root.isMobile ? root.designWidth : root.fittedWidth
    height: root.isMobile ? root.designHeight : root.fittedHeight
    minimumWidth: root.isMobile ? 0 : root.fittedWidth
    minimumHeight: root.isMobile ? 0 : root.fittedHeight
    maximumWidth: root.isMobile ? 16777215 : root.fittedWidth
    maximumHeight: root.isMobile ? 16777215 : root.fittedHeight
    visible: true
    title: appInfo.name
    color: Theme.appBackgroundColor

    Component.onCompleted: {
        if (!root.isMobile) {
            root.x = Screen.virtualX + Math.max(0, (Screen.desktopAvailableWidth - root.width) / 2)
            root.y = Screen.virtualY + Math.max(0, (Screen.desktopAvailableHeight - root.height
                                                    - root.frameAllowance) / 2) + root.frameAllowance
        }
    }

    // The version check waits for its answer in a nested event loop, so it starts once the first
    // frame (the start-up overlay) is on its way to the screen rather than holding that frame back.
    // (afterAnimating: the first signal of each frame on this thread.)
    onAfterAnimating: {
        if (root.gateStarted)
            return
        root.gateStarted = true
        gateStart.start()
    }

    onCanShowStartupAnnouncementChanged: root.maybeOpenAnnouncementDialog()

    // Queued from the render thread; the next turn lets whoever else waits for this frame go first.
    Connections {
        target: root
        enabled: !root.firstFrameShown

        function onFrameSwapped() {
            mainViewStart.start()
        }
    }

    Timer {
        id: mainViewStart

        interval: 0
        onTriggered: root.firstFrameShown = true
    }

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

    Settings {
        id: readPopups

        category: "Announcements"
    }

    Timer {
        id: gateStart

        interval: 0
        onTriggered: {
            versionChecker.checkMinimumSupportedVersion()
            root.initializeSessionWhenAllowed()
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

    // Where no browser starts, the address goes to the clipboard and is shown above everything,
    // dialogs included, long enough to be read.
    Connections {
        target: Browser

        function onUnreachable(url) {
            const clipboard = clipboardComponent.createObject(root.contentItem) as TextEdit
            clipboard.text = url
            clipboard.selectAll()
            clipboard.copy()
            clipboard.destroy()
            linkFlash.active = true
            const flash = linkFlash.item as FlashMessage
            flash.showError(Translations.t("browser_unavailable_title"),
                            Translations.t("browser_unavailable_message").arg(url))
        }
    }

    Component {
        id: clipboardComponent

        TextEdit {
            visible: false
        }
    }

    Loader {
        id: linkFlash

        active: false
        sourceComponent: FlashMessage {
            objectName: "linkFlash"
            parent: Overlay.overlay
            z: 1000
            displayDuration: 8000
        }
    }

    Timer {
        id: announcementDelay

        interval: 300
        onTriggered: root.openAnnouncementDialog(false)
    }

    TrayTexts {}

    // By address rather than by type, so the main view's types are compiled only when it is made.
    Loader {
        id: mainViewLoader

        anchors.fill: parent
        visible: versionChecker.canUseApp
        enabled: versionChecker.canUseApp
        source: root.firstFrameShown ? "MainView.qml" : ""
    }

    Connections {
        target: mainViewLoader.item

        function onShowMessage(title, text) {
            root.showMessage(title, text)
        }
        function onAnnouncementSelected(item) {
            root.showAnnouncementDialog(item)
        }
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

    // Above the start-up overlay (z 1000) and everything else of the window.
    Loader {
        objectName: "versionBlocker"
        anchors.fill: parent
        z: 2000
        active: versionChecker.updateRequired
        visible: active
        sourceComponent: VersionBlocker {
            active: true
            currentVersion: versionChecker.currentVersion
            minimumVersion: versionChecker.minimumVersion
            downloadUrl: root.updateDownloadUrl
            onExitRequested: versionChecker.exitApplication()
        }
    }

    Loader {
        id: messageDialog

        active: false
        sourceComponent: MessageDialog {
            objectName: "messageDialog"
        }
    }

    Loader {
        id: announcementDialog

        active: false
        sourceComponent: AnnouncementDialog {
            objectName: "announcementDialog"
            announcement: root.activeAnnouncement
            onClosed: root.rememberPopupRead(root.activeAnnouncement.id)
        }
    }
}
