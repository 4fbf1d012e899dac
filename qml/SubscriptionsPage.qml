import QtQuick

// The connect section: a card per subscription with its power button and route, the node
// picker, the free plan claim, and a way to sign in or buy when there is nothing to connect.
Item {
    id: root

    property bool active: false
    property bool pendingInitialSubscriptionLoad: false
    property bool claimFreeInProgress: false
    property string fetchErrorMessage: ""
    property alias pendingConnectAction: privilegeCheck.pendingConnectAction
    property alias pendingConnectSubscriptionUrl: privilegeCheck.pendingConnectSubscriptionUrl
    property string pendingResumeProgressSubscriptionUrl: ""
    property bool nodePickerOpen: false
    property int nodePickerSubscriptionIndex: -1
    property string nodePickerSubscriptionUrl: ""
    property var nodePickerNodes: []
    readonly property bool showingSubscriptionLoadingState: auth.isLoggedIn
        && (auth.isInitializing || subscribeHandler.isLoading || pendingInitialSubscriptionLoad)
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

    // Rounded up to whole minutes, so 30 s read as 1 m and 3600 s as 1 h.
    function formatClaimWaitTime(seconds) {
        const value = Math.max(0, Number(seconds) || 0)
        if (value <= 0)
            return Translations.t("free_plan_claim_unavailable")
        const totalMinutes = Math.max(1, Math.ceil(value / 60))
        const hours = Math.floor(totalMinutes / 60)
        const minutes = totalMinutes % 60
        if (hours > 0) {
            return minutes === 0 ? Translations.t("free_plan_claim_wait_hours_only").arg(hours)
                                 : Translations.t("free_plan_claim_wait_hours").arg(hours).arg(minutes)
        }
        return Translations.t("free_plan_claim_wait_minutes").arg(minutes)
    }

    function claimFreePlan() {
        if (claimFreeInProgress)
            return
        if (!auth.isLoggedIn) {
            loginRequested()
            return
        }
        claimFreeInProgress = true
        if (!subscribeHandler.claimFreeSubscription())
            claimFreeInProgress = false
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
    }

    function closeNodePicker() {
        nodePickerOpen = false
    }

    function chooseNode(automatic, cluster) {
        const index = nodePickerSubscriptionIndex
        const url = nodePickerSubscriptionUrl
        if (service.isConnected && service.selectedSubscription !== url) {
            showMessage(Translations.t("different_subscription"),
                        Translations.t("different_subscription_msg"))
            return
        }
        if (automatic ? picker.autoActive : (picker.activeCluster !== "" && cluster === picker.activeCluster)) {
            closeNodePicker()
            return
        }
        const tag = automatic ? subscribeHandler.randomTagForSubscription(index)
                              : subscribeHandler.randomTagForCluster(index, cluster)
        if (tag === "") {
            closeNodePicker()
            return
        }
        const select = tagToSelect => automatic ? service.selectProxyAuto(tagToSelect)
                                                : service.selectProxy(tagToSelect)
        if (service.isConnected) {
            select(tag)
            reconnectFlashRequested(index)
            closeNodePicker()
            return
        }
        service.selectSubscription(url)
        if (!select(tag)) {
            closeNodePicker()
            return
        }
        closeNodePicker()
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
        function onFreeSubscriptionClaimed() {
            root.claimFreeInProgress = false
            flash.showSuccess(Translations.t("free_plan_claimed_title"),
                              Translations.t("free_plan_claimed_message"))
        }
        function onFreeSubscriptionClaimUnavailable(remainingSeconds) {
            root.claimFreeInProgress = false
            flash.showError(Translations.t("free_plan_claim_unavailable_title"),
                            root.formatClaimWaitTime(remainingSeconds))
        }
        function onFreeSubscriptionClaimFailed(error) {
            root.claimFreeInProgress = false
            if (Translations.errorKey(error) === "error_auth_expired")
                flash.showError(Translations.t("error_auth_expired_title"), Translations.t("error_auth_expired"))
            else
                flash.showError(Translations.t("free_plan_claim_failed_title"), Translations.translateError(error))
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
        onAutoChosen: root.chooseNode(true, "")
        onClusterChosen: name => root.chooseNode(false, name)
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
}
