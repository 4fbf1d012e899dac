import QtQuick
import QtTest
import appclient

// The main view's routing: menu sections, the sign-in pages, and which page is active.
ViewCase {
    name: "MainView"

    readonly property var sectionPages: ["subscriptionsPage", "storePage", "ticketPage", "rewardPage",
        "languagePage", "announcementPage"]

    function init() { resetBackend() }

    function createView() {
        make("MainView")
        wait(0) // past the first turn: the menu slides from here on
        return view
    }

    // Pages are made when first shown, so a page never shown counts as inactive.
    function activePages() {
        return sectionPages.filter(name => findChild(view, name) !== null && findChild(view, name).active)
    }

    function test_menuSection_data() {
        return [
            { tag: "store signed out", section: 1, signedIn: false, shown: 0, menuOpen: true },
            { tag: "rewards signed out", section: 3, signedIn: false, shown: 3, menuOpen: false }
        ]
    }

    // Sections that need an account send a signed-out user to the sign-in page instead (signed in,
    // the store roads open every section from the menu).
    function test_menuSection(data) {
        auth.isLoggedIn = data.signedIn
        createView()
        view.showLoginPage()
        view.showMenuPage()
        item("menuPage").sectionSelected(data.section)
        wait(50)
        compare([view.currentSection, view.showingMenu], [data.shown, data.menuOpen])
        compare(view.authPage, data.shown === data.section ? "" : "login")
        if (!data.menuOpen)
            compare(activePages(), [sectionPages[data.shown]])
    }

    // Signing in keeps the section and fetches the plans of the shown connect page.
    function test_signIn() {
        createView()
        view.currentSection = 4
        view.showRegisterPage()
        compare(activePages(), [], "no page runs under the sign-in pages")
        view.showMenuPage()
        auth.isLoggedIn = true
        compare([view.authPage, view.showingMenu, view.currentSection], ["", false, 4])
        compare(activePages(), ["languagePage"])
        view.currentSection = 0
        auth.isLoggedIn = false
        auth.isLoggedIn = true
        tryVerify(() => subscribeHandler.callsTo("fetchNodes").length === 1, 2000)
    }

    // The pages' requests lead to each other; the menu button opens the menu and Esc closes it.
    function test_pageRequests() {
        createView()
        mouseClick(item("menuButton"))
        verify(view.showingMenu)
        tryCompare(item("menuLayer"), "x", 0, 1000)
        keyClick(Qt.Key_Escape)
        verify(!view.showingMenu)
        tryCompare(item("menuLayer"), "visible", false, 1000)
        item("subscriptionsPage").loginRequested()
        item("loginView").navigateToRegister()
        compare(view.authPage, "register")
        item("registerView").navigateToLogin()
        item("loginView").navigateToResetPassword()
        compare(view.authPage, "reset")
        item("resetPasswordView").navigateToLogin()
        compare(view.authPage, "login")
        view.selectMenuSection(3)
        tryVerify(() => findChild(view, "rewardPage") !== null, 1000)
        item("rewardPage").openStoreRequested()
        compare([view.currentSection, view.authPage], [1, ""])
    }
}
