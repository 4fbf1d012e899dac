import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    Component {
        id: viewComponent

        MainView {
            width: 400
            height: 760
        }
    }

    TestCase {
        name: "MainView"
        when: windowShown

        function init() {
            auth.reset()
            service.reset()
            subscribeHandler.reset()
            announcement.reset()
        }

        function createView() {
            const view = createTemporaryObject(viewComponent, root)
            verify(view)
            // Past the first turn: the menu slides from here on.
            wait(0)
            return view
        }

        readonly property var sectionPages: ["subscriptionsPage", "storePage", "ticketPage",
            "rewardPage", "languagePage", "announcementPage"]

        // Pages are made when first shown, so a page never shown counts as inactive.
        function activePages(view) {
            return sectionPages.filter(name => {
                const page = findChild(view, name)
                return page !== null && page.active
            })
        }

        function test_menuSection_data() {
            return [
                { tag: "store signed out", section: 1, signedIn: false, shown: 0, menuOpen: true },
                { tag: "tickets signed out", section: 2, signedIn: false, shown: 0, menuOpen: true },
                { tag: "announcements signed out", section: 5, signedIn: false, shown: 0, menuOpen: true },
                { tag: "rewards signed out", section: 3, signedIn: false, shown: 3, menuOpen: false },
                { tag: "language signed out", section: 4, signedIn: false, shown: 4, menuOpen: false },
                { tag: "store signed in", section: 1, signedIn: true, shown: 1, menuOpen: false },
                { tag: "announcements signed in", section: 5, signedIn: true, shown: 5, menuOpen: false }
            ]
        }

        function test_menuSection(data) {
            auth.isLoggedIn = data.signedIn
            const view = createView()
            view.showLoginPage()
            view.showMenuPage()
            findChild(view, "menuPage").sectionSelected(data.section)
            wait(50)
            compare(view.currentSection, data.shown)
            compare(view.showingMenu, data.menuOpen)
            compare(view.authPage, data.shown === data.section ? "" : "login")
            if (!data.menuOpen)
                compare(activePages(view), [sectionPages[data.shown]])
        }

        function test_shownPage_data() {
            return [
                { tag: "section", authPage: "", section: 3, index: 3, title: "rewards" },
                { tag: "login", authPage: "login", section: 3, index: 6, title: "login" },
                { tag: "register", authPage: "register", section: 0, index: 7, title: "create_account" },
                { tag: "reset", authPage: "reset", section: 4, index: 8, title: "reset_password" }
            ]
        }

        function test_shownPage(data) {
            const view = createView()
            view.currentSection = data.section
            view.authPage = data.authPage
            compare(findChild(view, "mainViewStack").currentIndex, data.index)
            compare(findChild(view, "mainHeaderTitle").text, Translations.t(data.title))
            compare(activePages(view), data.authPage === "" ? ["rewardPage"] : [])
        }

        function test_signOut_data() {
            return [
                { tag: "connected", connected: true, toggles: 1 },
                { tag: "not connected", connected: false, toggles: 0 }
            ]
        }

        // The tunnel is down by the time the session is dropped; the view returns to the start.
        function test_signOut(data) {
            auth.isLoggedIn = true
            service.isConnected = data.connected
            const view = createView()
            view.currentSection = 3
            view.showMenuPage()
            let togglesAtLogout = -1
            let connectedAtLogout = true
            const watch = () => {
                togglesAtLogout = service.callsTo("ToggleConnection").length
                connectedAtLogout = service.isConnected
            }
            auth.isLoggedInChanged.connect(watch)
            findChild(view, "menuPage").logoutRequested()
            auth.isLoggedInChanged.disconnect(watch)
            compare(auth.callsTo("logout").length, 1)
            compare(togglesAtLogout, data.toggles)
            verify(!connectedAtLogout)
            compare(view.currentSection, 0)
            compare(view.authPage, "login")
            verify(!view.showingMenu)
        }

        function test_signInClearsAuthPage() {
            const view = createView()
            view.currentSection = 4
            view.showRegisterPage()
            view.showMenuPage()
            auth.isLoggedIn = true
            compare(view.authPage, "")
            verify(!view.showingMenu)
            compare(view.currentSection, 4, "signing in keeps the section")
            compare(activePages(view), ["languagePage"])
        }

        // Signing in on the shown connect page fetches the plans: the page itself only refreshes
        // when it becomes active.
        function test_signInRefreshesShownSection() {
            createView()
            auth.isLoggedIn = true
            tryVerify(() => subscribeHandler.callsTo("fetchNodes").length === 1, 2000)
        }

        function test_pageRequests() {
            const view = createView()
            findChild(view, "subscriptionsPage").loginRequested()
            compare(view.authPage, "login")
            findChild(view, "loginView").navigateToRegister()
            compare(view.authPage, "register")
            findChild(view, "registerView").navigateToLogin()
            findChild(view, "loginView").navigateToResetPassword()
            compare(view.authPage, "reset")
            findChild(view, "resetPasswordView").navigateToLogin()
            compare(view.authPage, "login")
            verify(!findChild(view, "rewardPage"), "a section never shown is not made")
            view.selectMenuSection(3)
            tryVerify(() => findChild(view, "rewardPage") !== null, 1000)
            findChild(view, "rewardPage").openStoreRequested()
            compare(view.currentSection, 1)
            compare(view.authPage, "")
        }

        function test_menuSlide() {
            // Opened before the first turn: no slide.
            const early = createTemporaryObject(viewComponent, root)
            early.showMenuPage()
            compare(findChild(early, "menuLayer").x, 0)

            const view = createView()
            const layer = findChild(view, "menuLayer")
            verify(!layer.visible)
            mouseClick(findChild(view, "menuButton"))
            verify(view.showingMenu)
            verify(layer.x < 0, "the menu slides in")
            tryCompare(layer, "x", 0, 1000)
            keyClick(Qt.Key_Escape)
            verify(!view.showingMenu, "Esc closes the menu")
            tryCompare(layer, "visible", false, 1000)
        }
    }
}
