import QtQuick
import QtQuick.Controls

// One subscription: the power button with its status, and the route it connects through. The
// selection shown comes from the running tunnel when this subscription is connected and from
// the remembered choice otherwise.
Rectangle {
    id: root

    required property int index
    // Bumped by the page whenever the handler's list is replaced, so the card reads it again.
    property int listRevision: 0

    readonly property var subData: readSubscription(index, listRevision,
                                                    subscribeHandler.subscriptionCount)
    readonly property string url: subData && subData.url ? String(subData.url) : ""
    readonly property int selectionRevision: subscribeHandler.rememberedSelectionRevision
    readonly property bool isActiveSubscription: service.isConnected && url !== ""
                                                 && service.selectedSubscription === url
    readonly property bool isAutoSelected: isActiveSubscription
                                           ? service.autoRoute
                                           : rememberedAuto(url, selectionRevision)
    readonly property string selectedCluster: {
        if (isAutoSelected)
            return ""
        if (isActiveSubscription)
            return subscribeHandler.clusterForTag(index, service.selectedProxy)
        return rememberedCluster(url, selectionRevision)
    }
    readonly property string nodeSummary: isAutoSelected || selectedCluster === ""
                                          ? Translations.t("auto_route")
                                          : subscribeHandler.clusterDisplayName(
                                                selectedCluster, Translations.currentLanguage)

    property bool connecting: false
    property bool reconnecting: false
    readonly property bool animating: connectAnimation.running || reconnectAnimation.running
    // While a connection is being made the card keeps the not-connected look.
    readonly property bool shownConnected: isActiveSubscription && !connecting && !reconnecting
    // Connected, but the node in use does not answer: not the green "Connected".
    readonly property bool noResponse: shownConnected && !service.nodeResponding
    readonly property string statusText: Translations.t(
        connecting || reconnecting ? "connecting_status"
                                   : (noResponse ? "connected_no_response"
                                                 : (shownConnected ? "connected_status"
                                                                   : "tap_connect")))

    signal powerClicked
    signal nodeSelectorClicked

    // The revision arguments only make the bindings re-read the handler when they change.
    function readSubscription(position, revision, count) {
        return position < count ? subscribeHandler.getSubscription(position) : ({})
    }
    function rememberedAuto(subscriptionUrl, revision) {
        return subscribeHandler.rememberedAutoForSubscription(subscriptionUrl)
    }
    function rememberedCluster(subscriptionUrl, revision) {
        return subscribeHandler.rememberedClusterForSubscription(subscriptionUrl)
    }

    function playConnect() {
        reconnectAnimation.stop()
        reconnecting = false
        connectAnimation.restart()
    }
    function playReconnect() {
        connectAnimation.stop()
        connecting = false
        reconnectAnimation.restart()
    }
    function pulse() {
        powerButton.pulse()
    }

    objectName: "subscriptionCard" + index
    implicitHeight: hero.height + (trafficPanel.visible ? trafficPanel.height + 12 : 0)
                    + selector.height + plan.height + 28
    radius: 24
    color: Theme.surfaceColor
    border.width: 1
    border.color: Theme.hairlineColor
    clip: true

    // A wash of the accent colour from the top while connected.
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 1
        height: hero.height
        radius: root.radius
        opacity: root.shownConnected ? 1 : 0
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Qt.rgba(Theme.accentColor.r, Theme.accentColor.g, Theme.accentColor.b,
                               Theme.darkMode ? 0.16 : 0.10)
            }
            GradientStop {
                position: 1
                color: Qt.rgba(Theme.accentColor.r, Theme.accentColor.g, Theme.accentColor.b, 0)
            }
        }

        Behavior on opacity {
            NumberAnimation {
                duration: 320
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        id: hero

        width: parent.width
        height: 300

        PowerButton {
            id: powerButton

            objectName: "subscriptionPowerButton" + root.index
            anchors.horizontalCenter: parent.horizontalCenter
            y: 44
            connected: root.shownConnected
            onClicked: root.powerClicked()
        }

        Label {
            objectName: "subscriptionStatus" + root.index
            anchors.top: powerButton.bottom
            anchors.topMargin: 24
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.margins: 16
            horizontalAlignment: Text.AlignHCenter
            text: root.statusText
            color: root.noResponse ? Theme.dangerColor
                                   : (root.shownConnected ? Theme.accentColor : Theme.textColor)
            font.pixelSize: 20
            font.weight: Theme.strongFontWeight
            elide: Text.ElideRight

            Behavior on color {
                ColorAnimation {
                    duration: 260
                    easing.type: Easing.OutCubic
                }
            }
        }

        AuthLink {
            objectName: "subscriptionRetry" + root.index
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 4
            visible: root.noResponse
            enabled: !service.checkingConnection
            text: Translations.t("retry")
            onClicked: service.retryConnection()
        }
    }

    TrafficPanel {
        id: trafficPanel

        objectName: "subscriptionTraffic" + root.index
        anchors.top: hero.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        visible: root.shownConnected
    }

    NodeSelector {
        id: selector

        objectName: "subscriptionNodeSelector" + root.index
        anchors.top: trafficPanel.visible ? trafficPanel.bottom : hero.bottom
        anchors.topMargin: trafficPanel.visible ? 12 : 0
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        selectionKind: root.isAutoSelected ? "auto" : (root.selectedCluster !== "" ? "cluster" : "none")
        flagSource: root.selectedCluster !== ""
                    ? subscribeHandler.clusterFlagIconPath(root.selectedCluster) : ""
        summary: root.nodeSummary
        detail: root.isActiveSubscription && service.selectedProxy !== ""
                ? Translations.t("via_node").arg(service.selectedProxy) : ""
        onClicked: root.nodeSelectorClicked()
    }

    PlanSummary {
        id: plan

        objectName: "subscriptionPlan" + root.index
        anchors.top: selector.bottom
        anchors.topMargin: 8
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 16
        subscription: root.subData
    }

    SequentialAnimation {
        id: connectAnimation

        PropertyAction {
            target: root
            property: "connecting"
            value: true
        }
        PropertyAction {
            target: powerButton
            properties: "ringStart,ringEnd"
            value: 0
        }
        NumberAnimation {
            target: powerButton
            property: "ringEnd"
            to: 1
            duration: 1500
            easing.type: Easing.InOutSine
        }
        PropertyAction {
            target: root
            property: "connecting"
            value: false
        }
        PauseAnimation {
            duration: 200
        }
        NumberAnimation {
            target: powerButton
            property: "ringStart"
            to: 1
            duration: 220
            easing.type: Easing.OutCubic
        }
        PropertyAction {
            target: powerButton
            properties: "ringStart,ringEnd"
            value: 0
        }
    }

    SequentialAnimation {
        id: reconnectAnimation

        PropertyAction {
            target: root
            property: "reconnecting"
            value: true
        }
        PropertyAction {
            target: powerButton
            properties: "ringStart,ringEnd"
            value: 0
        }
        NumberAnimation {
            target: powerButton
            property: "ringEnd"
            to: 1
            duration: 1500
            easing.type: Easing.InOutSine
        }
        PropertyAction {
            target: root
            property: "reconnecting"
            value: false
        }
        NumberAnimation {
            target: powerButton
            property: "ringStart"
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
        PropertyAction {
            target: powerButton
            properties: "ringStart,ringEnd"
            value: 0
        }
    }
}
