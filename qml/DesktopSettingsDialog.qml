import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Start at login, connect on start and the system proxy, each a switch with a line on what it
// does. The system proxy applies to the local proxy only, so its row shows while TUN mode is off.
Popup {
    id: root

    // One switch row; the whole row takes the click.
    component SettingRow: AbstractButton {
        id: row

        property string detail: ""
        property bool on: false

        Layout.fillWidth: true
        implicitHeight: row.contentItem.implicitHeight + 20
        leftPadding: 14
        rightPadding: 14
        hoverEnabled: true
        focusPolicy: Qt.TabFocus

        background: Rectangle {
            radius: 12
            color: row.hovered || row.visualFocus ? Theme.hoverBackgroundColor
                                                  : Theme.hoverBackgroundTransparentColor
        }

        contentItem: RowLayout {
            spacing: 12

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2

                Label {
                    Layout.fillWidth: true
                    text: row.text
                    wrapMode: Text.Wrap
                    color: Theme.textColor
                    font.pixelSize: 15
                }
                Label {
                    Layout.fillWidth: true
                    text: row.detail
                    wrapMode: Text.Wrap
                    color: Theme.mutedTextColor
                    font.pixelSize: 12
                }
            }

            ThemeSwitch {
                checked: row.on
            }
        }
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 360
    contentWidth: 360
    contentHeight: body.implicitHeight + body.anchors.margins * 2
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

    ColumnLayout {
        id: body

        anchors.fill: parent
        anchors.margins: 12
        spacing: 4

        Label {
            Layout.fillWidth: true
            Layout.margins: 12
            text: Translations.t("desktop_settings")
            color: Theme.textColor
            font.pixelSize: 18
            font.weight: Theme.emphasisFontWeight
        }

        SettingRow {
            objectName: "desktopStartAtLogin"
            text: Translations.t("start_at_login")
            detail: Translations.t("start_at_login_detail")
            on: desktop.startAtLogin
            onClicked: desktop.startAtLogin = !desktop.startAtLogin
        }

        SettingRow {
            objectName: "desktopConnectOnStart"
            text: Translations.t("connect_on_start")
            detail: Translations.t("connect_on_start_detail")
            on: desktop.connectOnStart
            onClicked: desktop.connectOnStart = !desktop.connectOnStart
        }

        SettingRow {
            objectName: "desktopSystemProxy"
            visible: !service.tunEnabled
            text: Translations.t("system_proxy")
            detail: Translations.t("system_proxy_detail")
            on: desktop.systemProxy
            onClicked: desktop.systemProxy = !desktop.systemProxy
        }
    }
}
