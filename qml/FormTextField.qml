import QtQuick
import QtQuick.Controls

// A one-line input of the account pages (coupon, ticket subject, reply) with its hint inside.
TextField {
    id: root

    implicitHeight: 44
    leftPadding: 14
    rightPadding: 14
    verticalAlignment: TextInput.AlignVCenter
    color: Theme.textColor
    placeholderTextColor: Theme.authPlaceholderColor
    selectionColor: Theme.accentColor
    selectedTextColor: Theme.contentBackgroundColor
    font.pixelSize: Theme.bodyFontSize
    selectByMouse: true

    background: Rectangle {
        radius: 12
        color: root.enabled ? Theme.authFieldFillColor : Theme.authFieldDisabledFillColor
        border.width: root.activeFocus ? 2 : 1
        border.color: root.activeFocus ? Theme.accentColor : Theme.authFieldBorderColor

        Behavior on border.color {
            ColorAnimation {
                duration: 150
            }
        }
    }
}
