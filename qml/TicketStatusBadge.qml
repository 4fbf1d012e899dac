import QtQuick
import QtQuick.Controls

// A ticket's state as a coloured dot and a word: waiting for staff, closed, or not yet known.
Row {
    id: root

    property int status: 0

    readonly property color tone: root.status === 1 || root.status === 2 ? Theme.accentColor
                                : root.status === 4 ? Theme.subtleTextColor : Theme.mutedTextColor

    spacing: 6

    Rectangle {
        anchors.verticalCenter: parent.verticalCenter
        width: 8
        height: 8
        radius: 4
        color: root.tone
    }

    Label {
        objectName: "ticketStatusText"
        anchors.verticalCenter: parent.verticalCenter
        text: Translations.t(root.status === 1 || root.status === 2 ? "status_pending"
                             : root.status === 4 ? "status_closed" : "loading")
        color: root.tone
        font.pixelSize: Theme.metaFontSize
        font.weight: Theme.emphasisFontWeight
    }
}
