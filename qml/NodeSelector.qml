import QtQuick
import QtQuick.Controls

// The line under a card's power button naming the route in use and, while connected, the node
// carrying the traffic; opens the node picker.
AbstractButton {
    id: root

    // "auto", "cluster" or "none" (nothing chosen and nothing remembered).
    property string selectionKind: "none"
    property string flagSource
    property string summary
    property string detail

    implicitHeight: detail !== "" ? 64 : 56
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: summary

    background: Rectangle {
        radius: 16
        color: root.pressed ? Theme.activeBackgroundColor
                            : (root.hovered ? Theme.hoverBackgroundColor : Theme.appBackgroundColor)
        border.width: root.activeFocus ? 1 : 0
        border.color: Theme.accentColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        id: leading

        x: 16
        anchors.verticalCenter: parent.verticalCenter
        width: 28
        height: 21

        AppIcon {
            anchors.centerIn: parent
            width: 20
            height: 20
            visible: root.selectionKind !== "cluster"
            source: root.selectionKind === "auto" ? "qrc:/icons/shuffle.svg" : "qrc:/icons/pin.svg"
            tint: Theme.accentColor
        }

        NodeFlag {
            anchors.fill: parent
            visible: root.selectionKind === "cluster"
            source: root.selectionKind === "cluster" ? root.flagSource : ""
            sourceWidth: 96
            sourceHeight: 72
        }
    }

    Column {
        anchors.left: leading.right
        anchors.leftMargin: 12
        anchors.right: chevron.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2

        Label {
            width: parent.width
            text: root.summary
            color: Theme.textColor
            font.pixelSize: Theme.emphasisFontSize
            font.weight: Theme.emphasisFontWeight
            elide: Text.ElideRight
        }

        Label {
            objectName: "nodeSelectorDetail"
            width: parent.width
            visible: root.detail !== ""
            text: root.detail
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize
            elide: Text.ElideRight
        }
    }

    AppIcon {
        id: chevron

        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        width: 18
        height: 18
        source: "qrc:/icons/chevron-right.svg"
        tint: Theme.mutedTextColor
    }
    
}
