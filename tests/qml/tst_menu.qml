import QtQuick
import QtTest
import appclient

// The menu: the account block with the plan's expiry in UTC+8, locked sections, and what each
// entry asks the main view to do.
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
    }

    function init() {
        subscribeHandler.reset()
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
    function test_lockedSectionsWhenSignedOut() {
        const locked = [1, 2, 5]
        for (let i = 0; i < 6; ++i) {
            const isLocked = locked.indexOf(i) >= 0
            compare(item("menuItemLock", item("menuItem" + i)).visible, isLocked, "lock " + i)
            compare(clickAndTake("menuItem" + i), isLocked ? "" : "section:" + i + " close", "click " + i)
        }
        menu.isLoggedIn = true
        for (const i of locked)
            compare(clickAndTake("menuItem" + i), "section:" + i + " close")
    }

    function test_entries() {
        compare(clickAndTake("menuProfileBlock"), "login close")
        compare(clickAndTake("menuLogoutItem"), "login close")
        compare(clickAndTake("menuThemeSwitch"), "theme", "the menu stays open")
        compare(clickAndTake("menuVersionLabel"), "about")
        menu.isLoggedIn = true
        compare(clickAndTake("menuProfileBlock"), "")
        compare(item("menuLogoutItem").text, Translations.t("logout"))
        compare(clickAndTake("menuLogoutItem"), "logout close")
    }
}
