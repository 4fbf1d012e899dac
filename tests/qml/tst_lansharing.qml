import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

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
        onLanSharingRequested: root.menuRequests += 1
    }

    LanSharingDialog {
        id: dialog

        sharing: sharing
    }

    TestCase {
        name: "LanSharing"
        when: windowShown

        function init() {
            sharing.enabled = false;
            sharing.refreshes = 0;
            dialog.connected = false;
        }

        function cleanup() {
            dialog.close();
            tryCompare(dialog, "visible", false);
        }

        function child(name) {
            const item = findChild(dialog.contentItem, name);
            verify(item, name);
            return item;
        }

        function test_view_data() {
            return [
                { tag: "off", enabled: false, connected: false, addresses: ["192.168.1.5:1080"],
                  shown: "" },
                { tag: "on, two networks", enabled: true, connected: false,
                  addresses: ["192.168.1.5:1080", "10.0.0.7:1080"],
                  shown: "192.168.1.5:1080\n10.0.0.7:1080" },
                { tag: "on, no network", enabled: true, connected: false, addresses: [],
                  shown: Translations.t("lan_sharing_no_network") },
                { tag: "off while connected", enabled: false, connected: true, addresses: [],
                  shown: "" }
            ];
        }

        // Details only while sharing; the next-connect note only while connected.
        function test_view(data) {
            sharing.enabled = data.enabled;
            sharing.addresses = data.addresses;
            dialog.connected = data.connected;
            dialog.open();
            tryCompare(dialog, "opened", true);
            compare(sharing.refreshes, 1);
            compare(child("lanSharingDetails").visible, data.enabled);
            compare(child("lanSharingNextConnect").visible, data.connected);
            if (data.enabled) {
                compare(child("lanSharingAddresses").text, data.shown);
                compare(child("lanSharingPassword").text, sharing.password);
            }
        }

        function test_menuOpensAndToggleFlips() {
            const row = findChild(menu, "menuLanSharingItem");
            mouseClick(row);
            compare(root.menuRequests, 1);
            dialog.open();
            tryCompare(dialog, "opened", true);
            mouseClick(child("lanSharingToggle"));
            compare(sharing.enabled, true);
            compare(row.switchOn, true);
            mouseClick(child("lanSharingToggle"));
            compare(sharing.enabled, false);
            compare(row.switchOn, false);
        }
    }
}
