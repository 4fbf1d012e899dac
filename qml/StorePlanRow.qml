import QtQuick
import QtQuick.Controls

// One plan and duration in the store: name and badge, the duration with its price per day, and
// the price, with the price before the panel's discount struck through when there is one.
AbstractButton {
    id: root

    property string title
    property string subtitle
    property string priceText
    property string originalText
    property string badgeText

    implicitHeight: 72
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: title + " " + subtitle + " " + priceText

    background: Rectangle {
        radius: Theme.menuItemRadius
        color: root.pressed ? Theme.activeBackgroundColor
                            : root.hovered ? Theme.hoverBackgroundColor : Theme.surfaceColor
        border.width: 1
        border.color: root.hovered ? Theme.accentColor : Theme.dividerColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        anchors.fill: parent

        Column {
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.right: prices.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 4

            Row {
                width: parent.width
                spacing: 8

                Label {
                    objectName: "storePlanTitle"
                    width: Math.min(implicitWidth, parent.width - (badge.visible ? badge.width + 8 : 0))
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.title
                    color: Theme.textColor
                    font.pixelSize: Theme.bodyFontSize
                    font.weight: Theme.emphasisFontWeight
                    elide: Text.ElideRight
                }

                Label {
                    id: badge

                    objectName: "storePlanBadge"
                    anchors.verticalCenter: parent.verticalCenter
                    visible: root.badgeText !== ""
                    leftPadding: 7
                    rightPadding: 7
                    topPadding: 2
                    bottomPadding: 2
                    text: root.badgeText
                    color: Theme.contentBackgroundColor
                    font.pixelSize: Theme.captionFontSize - 1
                    font.weight: Theme.strongFontWeight
                    background: Rectangle {
                        radius: height / 2
                        color: Theme.dangerColor
                    }
                }
            }

            Label {
                objectName: "storePlanSubtitle"
                width: parent.width
                text: root.subtitle
                color: Theme.mutedTextColor
                font.pixelSize: Theme.metaFontSize
                elide: Text.ElideRight
            }
        }

        Column {
            id: prices

            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2

            Label {
                objectName: "storePlanPrice"
                anchors.right: parent.right
                text: root.priceText
                color: Theme.accentColor
                font.pixelSize: 18
                font.weight: Theme.strongFontWeight
            }

            Label {
                objectName: "storePlanOriginalPrice"
                anchors.right: parent.right
                visible: root.originalText !== ""
                text: root.originalText
                color: Theme.subtleTextColor
                font.pixelSize: Theme.metaFontSize
                font.strikeout: true
            }
        }
    }
}
