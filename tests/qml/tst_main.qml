import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    Component {
        id: mainComponent

        Main {}
    }

    TestCase {
        name: "Main"
        when: windowShown

        function init() {
            versionChecker.reset()
            auth.reset()
            announcement.reset()
            service.reset()
            subscribeHandler.reset()
        }

        // The version check and the main view start once the window's first frame is up.
        function createMain() {
            const checks = versionChecker.callsTo("checkMinimumSupportedVersion").length
            const main = createTemporaryObject(mainComponent, root)
            verify(main, "the window is created")
            verify(!findChild(main, "mainView"), "the main view waits for the first frame")
            tryVerify(() => findChild(main, "mainView"), 2000)
            tryVerify(() => versionChecker.callsTo("checkMinimumSupportedVersion").length === checks + 1,
                      2000)
            return main
        }

        function answerVersionCheck(updateRequired) {
            versionChecker.isChecking = false
            versionChecker.updateRequired = updateRequired
            versionChecker.checked = true
            versionChecker.canUseApp = !updateRequired
        }

        // A window whose gate has opened and whose start-up overlay has gone.
        function createReadyMain() {
            const main = createMain()
            answerVersionCheck(false)
            tryCompare(main, "canShowStartupAnnouncement", true, 2000)
            return main
        }

        // Pop-ups are made when first shown.
        function shownPopup(main, name) {
            tryVerify(() => {
                const popup = findChild(main, name)
                return popup && popup.visible
            }, 2000, name + " shown")
            return findChild(main, name)
        }

        function popupHidden(main, name) {
            const popup = findChild(main, name)
            return !popup || !popup.visible
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
            const main = createMain()
            const overlay = findChild(main, "startupOverlay")
            let hiddenAfter = -1
            overlay.activeChanged.connect(() => {
                if (!overlay.active && hiddenAfter < 0)
                    hiddenAfter = Date.now() - start
            })
            verify(overlay.active)
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
            return [
                { tag: "gate opens later", openAtStart: false },
                { tag: "gate already open at start", openAtStart: true }
            ]
        }

        function test_sessionStartsOnce(data) {
            if (data.openAtStart)
                answerVersionCheck(false)
            const main = createMain()
            compare(auth.callsTo("initializeSession").length, data.openAtStart ? 1 : 0)
            answerVersionCheck(false)
            versionChecker.canUseApp = false
            versionChecker.canUseApp = true
            compare(auth.callsTo("initializeSession").length, 1)
            verify(main.sessionInitializationRequested)
        }

        function test_updateRequiredBlocksEverything() {
            const main = createMain()
            versionChecker.minimumVersion = "1.2.0"
            answerVersionCheck(true)
            const blocker = findChild(main, "versionBlocker")
            const overlay = findChild(main, "startupOverlay")
            const mainView = findChild(main, "mainView")
            verify(blocker.visible)
            verify(overlay.active, "the overlay is still up, under the blocker")
            verify(!mainView.visible && !mainView.enabled)
            const center = main.contentItem.mapFromItem(blocker, blocker.width / 2, 100)
            compare(main.contentItem.childAt(center.x, center.y), blocker)
            verify(findChild(main, "versionBlockerVersions").text.indexOf("1.2.0") >= 0)
            compare(main.updateDownloadUrl, "https://qivro.example/")
            versionChecker.updateUrl = "https://downloads.example/new"
            compare(main.updateDownloadUrl, "https://downloads.example/new")
            compare(auth.callsTo("initializeSession").length, 0)

            mouseClick(findChild(main, "versionBlockerOkButton"))
            compare(versionChecker.callsTo("exitApplication").length, 1)

            // Even with the main view usable behind it, a click on the menu button is swallowed.
            versionChecker.canUseApp = true
            tryCompare(main, "startupLoadingDelayElapsed", true, 2000)
            const menuButton = findChild(main, "menuButton")
            mouseClick(menuButton)
            verify(!mainView.showingMenu, "the click reached the main view through the blocker")
            versionChecker.updateRequired = false
            mouseClick(menuButton)
            verify(mainView.showingMenu, "without the blocker the same click opens the menu")
        }

        function test_announcementTitle_data() {
            return [
                { tag: "blank", title: "   ", shown: "" },
                { tag: "missing", title: undefined, shown: "" },
                { tag: "padded", title: "  Maintenance tonight ", shown: "Maintenance tonight" }
            ]
        }

        function test_announcementTitle(data) {
            const main = createReadyMain()
            announcement.popups = [{ "id": 7, "title": data.title, "content": "<p>Body</p>" }]
            const dialog = shownPopup(main, "announcementDialog")
            compare(findChild(dialog, "announcementDialogTitle").text, data.shown || Translations.t("notice"))
            compare(main.lastPopupAnnouncementId, 7)
        }

        function test_announcementOpensOncePerRun() {
            const main = createReadyMain()
            announcement.popups = [{ "id": 7, "title": "First", "content": "" }]
            const dialog = shownPopup(main, "announcementDialog")
            dialog.close()
            tryCompare(dialog, "visible", false, 1000)

            announcement.popups = [{ "id": 7, "title": "First, refreshed", "content": "" }]
            wait(600)
            verify(!dialog.visible, "the same announcement popped up again")
            verify(!main.openAnnouncementDialog(false))

            verify(main.openAnnouncementDialog(true))
            tryCompare(dialog, "visible", true, 1000)
            compare(findChild(dialog, "announcementDialogTitle").text, "First, refreshed")
            dialog.close()
            tryCompare(dialog, "visible", false, 1000)

            announcement.popups = [{ "id": 8, "title": "Second", "content": "" }]
            tryCompare(dialog, "visible", true, 2000)
            compare(main.lastPopupAnnouncementId, 8)
        }

        // Read by an account, a pop-up stays closed in that account's later runs, not in another's.
        function test_announcementReadPerAccount() {
            const accounts = [{ email: "ann@example.com", opens: true },
                              { email: "ann@example.com", opens: false },
                              { email: "bo@example.com", opens: true }]
            for (const account of accounts) {
                auth.userEmail = account.email
                auth.isLoggedIn = true
                announcement.popups = [{ "id": 31, "title": "Welcome", "content": "" }]
                const main = createMain()
                answerVersionCheck(false)
                // Signed in, the home page lets pop-ups through once its plans are in.
                wait(50)
                subscribeHandler.nodesFetched()
                tryCompare(main, "canShowStartupAnnouncement", true, 2000)
                if (account.opens) {
                    const dialog = shownPopup(main, "announcementDialog")
                    keyClick(Qt.Key_Escape)
                    tryCompare(dialog, "visible", false, 1000)
                } else {
                    wait(600)
                    verify(popupHidden(main, "announcementDialog"),
                           account.email + " saw a read pop-up again")
                }
                main.destroy()
            }
        }

        // Nothing pops up over the start-up overlay or the session restore.
        function test_announcementWaitsForSession() {
            const main = createMain()
            answerVersionCheck(false)
            auth.isInitializing = true
            announcement.popups = [{ "id": 3, "title": "Hello", "content": "" }]
            wait(1200)
            verify(popupHidden(main, "announcementDialog"))
            auth.isInitializing = false
            shownPopup(main, "announcementDialog")
        }

        function test_dialogsFromPages() {
            const main = createReadyMain()
            main.showAnnouncementDialog({ "id": 42, "title": "From the list", "content": "x" })
            const dialog = shownPopup(main, "announcementDialog")
            compare(main.lastPopupAnnouncementId, 0, "a chosen announcement is not a pop-up")
            dialog.close()
            tryCompare(dialog, "visible", false, 1000)

            findChild(main, "mainView").showMessage("", "Body text")
            const message = shownPopup(main, "messageDialog")
            compare(findChild(message, "messageDialogTitle").text, Translations.t("notice"))
            compare(findChild(message, "messageDialogText").text, "Body text")
            mouseClick(findChild(message, "messageDialogOkButton"))
            tryCompare(message, "visible", false, 1000)
        }
    }
}
