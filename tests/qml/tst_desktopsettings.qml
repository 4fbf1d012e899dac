import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    MenuPage {
        id: menu

        anchors.fill: parent
    }

    TestCase {
        name: "DesktopSettings"
        when: windowShown

        function init() {
            desktop.reset();
            service.tunEnabled = false;
        }

        function cleanup() {
            keyClick(Qt.Key_Escape);
            tryCompare(findChild(menu, "desktopSettingsDialog"), "visible", false);
        }

        function openDialog() {
            mouseClick(findChild(menu, "menuDesktopItem"));
            const dialog = findChild(menu, "desktopSettingsDialog");
            tryCompare(dialog, "opened", true);
            return dialog;
        }

        function test_switches_data() {
            return [
                { tag: "start at login", row: "desktopStartAtLogin", setting: "startAtLogin" },
                { tag: "connect on start", row: "desktopConnectOnStart", setting: "connectOnStart" },
                { tag: "system proxy", row: "desktopSystemProxy", setting: "systemProxy" }
            ];
        }

        // Each row flips its own setting and no other, both ways.
        function test_switches(data) {
            const dialog = openDialog();
            const row = findChild(dialog.contentItem, data.row);
            verify(row);
            const others = ["startAtLogin", "connectOnStart", "systemProxy"].filter(s => s !== data.setting);
            mouseClick(row);
            compare(desktop[data.setting], true);
            others.forEach(s => compare(desktop[s], false, s));
            mouseClick(row);
            compare(desktop[data.setting], false);
        }

        // The system proxy has no meaning in TUN mode, so its row goes.
        function test_systemProxyOnlyForLocalProxy() {
            service.tunEnabled = true;
            const dialog = openDialog();
            compare(findChild(dialog.contentItem, "desktopSystemProxy").visible, false);
            compare(findChild(dialog.contentItem, "desktopStartAtLogin").visible, true);
        }
    }
}
