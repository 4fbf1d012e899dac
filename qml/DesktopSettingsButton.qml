import QtQuick
import QtQuick.Controls

// The menu header's button for starting at login, connecting on start and the system proxy. In
// the header it costs the menu no height; the dialog it opens holds the switches.
AbstractButton {
    id: root

    objectName: "menuDesktopItem"
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: Translations.t("desktop_settings")
    ToolTip.visible: root.hovered
    ToolTip.delay: 500
    ToolTip.text: Translations.t("desktop_settings")
    onClicked: dialog.open()

    background: Rectangle {
        radius: 20
        color: root.hovered || root.pressed || root.visualFocus ? Theme.hoverBackgroundColor
                                                                : Theme.hoverBackgroundTransparentColor
    }
    contentItem: Item {
        AppIcon {
            anchors.centerIn: parent
            source: "qrc:/icons/power.svg"
            tint: root.hovered || root.visualFocus ? Theme.accentColor : Theme.mutedTextColor
        }
    }

    DesktopSettingsDialog {
        id: dialog

        objectName: "desktopSettingsDialog"
    }
}
