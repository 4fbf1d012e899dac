pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The countries of one subscription, sliding in over the connect page from the right. The page
// decides what a choice does; this only shows the rows and which one is in use.
Rectangle {
    id: root

    property bool open: false
    // Cluster entries ({name, count, hasVip}) taken when the picker opened.
    property var nodes: []
    property int subscriptionIndex: -1
    property string subscriptionUrl
    // Check marks follow the running tunnel, and only on the subscription it runs.
    readonly property bool connectedHere: service.isConnected && subscriptionUrl !== ""
                                          && service.selectedSubscription === subscriptionUrl
    readonly property bool autoActive: connectedHere && service.autoRoute
    readonly property string activeCluster: connectedHere && !service.autoRoute
                                            ? subscribeHandler.clusterForTag(subscriptionIndex,
                                                                             service.selectedProxy)
                                            : ""

    signal backRequested
    signal autoChosen
    signal clusterChosen(string name)

    objectName: "nodePicker"
    color: Theme.contentBackgroundColor
    x: open ? 0 : width
    visible: x < width - 0.5

    Behavior on x {
        NumberAnimation {
            duration: 260
            easing.type: Easing.OutCubic
        }
    }

    // Nothing under the picker may take a click or a wheel while it is shown.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        onWheel: wheel => wheel.accepted = true
    }

    Item {
        id: header

        width: parent.width
        height: 56

        AbstractButton {
            id: back

            objectName: "nodePickerBack"
            x: 8
            anchors.verticalCenter: parent.verticalCenter
            width: 40
            height: 40
            hoverEnabled: true
            Accessible.name: Translations.t("choose_country")
            onClicked: root.backRequested()

            background: Rectangle {
                radius: 12
                color: back.pressed ? Theme.activeBackgroundColor
                                    : (back.hovered ? Theme.hoverBackgroundColor
                                                    : Theme.hoverBackgroundTransparentColor)
            }
            contentItem: Item {
                AppIcon {
                    anchors.centerIn: parent
                    source: "qrc:/icons/arrow-left.svg"
                }
            }
        }

        Label {
            anchors.left: back.right
            anchors.leftMargin: 8
            anchors.right: parent.right
            anchors.rightMargin: 56
            anchors.verticalCenter: parent.verticalCenter
            text: Translations.t("choose_country")
            color: Theme.textColor
            font.pixelSize: 18
            font.weight: Theme.strongFontWeight
            elide: Text.ElideRight
        }

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: Theme.dividerColor
        }
    }

    Flickable {
        id: list

        anchors.top: header.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        contentHeight: rows.height + 24
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        Column {
            id: rows

            x: 12
            y: 12
            width: list.width - 24
            spacing: 4

            NodePickerRow {
                objectName: "nodePickerAutoRow"
                width: parent.width
                automatic: true
                title: Translations.t("auto_route")
                subtitle: Translations.t("auto_route_subtitle")
                current: root.autoActive
                onClicked: root.autoChosen()
            }

            Rectangle {
                x: 12
                width: parent.width - 24
                height: 1
                visible: root.nodes.length > 0
                color: Theme.dividerColor
            }

            Repeater {
                model: root.nodes

                NodePickerRow {
                    required property var modelData
                    readonly property string name: modelData && modelData.name
                                                   ? String(modelData.name) : ""
                    readonly property string shownName: subscribeHandler.clusterDisplayName(name,
                                                                                      Translations.currentLanguage)

                    objectName: "nodePickerRow_" + name
                    width: rows.width
                    title: shownName !== "" ? shownName : Translations.t("node")
                    flagSource: subscribeHandler.clusterFlagIconPath(name)
                    current: !root.autoActive && name !== "" && name === root.activeCluster
                    onClicked: root.clusterChosen(name)
                }
            }
        }
    }
}
