import QtQuick
import QtQuick.Controls

// Full-width button of the reward page. Its fill follows `tone`: the accent normally, the success
// colour to confirm a copy, the danger colour while a redemption is refused.
Button {
    id: root

    // "accent", "success" or "danger".
    property string tone: "accent"

    readonly property color fill: root.tone === "success" ? Theme.successColor
                                : root.tone === "danger" ? Theme.dangerColor : Theme.authAccentColor

    implicitHeight: 48
    hoverEnabled: true
    font.pixelSize: Theme.bodyFontSize
    font.weight: Theme.emphasisFontWeight

    contentItem: Label {
        text: root.text
        font: root.font
        color: root.enabled || !Theme.darkMode ? Theme.authButtonTextColor : Theme.mutedTextColor
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 12
        color: !root.enabled ? Theme.authButtonDisabledColor
                             : root.tone !== "accent" ? root.fill
                             : root.down ? Theme.authAccentPressedColor
                             : root.hovered ? Theme.authAccentHoverColor : root.fill

        Behavior on color {
            ColorAnimation {
                duration: 160
                easing.type: Easing.OutCubic
            }
        }
    }

    HoverHandler {
        cursorShape: root.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
