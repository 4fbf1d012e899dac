import QtQuick
import QtQuick.Controls

// Full-width button of the window's own dialogs: filled for the main action, outlined otherwise.
Button {
    id: root

    property bool primary: true

    implicitHeight: 48
    hoverEnabled: true
    font.pixelSize: Theme.bodyFontSize
    font.weight: Theme.emphasisFontWeight

    contentItem: Label {
        text: root.text
        font: root.font
        // White on the dark appearance's grey disabled fill would still read as enabled.
        color: root.primary ? (root.enabled || !Theme.darkMode ? Theme.authButtonTextColor : Theme.mutedTextColor)
                            : root.enabled ? Theme.accentColor : Theme.subtleTextColor
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 12
        color: {
            if (root.primary && !root.enabled)
                return Theme.authButtonDisabledColor
            if (root.primary)
                return root.down ? Theme.authAccentPressedColor
                                 : root.hovered ? Theme.authAccentHoverColor : Theme.authAccentColor
            return root.down ? Theme.activeBackgroundColor
                             : root.hovered ? Theme.hoverBackgroundColor
                                            : Theme.hoverBackgroundTransparentColor
        }
        border.width: root.primary ? 0 : 1
        border.color: Theme.dividerColor

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }
}
