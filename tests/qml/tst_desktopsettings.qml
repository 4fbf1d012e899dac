import QtQuick
import QtTest
import appclient

// The desktop settings from the menu: each switch its own setting, the system proxy only when
// it has a meaning (not in TUN mode).
ViewCase {
    name: "DesktopSettings"

    MenuPage {
        id: menu

        anchors.fill: parent
    }

    function init() {
        desktop.reset()
        service.tunEnabled = false
        view = menu
    }

    function cleanup() {
        keyClick(Qt.Key_Escape)
        tryCompare(item("desktopSettingsDialog"), "visible", false)
    }

    function test_switches_data() {
        return [
            { tag: "start at login", row: "desktopStartAtLogin", setting: "startAtLogin" },
            { tag: "connect on start", row: "desktopConnectOnStart", setting: "connectOnStart" },
            { tag: "system proxy", row: "desktopSystemProxy", setting: "systemProxy", hiddenInTun: true }
        ]
    }

    function test_switches(data) {
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
    }
}
