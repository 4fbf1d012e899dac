import QtQuick
import QtQuick.Controls

// One node of an expanded country in the picker: its tag and latency; choosing it pins it.
AbstractButton {
    id: root

    property string tag
    property int delay: Figures.unknownDelay
    property bool current: false

    objectName: "nodePickerNode_" + root.tag
    implicitHeight: 40
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: root.tag

    background: Rectangle {
        radius: Theme.menuItemRadius - 4
        color: root.pressed || root.current ? Theme.activeBackgroundColor
                                            : root.hovered ? Theme.hoverBackgroundColor
                                                           : Theme.hoverBackgroundTransparentColor
    }

    Label {
        anchors.left: parent.left
        anchors.leftMargin: 60
        anchors.right: badge.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        text: root.tag
        color: root.current ? Theme.accentStrongColor : Theme.textColor
        font.pixelSize: Theme.metaFontSize + 1
        elide: Text.ElideRight
    }

    LatencyBadge {
        id: badge

        anchors.right: check.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        delay: root.delay
    }

    AppIcon {
        id: check

        anchors.right: parent.right
        anchors.rightMargin: 46
        anchors.verticalCenter: parent.verticalCenter
        width: 16
        height: 16
        opacity: root.current ? 1 : 0
        source: "qrc:/icons/check.svg"
        tint: Theme.accentColor
    }
}
