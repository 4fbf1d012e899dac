import QtQuick
import QtQuick.Controls

// A text link of the sign-in views (switching views, resending a code).
AbstractButton {
    id: root

    property int horizontalAlignment: Text.AlignHCenter

    implicitWidth: Math.ceil(root.contentItem.implicitWidth)
    implicitHeight: Math.max(root.contentItem.implicitHeight, 28)
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    font.pixelSize: 13
    font.weight: Theme.emphasisFontWeight

    contentItem: Text {
        text: root.text
        elide: Text.ElideRight
        horizontalAlignment: root.horizontalAlignment
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: root.font.pixelSize
        font.weight: root.font.weight
        // Keyboard users get the underline that the pointer gets on hover.
        font.underline: root.visualFocus || (root.hovered && root.enabled)
        color: !root.enabled ? Theme.authMutedTextColor : Theme.authAccentTextColor
        opacity: root.enabled ? 1 : 0.8
    }

    HoverHandler {
        cursorShape: root.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
