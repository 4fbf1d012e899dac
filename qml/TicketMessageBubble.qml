import QtQuick
import QtQuick.Controls

// One message of a ticket's conversation: the user's own on the right, the staff's on the left,
// each under who wrote it.
Item {
    id: root

    property string content
    property bool fromStaff: false

    readonly property real maximumBubbleWidth: Math.max(140, root.width * 0.78)

    implicitHeight: author.height + 4 + bubble.height

    Label {
        id: author

        x: root.fromStaff ? 16 : root.width - width - 16
        text: Translations.t(root.fromStaff ? "admin" : "you")
        color: root.fromStaff ? Theme.accentColor : Theme.mutedTextColor
        font.pixelSize: Theme.metaFontSize
        font.weight: Theme.emphasisFontWeight
    }

    Rectangle {
        id: bubble

        x: root.fromStaff ? 16 : root.width - width - 16
        y: author.height + 4
        width: Math.min(root.maximumBubbleWidth, text.implicitWidth + 28)
        height: text.implicitHeight + 20
        radius: 14
        color: root.fromStaff ? Theme.otherBubbleColor : Theme.ownBubbleColor

        Label {
            id: text

            objectName: "ticketMessageText"
            x: 14
            y: 10
            width: Math.min(implicitWidth, root.maximumBubbleWidth - 28)
            text: root.content
            color: root.fromStaff ? Theme.textColor : Theme.authTextColor
            font.pixelSize: Theme.bodyFontSize - 1
            lineHeight: 1.15
            wrapMode: Text.Wrap
        }
    }
}
