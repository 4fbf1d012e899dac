import QtQuick
import QtTest
import appclient

// The window: the start-up overlay, the version gate, and when announcements pop up. That the
// panel's greeting pops up after a sign-in, and closes, is the end-to-end roads' first step.
ViewCase {
    name: "Main"

    Component {
        id: mainComponent

        Main {}
    }

    function init() { resetBackend() }

    // The version check and the main view start once the window's first frame is up.
    function createMain(answer) {
        const checks = versionChecker.callsTo("checkMinimumSupportedVersion").length
        const main = make(mainComponent)
        verify(!findChild(main, "mainView"), "the main view waits for the first frame")
        tryVerify(() => findChild(main, "mainView"), 2000)
        tryVerify(() => versionChecker.callsTo("checkMinimumSupportedVersion").length === checks + 1, 2000)
        if (answer)
            answerVersionCheck(false)
        return main
    }

    function answerVersionCheck(updateRequired) {
        versionChecker.isChecking = false
        versionChecker.updateRequired = updateRequired
        versionChecker.checked = true
        versionChecker.canUseApp = !updateRequired
    }

    // Pop-ups are made when first shown.
    function shownPopup(name) {
        tryVerify(() => {
            const popup = findChild(view, name)
            return popup && popup.visible
        }, 2000, name + " shown")
        return item(name)
    }

    function popupHidden(name) {
        return !findChild(view, name) || !findChild(view, name).visible
    }

    function test_startupOverlay_data() {
        return [
            { tag: "version answer after 100 ms", versionAt: 100, sessionUntil: 0, goneAt: 800 },
            { tag: "version answer after 1000 ms", versionAt: 1000, sessionUntil: 0, goneAt: 1000 },
            { tag: "session restore until 1300 ms", versionAt: 100, sessionUntil: 1300, goneAt: 1300 }
        ]
    }

    // The overlay stays for the longest of: 800 ms, the version check, the session restore.
    function test_startupOverlay(data) {
        const start = Date.now()
        const overlay = item("startupOverlay", createMain())
        let hiddenAfter = -1
        overlay.activeChanged.connect(() => {
            if (!overlay.active && hiddenAfter < 0)
                hiddenAfter = Date.now() - start
        })
        wait(data.versionAt)
        answerVersionCheck(false)
        if (data.sessionUntil > 0) {
            auth.isInitializing = true
            wait(Math.max(0, data.sessionUntil - (Date.now() - start)))
            auth.isInitializing = false
        }
        tryVerify(() => hiddenAfter >= 0, 3000, "the overlay goes in the end")
        // Qt's coarse timers may fire up to 5 % early.
        verify(hiddenAfter >= data.goneAt - 45, "gone after " + hiddenAfter + " ms")
    }

    function test_sessionStartsOnce_data() {
        return [{ tag: "gate opens later", openAtStart: false }, { tag: "gate open at start", openAtStart: true }]
    }

    function test_sessionStartsOnce(data) {
        if (data.openAtStart)
            answerVersionCheck(false)
        createMain()
        compare(auth.callsTo("initializeSession").length, data.openAtStart ? 1 : 0)
        answerVersionCheck(false)
        versionChecker.canUseApp = false
        versionChecker.canUseApp = true
        compare(auth.callsTo("initializeSession").length, 1)
    }

    function test_updateRequiredBlocksEverything() {
        const main = createMain()
        versionChecker.minimumVersion = "1.2.0"
        answerVersionCheck(true)
        verify(item("versionBlocker").visible)
        verify(item("versionBlockerVersions").text.indexOf("1.2.0") >= 0)
        compare([main.updateDownloadUrl, auth.callsTo("initializeSession").length], ["https://qivro.example/", 0])
        versionChecker.updateUrl = "https://downloads.example/new"
        compare(main.updateDownloadUrl, "https://downloads.example/new")
        mouseClick(item("versionBlockerOkButton"))
        compare(versionChecker.callsTo("exitApplication").length, 1)

        // Even with the main view usable behind it, a click on the menu button is swallowed.
        versionChecker.canUseApp = true
        tryCompare(main, "startupLoadingDelayElapsed", true, 2000)
        mouseClick(item("menuButton"))
        verify(!item("mainView").showingMenu, "the click reached the main view through the blocker")
        versionChecker.updateRequired = false
        mouseClick(item("menuButton"))
        verify(item("mainView").showingMenu, "without the blocker the same click opens the menu")
    }

    // A pop-up opens once per run (a forced open shows it again), a new one opens at once.
    function test_announcementOpensOncePerRun() {
        const main = createMain(true)
        tryCompare(main, "canShowStartupAnnouncement", true, 2000)
        announcement.popups = [{ "id": 7, "title": "   ", "content": "" }]
        const dialog = shownPopup("announcementDialog")
        compare(item("announcementDialogTitle").text, Translations.t("notice"))
        dialog.close()
        tryCompare(dialog, "visible", false, 1000)
        announcement.popups = [{ "id": 7, "title": "  First, refreshed ", "content": "" }]
        verify(!main.openAnnouncementDialog(false))
        verify(main.openAnnouncementDialog(true))
        tryCompare(dialog, "visible", true, 1000)
        compare(item("announcementDialogTitle").text, "First, refreshed")
        dialog.close()
        tryCompare(dialog, "visible", false, 1000)
        announcement.popups = [{ "id": 8, "title": "Second", "content": "" }]
        tryCompare(dialog, "visible", true, 2000)
        compare(main.lastPopupAnnouncementId, 8)
    }

    // Read by an account, a pop-up stays closed in that account's later runs, not in another's.
    function test_announcementReadPerAccount() {
        const accounts = [{ email: "ann@example.com", opens: true }, { email: "ann@example.com", opens: false },
                          { email: "bo@example.com", opens: true }]
        for (const account of accounts) {
            auth.userEmail = account.email
            auth.isLoggedIn = true
            announcement.popups = [{ "id": 31, "title": "Welcome", "content": "" }]
            const main = createMain(true)
            // Signed in, the home page lets pop-ups through once its plans are in.
            wait(50)
            subscribeHandler.nodesFetched()
            tryCompare(main, "canShowStartupAnnouncement", true, 2000)
            if (account.opens) {
                const dialog = shownPopup("announcementDialog")
                keyClick(Qt.Key_Escape)
                tryCompare(dialog, "visible", false, 1000)
            } else {
                wait(600)
                verify(popupHidden("announcementDialog"), account.email + " saw a read pop-up again")
            }
            main.destroy()
        }
    }

    // Nothing pops up over the session restore; pages' messages get a title of their own.
    function test_dialogsWait() {
        createMain(true)
        auth.isInitializing = true
        announcement.popups = [{ "id": 3, "title": "Hello", "content": "" }]
        wait(1200)
        verify(popupHidden("announcementDialog"))
        auth.isInitializing = false
        shownPopup("announcementDialog").close()
        item("mainView").showMessage("", "Body text")
        shownPopup("messageDialog")
        compare(item("messageDialogTitle").text, Translations.t("notice"))
        compare(item("messageDialogText").text, "Body text")
    }
}
