import QtQuick
import QtQuick.Controls

// A round icon-only button of the window chrome: the menu button and the close buttons of dialogs.
AbstractButton {
    id: root

    property url iconSource
    property int iconSize: 22
    property color iconTint: Theme.iconColor

    implicitWidth: 40
    implicitHeight: 40
    hoverEnabled: true
    focusPolicy: Qt.TabFocus

    contentItem: Item {
        AppIcon {
            anchors.centerIn: parent
            width: root.iconSize
            height: root.iconSize
            source: root.iconSource
            tint: root.iconTint
        }
    }

    background: Rectangle {
        radius: Math.min(width, height) / 2
        color: root.down ? Theme.activeBackgroundColor
                         : (root.hovered || root.visualFocus) ? Theme.hoverBackgroundColor
                                                              : Theme.hoverBackgroundTransparentColor

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }
}
