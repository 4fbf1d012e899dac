pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The countries of one subscription, sliding in over the connect page from the right, each with
// its best latency and, opened, its nodes. The page decides what a choice does; this only shows
// the rows and which one is in use.
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
    readonly property bool testing: latency.testing
                                    && latency.testingSubscription === subscriptionUrl

    signal backRequested
    signal refreshRequested
    signal autoChosen
    signal clusterChosen(string name)
    signal nodeChosen(string tag)

    function bestDelay(revision) {
        return latency.bestDelay(root.subscriptionUrl)
    }

    objectName: "nodePicker"
    // Focused while open, so Esc goes back as the back button does.
    onOpenChanged: if (open) forceActiveFocus()
    Keys.onEscapePressed: root.backRequested()
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

    NodePickerHeader {
        id: header

        width: parent.width
        testing: root.testing
        onBackRequested: root.backRequested()
        onRefreshRequested: root.refreshRequested()
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
                delay: root.bestDelay(latency.revision)
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

                NodePickerCountry {
                    required property var modelData

                    name: modelData && modelData.name ? String(modelData.name) : ""
                    width: rows.width
                    subscriptionUrl: root.subscriptionUrl
                    latencyRevision: latency.revision
                    current: !root.autoActive && name !== "" && name === root.activeCluster
                    currentNode: root.connectedHere ? service.selectedProxy : ""
                    onChosen: root.clusterChosen(name)
                    onNodeChosen: tag => root.nodeChosen(tag)
                }
            }
        }
    }
}
