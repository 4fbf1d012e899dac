import QtQuick
import QtQuick.Controls

// One choice in the node picker: the automatic route, or a country with its flag, each with its
// best latency; a country opens to list its nodes.
AbstractButton {
    id: root

    property bool automatic: false
    property string title
    property string subtitle
    property string flagSource
    // The route in use right now; marked with a check.
    property bool current: false
    property int delay: Figures.unknownDelay
    property bool expandable: false
    property bool expanded: false
    property alias expandObjectName: expand.objectName

    signal expandToggled

    implicitHeight: subtitle !== "" ? 68 : 56
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.name: title

    background: Rectangle {
        radius: Theme.menuItemRadius
        color: root.pressed ? Theme.activeBackgroundColor
                            : root.current ? Theme.activeBackgroundColor
                                           : root.hovered ? Theme.hoverBackgroundColor
                                                          : Theme.hoverBackgroundTransparentColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        id: leading

        x: 12
        anchors.verticalCenter: parent.verticalCenter
        width: 36
        height: root.automatic ? 36 : 24

        Rectangle {
            anchors.fill: parent
            visible: root.automatic
            radius: width / 2
            color: Qt.rgba(Theme.accentColor.r, Theme.accentColor.g, Theme.accentColor.b, 0.14)

            AppIcon {
                anchors.centerIn: parent
                width: 18
                height: 18
                source: "qrc:/icons/shuffle.svg"
                tint: Theme.accentColor
            }
        }

        NodeFlag {
            anchors.centerIn: parent
            width: 32
            height: 24
            visible: !root.automatic
            source: root.automatic ? "" : root.flagSource
            sourceWidth: 88
            sourceHeight: 66
        }
    }

    Column {
        anchors.left: leading.right
        anchors.leftMargin: 12
        anchors.right: badge.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2

        Label {
            width: parent.width
            text: root.title
            color: root.current ? Theme.accentStrongColor : Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: root.current ? Theme.strongFontWeight : Theme.emphasisFontWeight
            elide: Text.ElideRight
        }

        Label {
            width: parent.width
            visible: root.subtitle !== ""
            text: root.subtitle
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize
            elide: Text.ElideRight
        }
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
        width: 20
        height: 20
        opacity: root.current ? 1 : 0
        source: "qrc:/icons/check.svg"
        tint: Theme.accentColor

        Behavior on opacity {
            NumberAnimation {
                duration: 160
                easing.type: Easing.OutCubic
            }
        }
    }

    AbstractButton {
        id: expand

        anchors.right: parent.right
        anchors.rightMargin: 6
        anchors.verticalCenter: parent.verticalCenter
        width: 32
        height: 32
        visible: root.expandable
        hoverEnabled: true
        Accessible.name: Translations.t("expand_nodes")
        onClicked: root.expandToggled()

        background: Rectangle {
            radius: 10
            color: expand.hovered ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor
        }
        contentItem: Item {
            AppIcon {
                anchors.centerIn: parent
                width: 16
                height: 16
                rotation: root.expanded ? 180 : 0
                source: "qrc:/icons/chevron-down.svg"
                tint: Theme.mutedTextColor

                Behavior on rotation {
                    NumberAnimation {
                        duration: 160
                        easing.type: Easing.OutCubic
                    }
                }
            }
        }
    }
}
