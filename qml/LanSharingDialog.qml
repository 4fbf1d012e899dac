import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// LAN sharing: the switch, and while it is on the addresses and the login other devices use. The
// main view opens it from the side menu. A change reaches a running tunnel at its next start.
Popup {
    id: root

    // The tunnel controller's LAN sharing object (enabled, username, password, addresses,
    // refreshAddresses()); untyped, as the backend's type is not known to the module.
    property var sharing: null
    property bool connected: false

    readonly property bool sharingOn: !!root.sharing && root.sharing.enabled
    readonly property string addressText: root.addressLines(root.sharing ? root.sharing.addresses
                                                                         : [])

    function addressLines(addresses) {
        return addresses && addresses.length > 0 ? Array.from(addresses).join("\n")
                                                 : Translations.t("lan_sharing_no_network")
    }

    function toggle() {
        if (root.sharing)
            root.sharing.enabled = !root.sharing.enabled
    }

    onAboutToShow: {
        if (root.sharing)
            root.sharing.refreshAddresses()
    }

    // A caption over a value that can be selected and copied.
    component Detail: ColumnLayout {
        property alias label: caption.text
        property alias value: valueText.text
        property alias valueName: valueText.objectName

        Layout.fillWidth: true
        spacing: 2

        Label {
            id: caption

            Layout.fillWidth: true
            color: Theme.mutedTextColor
            font.pixelSize: 13
        }
        TextEdit {
            id: valueText

            Layout.fillWidth: true
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.WrapAnywhere
            color: Theme.textColor
            font.pixelSize: 15
        }
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 360
    contentWidth: 360
    contentHeight: body.implicitHeight
    implicitHeight: contentHeight + topPadding + bottomPadding
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    Overlay.modal: Rectangle {
        color: Theme.darkMode ? Qt.rgba(0, 0, 0, 0.56) : Qt.rgba(0.05, 0.09, 0.16, 0.32)
    }

    background: Rectangle {
        radius: 20
        color: Theme.elevatedSurfaceColor
        border.width: 1
        border.color: Theme.hairlineColor
    }

    Item {
        id: body

        anchors.fill: parent
        implicitHeight: content.implicitHeight + 56 + 24

        MainIconButton {
            objectName: "lanSharingCloseButton"
            x: 10
            y: 10
            iconSource: "qrc:/icons/close.svg"
            onClicked: root.close()
        }

        ColumnLayout {
            id: content

            y: 56
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 24
            anchors.rightMargin: 24
            spacing: 14

            Label {
                Layout.fillWidth: true
                text: Translations.t("lan_sharing")
                color: Theme.textColor
                font.pixelSize: 20
                font.weight: Theme.emphasisFontWeight
            }

            Label {
                Layout.fillWidth: true
                text: Translations.t("lan_sharing_body")
                wrapMode: Text.Wrap
                color: Theme.mutedTextColor
                font.pixelSize: 14
            }

            MenuRow {
                objectName: "lanSharingToggle"
                Layout.fillWidth: true
                iconSource: "qrc:/icons/network.svg"
                text: Translations.t("lan_sharing_toggle")
                showSwitch: true
                switchOn: root.sharingOn
                onClicked: root.toggle()
            }

            ColumnLayout {
                objectName: "lanSharingDetails"
                visible: root.sharingOn
                Layout.fillWidth: true
                spacing: 10

                Detail {
                    label: Translations.t("lan_sharing_addresses")
                    value: root.addressText
                    valueName: "lanSharingAddresses"
                }
                Detail {
                    label: Translations.t("lan_sharing_username")
                    value: root.sharing ? root.sharing.username : ""
                    valueName: "lanSharingUsername"
                }
                Detail {
                    label: Translations.t("lan_sharing_password")
                    value: root.sharing ? root.sharing.password : ""
                    valueName: "lanSharingPassword"
                }
            }

            Label {
                objectName: "lanSharingNextConnect"
                visible: root.connected
                Layout.fillWidth: true
                text: Translations.t("lan_sharing_next_connect")
                wrapMode: Text.Wrap
                color: Theme.accentColor
                font.pixelSize: 13
            }
        }
    }
}
