import QtQuick
import QtTest
import appclient

// Sharing the proxy on the LAN: the menu's row and switch, and what the dialog shows.
ViewCase {
    name: "LanSharing"

    property int menuRequests: 0

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

    MenuPage {
        id: menu

        anchors.fill: parent
        lanSharingOn: dialog.sharingOn
        onLanSharingRequested: menuRequests += 1
    }

    LanSharingDialog {
        id: dialog

        sharing: sharing
    }

    function init() {
        sharing.enabled = false
        sharing.refreshes = 0
        dialog.connected = false
        view = dialog.contentItem
    }

    function cleanup() {
        dialog.close()
        tryCompare(dialog, "visible", false)
    }

    // Details only while sharing, the next-connect note only while connected; the menu's row
    // opens the dialog and follows its switch.
    function test_view() {
        sharing.addresses = ["192.168.1.5:1080", "10.0.0.7:1080"]
        dialog.connected = true
        mouseClick(item("menuLanSharingItem", menu))
        compare(menuRequests, 1)
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare([sharing.refreshes, item("lanSharingDetails").visible, item("lanSharingNextConnect").visible],
                [1, false, true])
        mouseClick(item("lanSharingToggle"))
        compare([sharing.enabled, item("menuLanSharingItem", menu).switchOn], [true, true])
        compare([item("lanSharingAddresses").text, item("lanSharingPassword").text],
                ["192.168.1.5:1080\n10.0.0.7:1080", sharing.password])
        sharing.addresses = []
        compare(item("lanSharingAddresses").text, Translations.t("lan_sharing_no_network"))
    }
}
