import QtQuick
import QtTest
import appclient

// The menu: the account block with the plan's expiry in UTC+8, locked sections, what each entry
// asks the main view to do, and the desktop settings and LAN sharing dialogs it leads to.
ViewCase {
    id: testCase

    name: "MenuPage"

    property var events: []

    MenuPage {
        id: menu

        anchors.fill: parent
        onSectionSelected: index => testCase.events.push("section:" + index)
        onThemeToggleRequested: testCase.events.push("theme")
        onLoginRequested: testCase.events.push("login")
        onLogoutRequested: testCase.events.push("logout")
        onCloseRequested: testCase.events.push("close")
        onAboutRequested: testCase.events.push("about")
        onLanSharingRequested: testCase.events.push("lan")
        lanSharingOn: lanDialog.sharingOn
    }

    // The controller's LAN sharing object as the dialog sees it.
    QtObject {
        id: sharing

        property bool enabled: false
        property string username: "lan-abcdef"
        property string password: "pw-0123456789"
        property var addresses: []
        property int refreshes: 0

        function refreshAddresses() { sharing.refreshes += 1 }
    }

    LanSharingDialog {
        id: lanDialog

        sharing: sharing
    }

    function init() {
        resetBackend()
        menu.isLoggedIn = false
        menu.userEmail = ""
        view = menu
    }

    function clickAndTake(name) {
        events = []
        mouseClick(item(name))
        return events.join(" ")
    }

    // The stand-in announces a new list before its count follows; the real handler announces
    // once the list is in place, which a second emission reproduces.
    function setSubscriptions(items) {
        subscribeHandler.items = items
        subscribeHandler.subscriptionsChanged()
    }

    function test_expiryInUtc8_data() {
        return [
            { tag: "next day", time: Date.UTC(2026, 0, 31, 16, 30), expected: "2026-02-01 00:30 UTC+8" },
            { tag: "new year", time: Date.UTC(2025, 11, 31, 16, 0), expected: "2026-01-01 00:00 UTC+8" },
            { tag: "seconds cut", time: Date.UTC(2026, 2, 5, 1, 2, 59), expected: "2026-03-05 09:02 UTC+8" },
            { tag: "numeric text", time: String(Date.UTC(2026, 6, 1, 0, 0)), expected: "2026-07-01 08:00 UTC+8" },
            { tag: "zero", time: 0, expected: "" },
            { tag: "garbage", time: "soon", expected: "" }
        ]
    }

    function test_expiryInUtc8(data) {
        menu.isLoggedIn = true
        setSubscriptions([{ "expire_time": data.time }])
        const shown = data.expected !== "" ? data.expected : Translations.t("no_subscription_info")
        compare(item("menuProfileDetail").text, Translations.t("valid_until") + " " + shown)
    }

    function test_latestSubscription_data() {
        const march = Date.UTC(2026, 2, 10, 4, 0)
        const june = Date.UTC(2026, 5, 10, 4, 0)
        return [
            { tag: "latest first", items: [{ name: "a", expire_time: june }, { name: "b", expire_time: march }],
              chosen: "a" },
            { tag: "tie keeps first", items: [{ name: "a", expire_time: june }, { name: "b", expire_time: june }],
              chosen: "a" },
            { tag: "missing is zero", items: [{ name: "a" }, { name: "b", expire_time: -1 }], chosen: "a" },
            { tag: "none", items: [], chosen: undefined }
        ]
    }

    function test_latestSubscription(data) {
        menu.isLoggedIn = true
        setSubscriptions(data.items)
        compare(menu.currentSubscription.name, data.chosen)
        if (data.chosen === undefined)
            compare(item("menuProfileDetail").text, Translations.t("no_valid_subscription"))
    }

    // Store, tickets and announcements need an account: drawn locked, and clicks go nowhere.
    // The other entries ask for sign-in, theme or about as the account stands (signed in, the
    // end-to-end roads open every section and sign out from here).
    function test_entries() {
        const locked = [1, 2, 5]
        for (let i = 0; i < 6; ++i) {
            const isLocked = locked.indexOf(i) >= 0
            compare(item("menuItemLock", item("menuItem" + i)).visible, isLocked, "lock " + i)
            compare(clickAndTake("menuItem" + i), isLocked ? "" : "section:" + i + " close", "click " + i)
        }
        compare(clickAndTake("menuProfileBlock"), "login close")
        compare(clickAndTake("menuLogoutItem"), "login close")
        compare(clickAndTake("menuThemeSwitch"), "theme", "the menu stays open")
        compare(clickAndTake("menuVersionLabel"), "about")
        menu.isLoggedIn = true
        compare(clickAndTake("menuProfileBlock"), "")
    }

    function test_desktopSettings_data() {
        return [
            { tag: "start at login", row: "desktopStartAtLogin", setting: "startAtLogin" },
            { tag: "connect on start", row: "desktopConnectOnStart", setting: "connectOnStart" },
            { tag: "system proxy", row: "desktopSystemProxy", setting: "systemProxy", hiddenInTun: true }
        ]
    }

    // Each switch its own setting; the system proxy only where it means something (not in TUN mode).
    function test_desktopSettings(data) {
        mouseClick(item("menuDesktopItem"))
        const dialog = item("desktopSettingsDialog")
        tryCompare(dialog, "opened", true)
        const row = item(data.row, dialog.contentItem)
        mouseClick(row)
        for (const setting of ["startAtLogin", "connectOnStart", "systemProxy"])
            compare(desktop[setting], setting === data.setting, setting)
        mouseClick(row)
        compare(desktop[data.setting], false)
        service.tunEnabled = true
        compare(row.visible, !data.hiddenInTun)
        keyClick(Qt.Key_Escape)
        tryCompare(dialog, "visible", false)
    }

    // Details only while sharing, the next-connect note only while connected; the menu's row
    // asks for the dialog and follows its switch.
    function test_lanSharing() {
        sharing.addresses = ["192.168.1.5:1080", "10.0.0.7:1080"]
        lanDialog.connected = true
        compare(clickAndTake("menuLanSharingItem"), "lan")
        lanDialog.open()
        tryCompare(lanDialog, "opened", true)
        const content = lanDialog.contentItem
        compare([sharing.refreshes, item("lanSharingDetails", content).visible,
                 item("lanSharingNextConnect", content).visible], [1, false, true])
        mouseClick(item("lanSharingToggle", content))
        compare([sharing.enabled, item("menuLanSharingItem").switchOn], [true, true])
        compare([item("lanSharingAddresses", content).text, item("lanSharingPassword", content).text],
                ["192.168.1.5:1080\n10.0.0.7:1080", sharing.password])
        sharing.addresses = []
        compare(item("lanSharingAddresses", content).text, Translations.t("lan_sharing_no_network"))
        lanDialog.close()
        tryCompare(lanDialog, "visible", false)
    }
}
