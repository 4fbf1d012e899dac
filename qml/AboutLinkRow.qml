import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A row of the about dialog that leads to a page on the web site.
AbstractButton {
    id: root

    implicitWidth: 280
    implicitHeight: 44
    leftPadding: 14
    rightPadding: 12
    hoverEnabled: true
    focusPolicy: Qt.TabFocus

    background: Rectangle {
        radius: 11
        color: root.hovered || root.pressed || root.visualFocus ? Theme.hoverBackgroundColor
                                                                : Theme.hoverBackgroundTransparentColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: RowLayout {
        spacing: 8

        Label {
            Layout.fillWidth: true
            text: root.text
            elide: Text.ElideRight
            color: root.hovered ? Theme.accentColor : Theme.textColor
            font.pixelSize: 14
        }

        AppIcon {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            source: "qrc:/icons/chevron-right.svg"
            tint: root.hovered ? Theme.accentColor : Theme.mutedTextColor
        }
    }
}
