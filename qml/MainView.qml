import QtQuick
import QtQuick.Layouts

// The page shell: a header with the menu button and the page title, the stack of sections and
// sign-in pages, and the side menu that slides over both.
Item {
    id: root

    objectName: "mainView"
    property int currentSection: 0
    property string authPage: ""
    property bool showingMenu: false
    readonly property bool showingAuthPage: root.authPage !== ""
    readonly property int shownIndex: root.authPage === "login" ? 6
                                    : root.authPage === "register" ? 7
                                    : root.authPage === "reset" ? 8 : root.currentSection
    // While a payment is being settled in the store the menu stays shut, so it cannot be left.
    readonly property bool menuBlockedByPayment: root.shownIndex === 1 && root.storePaymentOpen
    // Reported by the store page, which is made on first use.
    property bool storePaymentOpen: false
    readonly property bool canShowStartupAnnouncement: root.showingAuthPage || root.showingMenu
                                                       || root.currentSection !== 0
                                                       || subscriptionsPage.canShowStartupAnnouncement
    readonly property var pageTitleKeys: ["connect", "store", "tickets", "rewards", "language",
        "announcement", "login", "create_account", "reset_password"]
    // Off until the first event-loop turn, so the menu does not slide out at start-up.
    property bool menuSlideEnabled: false

    signal showMessage(string title, string text)
    signal announcementSelected(var item)

    function requiresLogin(index) {
        return index === 1 || index === 2 || index === 5
    }

    function showLoginPage() {
        root.authPage = "login"
        root.showingMenu = false
    }

    function showRegisterPage() {
        root.authPage = "register"
        root.showingMenu = false
    }

    function showResetPasswordPage() {
        root.authPage = "reset"
        root.showingMenu = false
    }

    function clearAuthPage() {
        root.authPage = ""
    }

    function showMenuPage() {
        root.showingMenu = true
    }

    function hideMenuPage() {
        root.showingMenu = false
    }

    // A section that needs an account is refused outright while signed out; the menu stays open.
    // Otherwise the section changes on the next turn, after the menu has begun to close.
    function selectMenuSection(index) {
        if (root.requiresLogin(index) && !auth.isLoggedIn)
            return
        root.hideMenuPage()
        sectionChange.pendingIndex = index
        sectionChange.restart()
    }

    function showSection(index) {
        root.currentSection = index
        root.authPage = ""
    }

    function refreshCurrentSection() {
        if (!auth.isLoggedIn || root.showingAuthPage)
            return
        switch (root.currentSection) {
        case 0:
            subscriptionsPage.refreshSubscriptions()
            break
        case 1:
            root.schedulePageRefresh(storeLoader.item, "scheduleStoreRefresh")
            break
        case 2:
            root.schedulePageRefresh(ticketLoader.item, "scheduleTicketsRefresh")
            break
        case 5:
            root.schedulePageRefresh(announcementLoader.item, "scheduleAnnouncementRefresh")
            break
        }
    }

    // Each section refreshes at its own pace; a section without a refresh of its own is left alone.
    function schedulePageRefresh(page, operation) {
        if (page && typeof page[operation] === "function")
            page[operation]()
    }

    // The tunnel goes down before the session, so no traffic leaves under a dropped account.
    function signOut() {
        if (service.isConnected)
            service.ToggleConnection()
        auth.logout()
    }

    Component.onCompleted: sectionRefresh.restart()
    // The open menu holds the keyboard, so Esc closes it.
    onShowingMenuChanged: if (showingMenu) menuLoader.forceActiveFocus()

    // Zero-interval timers run their work on the next turn of the event loop.
    Timer {
        id: sectionChange

        property int pendingIndex: 0

        interval: 0
        onTriggered: root.showSection(sectionChange.pendingIndex)
    }

    Timer {
        id: sectionRefresh

        interval: 0
        onTriggered: root.refreshCurrentSection()
    }

    Timer {
        interval: 0
        running: true
        onTriggered: root.menuSlideEnabled = true
    }

    Connections {
        target: auth

        function onIsLoggedInChanged() {
            if (auth.isLoggedIn) {
                root.clearAuthPage()
                root.hideMenuPage()
                sectionRefresh.restart()
            } else {
                root.currentSection = 0
                root.hideMenuPage()
                root.showLoginPage()
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.contentBackgroundColor
    }

    MainHeader {
        id: header

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        title: Translations.t(root.pageTitleKeys[root.shownIndex] || "")
        menuEnabled: !root.menuBlockedByPayment
        onMenuClicked: root.showMenuPage()
    }

    StackLayout {
        id: stack

        objectName: "mainViewStack"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: header.bottom
        anchors.bottom: parent.bottom
        currentIndex: root.shownIndex
        onCurrentIndexChanged: pageFade.restart()

        SubscriptionsPage {
            id: subscriptionsPage

            objectName: "subscriptionsPage"
            active: root.currentSection === 0 && !root.showingAuthPage && !root.showingMenu
            onShowMessage: (title, text) => root.showMessage(title, text)
            onOpenStoreRequested: root.showSection(1)
            onLoginRequested: root.showLoginPage()
        }

        SectionLoader {
            id: storeLoader

            index: 1
            shownIndex: root.shownIndex
            sourceComponent: StorePage {
                objectName: "storePage"
                active: root.currentSection === 1 && !root.showingAuthPage && !root.showingMenu
                menuOpen: root.showingMenu
                onPaymentOverlayOpenChanged: root.storePaymentOpen = paymentOverlayOpen
            }
        }

        SectionLoader {
            id: ticketLoader

            index: 2
            shownIndex: root.shownIndex
            sourceComponent: TicketPage {
                objectName: "ticketPage"
                active: root.currentSection === 2 && !root.showingAuthPage && !root.showingMenu
            }
        }

        SectionLoader {
            index: 3
            shownIndex: root.shownIndex
            sourceComponent: RewardPage {
                objectName: "rewardPage"
                active: root.currentSection === 3 && !root.showingAuthPage && !root.showingMenu
                onLoginRequested: root.showLoginPage()
                onOpenStoreRequested: root.showSection(1)
            }
        }

        SectionLoader {
            index: 4
            shownIndex: root.shownIndex
            sourceComponent: LanguagePage {
                objectName: "languagePage"
                active: root.currentSection === 4 && !root.showingAuthPage && !root.showingMenu
            }
        }

        SectionLoader {
            id: announcementLoader

            index: 5
            shownIndex: root.shownIndex
            sourceComponent: AnnouncementPage {
                objectName: "announcementPage"
                active: root.currentSection === 5 && !root.showingAuthPage && !root.showingMenu
                onAnnouncementSelected: item => root.announcementSelected(item)
            }
        }

        SectionLoader {
            index: 6
            shownIndex: root.shownIndex
            sourceComponent: LoginView {
                objectName: "loginView"
                onNavigateToRegister: root.showRegisterPage()
                onNavigateToResetPassword: root.showResetPasswordPage()
            }
        }

        SectionLoader {
            index: 7
            shownIndex: root.shownIndex
            sourceComponent: RegisterView {
                objectName: "registerView"
                onNavigateToLogin: root.showLoginPage()
            }
        }

        SectionLoader {
            index: 8
            shownIndex: root.shownIndex
            sourceComponent: ResetPasswordView {
                objectName: "resetPasswordView"
                onNavigateToLogin: root.showLoginPage()
            }
        }
    }

    NumberAnimation {
        id: pageFade

        target: stack
        property: "opacity"
        from: 0.35
        to: 1
        duration: 180
        easing.type: Easing.OutCubic
    }

    Item {
        id: menuLayer

        objectName: "menuLayer"
        width: root.width
        height: root.height
        x: -width
        visible: x > -width
        z: 10

        // A state rather than a behaviour, so only opening and closing slide, not resizing.
        states: State {
            name: "open"
            when: root.showingMenu

            PropertyChanges {
                menuLayer.x: 0
            }
        }

        transitions: Transition {
            enabled: root.menuSlideEnabled

            NumberAnimation {
                property: "x"
                duration: 260
                easing.type: Easing.OutCubic
            }
        }

        Rectangle {
            anchors.fill: parent
            color: Theme.contentBackgroundColor
        }

        // Nothing under the open menu may be pressed, hovered or scrolled.
        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            preventStealing: true
            acceptedButtons: Qt.AllButtons
            onWheel: wheel => wheel.accepted = true
        }

        // Made the first time the menu opens.
        Loader {
            id: menuLoader

            property bool visited: false

            anchors.fill: parent
            active: visited
            onLoaded: forceActiveFocus()
            Component.onCompleted: visited = root.showingMenu

            Connections {
                target: root

                // Latched rather than bound: once made, the menu stays.
                function onShowingMenuChanged() {
                    if (root.showingMenu)
                        menuLoader.visited = true
                }
            }

            sourceComponent: MenuPage {
                objectName: "menuPage"
                focus: true
                isLoggedIn: auth.isLoggedIn
                userEmail: auth.userEmail
                currentSection: root.currentSection
                lanSharingOn: lanSharingDialog.sharingOn
                onSectionSelected: index => root.selectMenuSection(index)
                onThemeToggleRequested: Theme.darkMode = !Theme.darkMode
                onLoginRequested: root.showLoginPage()
                onLogoutRequested: root.signOut()
                onCloseRequested: root.hideMenuPage()
                onAboutRequested: aboutDialog.open()
                onLanSharingRequested: lanSharingDialog.open()
            }
        }
    }

    AboutDialog {
        id: aboutDialog

        objectName: "aboutDialog"
    }

    LanSharingDialog {
        id: lanSharingDialog

        objectName: "lanSharingDialog"
        sharing: service.lanSharing
        connected: service.isConnected
    }
}
