import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    property var events: []

    MenuPage {
        id: menu

        anchors.fill: parent
    }

    Connections {
        target: menu

        function onSectionSelected(index) { root.events.push("section:" + index) }
        function onThemeToggleRequested() { root.events.push("theme") }
        function onLoginRequested() { root.events.push("login") }
        function onLogoutRequested() { root.events.push("logout") }
        function onCloseRequested() { root.events.push("close") }
        function onAboutRequested() { root.events.push("about") }
    }

    TestCase {
        name: "MenuPage"
        when: windowShown

        function init() {
            subscribeHandler.reset();
            menu.isLoggedIn = false;
            menu.userEmail = "";
            menu.currentSection = 0;
            root.events = [];
        }

        function cleanup() {
            Theme.darkMode = false;
        }

        function child(name) {
            const item = findChild(menu, name);
            verify(item, name);
            return item;
        }

        function clickAndTake(name) {
            root.events = [];
            mouseClick(child(name));
            return root.events.join(" ");
        }

        // The stand-in announces a new list before its count follows; the real handler announces
        // once the list is in place, which a second emission reproduces.
        function setSubscriptions(items) {
            subscribeHandler.items = items;
            subscribeHandler.subscriptionsChanged();
        }

        function detail() {
            return child("menuProfileDetail").text;
        }

        function test_expiryInUtc8_data() {
            return [
                { tag: "same day", time: Date.UTC(2026, 0, 31, 15, 5), expected: "2026-01-31 23:05 UTC+8" },
                { tag: "next day", time: Date.UTC(2026, 0, 31, 16, 30), expected: "2026-02-01 00:30 UTC+8" },
                { tag: "new year", time: Date.UTC(2025, 11, 31, 16, 0), expected: "2026-01-01 00:00 UTC+8" },
                { tag: "seconds cut", time: Date.UTC(2026, 2, 5, 1, 2, 59), expected: "2026-03-05 09:02 UTC+8" },
                { tag: "numeric text", time: String(Date.UTC(2026, 6, 1, 0, 0)), expected: "2026-07-01 08:00 UTC+8" },
                { tag: "zero", time: 0, expected: "" },
                { tag: "negative", time: -3600000, expected: "" },
                { tag: "beyond dates", time: 9e15, expected: "" },
                { tag: "garbage", time: "soon", expected: "" }
            ];
        }

        function test_expiryInUtc8(data) {
            menu.isLoggedIn = true;
            menu.userEmail = "user@example.com";
            setSubscriptions([{ "expire_time": data.time }]);
            const shown = data.expected !== "" ? data.expected : Translations.t("no_subscription_info");
            compare(detail(), Translations.t("valid_until") + " " + shown);
            compare(child("menuProfileTitle").text, "user@example.com");
        }

        function test_latestSubscription_data() {
            const march = Date.UTC(2026, 2, 10, 4, 0);
            const june = Date.UTC(2026, 5, 10, 4, 0);
            return [
                { tag: "march then june", items: [{ name: "a", expire_time: march }, { name: "b", expire_time: june }], chosen: "b" },
                { tag: "june then march", items: [{ name: "a", expire_time: june }, { name: "b", expire_time: march }], chosen: "a" },
                { tag: "tie keeps first", items: [{ name: "a", expire_time: june }, { name: "b", expire_time: june }], chosen: "a" },
                { tag: "missing is zero", items: [{ name: "a" }, { name: "b", expire_time: 0 }, { name: "c", expire_time: -1 }], chosen: "a" },
                { tag: "none", items: [], chosen: undefined }
            ];
        }

        function test_latestSubscription(data) {
            menu.isLoggedIn = true;
            setSubscriptions(data.items);
            compare(menu.currentSubscription.name, data.chosen);
            if (data.chosen === undefined)
                compare(detail(), Translations.t("no_valid_subscription"));
            else if (data.tag.startsWith("march"))
                verify(detail().indexOf("2026-06-10 12:00 UTC+8") > 0, detail());
        }

        // Store, tickets and announcements need an account: drawn locked, and clicks go nowhere.
        function test_lockedSectionsWhenSignedOut() {
            const locked = [1, 2, 5];
            for (let i = 0; i < 6; ++i) {
                const item = child("menuItem" + i);
                const isLocked = locked.indexOf(i) >= 0;
                compare(item.enabled, !isLocked, "item " + i);
                compare(findChild(item, "menuItemLock").visible, isLocked, "lock " + i);
                compare(clickAndTake("menuItem" + i), isLocked ? "" : "section:" + i + " close", "click " + i);
            }
            menu.isLoggedIn = true;
            for (const i of locked) {
                verify(!findChild(child("menuItem" + i), "menuItemLock").visible);
                compare(clickAndTake("menuItem" + i), "section:" + i + " close");
            }
        }

        function test_currentSectionLook() {
            menu.currentSection = 3;
            compare(findChild(child("menuItem3"), "menuItemIcon").tint, Theme.accentColor);
            compare(findChild(child("menuItem3"), "menuItemTitle").color, Theme.accentColor);
            compare(findChild(child("menuItem0"), "menuItemTitle").color, Theme.textColor);
            // The language icon keeps its colour even on its own page.
            menu.currentSection = 4;
            compare(findChild(child("menuItem4"), "menuItemIcon").tint, Theme.iconColor);
            compare(findChild(child("menuItem4"), "menuItemTitle").color, Theme.accentColor);
            // A locked section is never drawn as the current one.
            menu.currentSection = 1;
            compare(findChild(child("menuItem1"), "menuItemTitle").color, Theme.subtleTextColor);
        }

        function test_profileBlock() {
            compare(child("menuProfileTitle").text, Translations.t("please_login"));
            compare(detail(), Translations.t("click_to_login"));
            compare(clickAndTake("menuProfileBlock"), "login close");
            menu.isLoggedIn = true;
            menu.userEmail = "someone@example.com";
            compare(clickAndTake("menuProfileBlock"), "");
        }

        function test_themeItem() {
            const knob = findChild(child("menuThemeSwitch"), "themeSwitchKnob");
            compare(clickAndTake("menuThemeSwitch"), "theme", "the menu stays open");
            compare(Theme.darkMode, false, "the main view, not the menu, flips the theme");
            tryCompare(knob, "x", 3);
            Theme.darkMode = true;
            tryCompare(knob, "x", 21);
            compare(findChild(child("menuThemeSwitch"), "menuItemIcon").source, "qrc:/icons/moon.svg");
        }

        function test_accountItemAndVersion() {
            compare(child("menuLogoutItem").text, Translations.t("click_to_login"));
            compare(clickAndTake("menuLogoutItem"), "login close");
            menu.isLoggedIn = true;
            compare(child("menuLogoutItem").text, Translations.t("logout"));
            compare(clickAndTake("menuLogoutItem"), "logout close");
            compare(child("menuVersionLabel").text, "v" + appInfo.version);
            compare(clickAndTake("menuVersionLabel"), "about");
        }
    }
}
