import QtQuick
import QtQuick.Controls

// One announcement title in the page's card. Only the card's outer corners are round, so the
// first and last rows round their hover background on that side alone.
AbstractButton {
    id: root

    property string title
    property bool first: false
    property bool last: false

    implicitHeight: 58
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: title

    background: Item {
        clip: true

        Rectangle {
            readonly property int cornerRadius: 13

            anchors.fill: parent
            anchors.topMargin: root.first ? 0 : -cornerRadius
            anchors.bottomMargin: root.last ? 0 : -cornerRadius
            radius: root.first || root.last ? cornerRadius : 0
            color: root.pressed || root.hovered ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor
        }

        Rectangle {
            width: parent.width
            height: 1
            visible: !root.first
            color: Theme.dividerColor
        }
    }

    Item {
        anchors.fill: parent

        Label {
            objectName: "announcementRowTitle"
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.right: chevron.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: root.title
            color: Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            elide: Text.ElideRight
        }

        AppIcon {
            id: chevron

            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            source: "qrc:/icons/chevron-right.svg"
            tint: Theme.subtleTextColor
        }
    }
}
