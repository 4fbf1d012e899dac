import QtQuick

// The connect section: a card per subscription with its power button and route, the node
// picker, the free plan claim, and a way to sign in or buy when there is nothing to connect.
Item {
    id: root

    property bool active: false
    property bool pendingInitialSubscriptionLoad: false
    property alias claimFreeInProgress: freePlan.inProgress
    property string fetchErrorMessage: ""
    property alias pendingConnectAction: privilegeCheck.pendingConnectAction
    property alias pendingConnectSubscriptionUrl: privilegeCheck.pendingConnectSubscriptionUrl
    property string pendingResumeProgressSubscriptionUrl: ""
    property bool nodePickerOpen: false
    property int nodePickerSubscriptionIndex: -1
    property string nodePickerSubscriptionUrl: ""
    property var nodePickerNodes: []
    // A refresh behind the kept list (the panel was out of reach) does not cover it.
    readonly property bool showingSubscriptionLoadingState: auth.isLoggedIn
        && (auth.isInitializing || ((subscribeHandler.isLoading || pendingInitialSubscriptionLoad)
                                    && !subscribeHandler.offline))
    readonly property bool canShowStartupAnnouncement: active && !showingSubscriptionLoadingState
    // Counts list replacements, so cards re-read entries even when the count stays the same.
    property int subscriptionListRevision: 0

    signal showMessage(string title, string text)
    signal openStoreRequested
    signal loginRequested
    signal connectProgressRequested(int subscriptionIndex)
    signal reconnectFlashRequested(int subscriptionIndex)

    function refreshSubscriptions() {
        if (!auth.isLoggedIn) {
            pendingInitialSubscriptionLoad = false
            refreshTimer.stop()
            return
        }
        pendingInitialSubscriptionLoad = true
        refreshTimer.restart()
    }

    function claimFreePlan() {
        freePlan.claim()
    }

    function cardAt(index) {
        return list.cardAt(index)
    }

    function togglePower(index) {
        if (!auth.isLoggedIn) {
            loginRequested()
            return
        }
        const card = cardAt(index)
        if (!card || card.animating)
            return
        card.pulse()
        if (card.isActiveSubscription) {
            service.ToggleConnection()
            return
        }
        const url = card.url
        connectProgressRequested(index)
        connectWithPrivilegeCheck(url, function () {
            if (service.isConnected)
                service.ToggleConnection()
            service.selectSubscription(url)
            service.ToggleConnection()
        })
    }

    // Runs `action` once administrator rights for TUN mode are held, asking for them first.
    function connectWithPrivilegeCheck(url, action) {
        privilegeCheck.run(url, action)
    }

    // Plays the connect animation of a resumed connection once its card exists.
    function resumePendingProgress() {
        const url = pendingResumeProgressSubscriptionUrl
        if (url === "")
            return
        for (let i = 0; i < list.cardCount; ++i) {
            const card = cardAt(i)
            if (card && card.url === url) {
                pendingResumeProgressSubscriptionUrl = ""
                connectProgressRequested(i)
                return
            }
        }
    }

    function openNodePicker(index, url) {
        nodePickerSubscriptionIndex = index
        nodePickerSubscriptionUrl = url
        nodePickerNodes = subscribeHandler.getNodes(index)
        nodePickerOpen = true
        // Latencies of this session show at once; only a first opening measures.
        latency.testIfNeeded(url)
    }

    function closeNodePicker() {
        nodePickerOpen = false
    }

    // Auto (an empty cluster and tag), a country, or one pinned node.
    function chooseRoute(cluster, tag) {
        const index = nodePickerSubscriptionIndex
        const url = nodePickerSubscriptionUrl
        if (service.isConnected && service.selectedSubscription !== url) {
            showMessage(Translations.t("different_subscription"),
                        Translations.t("different_subscription_msg"))
            return
        }
        const current = tag !== "" ? picker.connectedHere && tag === service.selectedProxy
                                   : (cluster === "" ? picker.autoActive
                                                     : picker.activeCluster !== ""
                                                       && cluster === picker.activeCluster)
        if (current) {
            closeNodePicker()
            return
        }
        const select = () => tag !== "" ? service.selectProxy(tag)
                                        : (cluster === "" ? service.selectAutoRoute()
                                                          : service.selectCluster(cluster))
        if (service.isConnected) {
            select()
            reconnectFlashRequested(index)
            closeNodePicker()
            return
        }
        service.selectSubscription(url)
        const chosen = select()
        closeNodePicker()
        if (!chosen)
            return
        connectProgressRequested(index)
        connectWithPrivilegeCheck(url, function () {
            service.selectSubscription(url)
            if (!service.isConnected)
                service.ToggleConnection()
        })
    }

    onActiveChanged: {
        if (active) {
            if (auth.isLoggedIn && !auth.isInitializing)
                refreshSubscriptions()
        } else {
            refreshTimer.stop()
            pendingInitialSubscriptionLoad = false
        }
    }
    onConnectProgressRequested: index => {
        const card = cardAt(index)
        if (card)
            card.playConnect()
    }
    onReconnectFlashRequested: index => {
        const card = cardAt(index)
        if (card)
            card.playReconnect()
    }

    // The live traffic streams only while this page is on screen.
    Binding {
        target: traffic
        property: "watching"
        value: root.active && root.Window.window !== null && root.Window.window.visible
               && root.Window.visibility !== Window.Minimized
    }

    Timer {
        id: refreshTimer

        interval: 280
        onTriggered: {
            if (root.active && auth.isLoggedIn)
                subscribeHandler.fetchNodes()
            else
                root.pendingInitialSubscriptionLoad = false
        }
    }

    Connections {
        target: subscribeHandler

        function onSubscriptionsChanged() {
            root.subscriptionListRevision += 1
        }
        function onNodesFetched() {
            root.pendingInitialSubscriptionLoad = false
            root.fetchErrorMessage = ""
            root.resumePendingProgress()
        }
        function onFetchFailed(error) {
            root.pendingInitialSubscriptionLoad = false
            const key = Translations.errorKey(error)
            if (key === "error_auth_expired") {
                root.fetchErrorMessage = ""
                flash.showError(Translations.t("error_auth_expired_title"), Translations.t(key))
                return
            }
            root.fetchErrorMessage = key !== "" ? Translations.t(key) : Translations.translateError(error)
        }
    }

    Connections {
        target: auth

        function onIsLoggedInChanged() {
            if (auth.isLoggedIn)
                return
            root.pendingInitialSubscriptionLoad = false
            root.claimFreeInProgress = false
            root.fetchErrorMessage = ""
        }
    }

    Connections {
        target: service

        function onPendingConnectionResumeStarted(subscriptionUrl) {
            root.pendingResumeProgressSubscriptionUrl = subscriptionUrl
            root.resumePendingProgress()
        }
    }

    SubscriptionsList {
        id: list

        objectName: "subscriptionsList"
        anchors.fill: parent
        fetchErrorMessage: root.fetchErrorMessage
        listRevision: root.subscriptionListRevision
        claimEnabled: root.active && !root.claimFreeInProgress
        claimBusy: root.claimFreeInProgress
        onPowerClicked: index => root.togglePower(index)
        onNodeSelectorClicked: (index, url) => root.openNodePicker(index, url)
        onClaimClicked: root.claimFreePlan()
        onEmptyStateActivated: {
            if (root.showingSubscriptionLoadingState)
                return
            if (auth.isLoggedIn)
                root.openStoreRequested()
            else
                root.loginRequested()
        }
    }

    NodePicker {
        id: picker

        width: parent.width
        height: parent.height
        z: 10
        open: root.nodePickerOpen
        nodes: root.nodePickerNodes
        subscriptionIndex: root.nodePickerSubscriptionIndex
        subscriptionUrl: root.nodePickerSubscriptionUrl
        onBackRequested: root.closeNodePicker()
        onRefreshRequested: latency.test(root.nodePickerSubscriptionUrl)
        onAutoChosen: root.chooseRoute("", "")
        onClusterChosen: name => root.chooseRoute(name, "")
        onNodeChosen: tag => root.chooseRoute("", tag)
    }

    PageLoadingOverlay {
        active: root.showingSubscriptionLoadingState
        coverWindow: false
    }

    FlashMessage {
        id: flash

        objectName: "subscriptionsFlash"
    }

    PrivilegeCheck {
        id: privilegeCheck
    }

    FreePlanClaim {
        id: freePlan

        flash: flash
        onLoginRequested: root.loginRequested()
    }
}
