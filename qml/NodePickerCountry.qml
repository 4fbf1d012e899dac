pragma ComponentBehavior: Bound
import QtQuick

// A country in the node picker: its row with the best latency of its nodes and, opened, each node
// with its own, fastest first.
Column {
    id: root

    required property string name
    property string subscriptionUrl
    property bool current: false
    // The node carrying the traffic, checked in the list.
    property string currentNode
    // Grows with every batch of new latencies.
    property int latencyRevision: 0
    property bool expanded: false

    signal chosen
    signal nodeChosen(string tag)

    // The revision argument only makes the bindings re-read the results when they change.
    function clusterDelay(revision) {
        return latency.clusterDelay(root.subscriptionUrl, root.name)
    }
    function clusterNodes(revision) {
        return root.expanded ? latency.clusterNodes(root.subscriptionUrl, root.name) : []
    }

    spacing: 2

    NodePickerRow {
        readonly property string shownName: subscribeHandler.clusterDisplayName(root.name,
                                                                              Translations.currentLanguage)

        objectName: "nodePickerRow_" + root.name
        expandObjectName: "nodePickerExpand_" + root.name
        width: root.width
        title: shownName !== "" ? shownName : Translations.t("node")
        flagSource: subscribeHandler.clusterFlagIconPath(root.name)
        current: root.current
        delay: root.clusterDelay(root.latencyRevision)
        expandable: true
        expanded: root.expanded
        onClicked: root.chosen()
        onExpandToggled: root.expanded = !root.expanded
    }

    Repeater {
        model: root.clusterNodes(root.latencyRevision)

        NodePickerNodeRow {
            required property var modelData

            width: root.width
            tag: modelData.tag
            delay: modelData.delay
            current: root.currentNode !== "" && modelData.tag === root.currentNode
            onClicked: root.nodeChosen(modelData.tag)
        }
    }
}
