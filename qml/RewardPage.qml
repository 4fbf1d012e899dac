import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "storeformat.js" as StoreFormat

// The rewards section: the invite code to copy, the points, and one redemption of points for plan
// time, which is an order for the catalogue's first plan paid from the balance.
Item {
    id: root

    property bool active: false
    property bool inviteCopied: false
    property bool redeemBalanceInsufficient: false
    property bool redeemBalanceUnavailable: false
    property bool redeemCheckoutInProgress: false
    property string redeemDrawerErrorMessage: ""

    readonly property string inviteCode: auth.userReferCode
    readonly property real points: auth.userBalance
    readonly property var plan: store.subscriptionNames.length > 0 ? store.getSubscription(0) : ({})
    readonly property bool planReady: typeof root.plan.id === "number" && root.plan.id > 0
    // One point is one currency unit, the unit the store prices plans in.
    readonly property real planCost: Number(root.plan.unit_price) || 0
    readonly property string planTitle: StoreFormat.optionLabel(root.plan, 1, Translations.currentLanguage,
                                                                Translations.t)
    readonly property string planCostText: StoreFormat.points(root.planCost) + " " + Translations.t("points_unit")
    readonly property bool canRedeem: root.planReady && root.points >= root.planCost && store.hasBalancePaymentMethod

    signal loginRequested
    signal openStoreRequested

    function refreshPlan() {
        if (!auth.isLoggedIn)
            return
        store.fetchSubscriptions()
        store.fetchPaymentMethods()
    }

    function copyInviteCode() {
        clipboard.text = root.inviteCode
        clipboard.selectAll()
        clipboard.copy()
        clipboard.text = ""
        root.inviteCopied = true
        copiedTimer.restart()
    }

    function refuse(flag, key) {
        root[flag] = true
        flash.showError(Translations.t("reward_redeem_failed_title"), Translations.t(key))
        if (flag === "redeemBalanceInsufficient")
            insufficientTimer.restart()
        else
            unavailableTimer.restart()
    }

    function redeem() {
        if (!auth.isLoggedIn) {
            root.loginRequested()
            return
        }
        if (!root.planReady) {
            root.refreshPlan()
            return
        }
        if (root.points < root.planCost) {
            root.refuse("redeemBalanceInsufficient", "balance_insufficient")
            return
        }
        if (!store.hasBalancePaymentMethod) {
            root.refuse("redeemBalanceUnavailable", "balance_payment_unavailable")
            return
        }
        root.redeemDrawerErrorMessage = ""
        drawer.open()
    }

    function submitRedemption() {
        if (!root.planReady) {
            root.refreshPlan()
            return
        }
        root.redeemCheckoutInProgress = true
        if (!store.createBalanceOrder(root.plan.id, 1))
            root.redeemCheckoutInProgress = false
    }

    Component.onCompleted: {
        if (root.active)
            root.refreshPlan()
    }
    onActiveChanged: {
        if (root.active)
            root.refreshPlan()
    }

    Timer {
        id: copiedTimer

        interval: 1600
        onTriggered: root.inviteCopied = false
    }

    Timer {
        id: insufficientTimer

        interval: 1600
        onTriggered: root.redeemBalanceInsufficient = false
    }

    Timer {
        id: unavailableTimer

        interval: 1600
        onTriggered: root.redeemBalanceUnavailable = false
    }

    // The clipboard is reached through a text editor's copy; this one is never shown.
    TextEdit {
        id: clipboard

        visible: false
    }

    Connections {
        target: auth

        function onLoginSucceeded() {
            if (root.active)
                root.refreshPlan()
        }
        function onSessionRestored() {
            if (root.active)
                root.refreshPlan()
        }
    }

    Connections {
        target: store

        function onOrderCreated(orderNo) {
            if (root.redeemCheckoutInProgress)
                store.checkoutOrder(orderNo)
        }
        function onBalanceCheckoutCompleted(orderNo) {
            if (!root.redeemCheckoutInProgress)
                return
            root.redeemCheckoutInProgress = false
            root.redeemDrawerErrorMessage = ""
            drawer.close()
            flash.showSuccess(Translations.t("reward_redeem_success_title"),
                              Translations.t("reward_redeem_success_message"))
            auth.validateToken()
            subscribeHandler.fetchNodes()
        }
        // Failures while no redemption runs belong to the store page.
        function onOperationFailed(error) {
            if (!root.redeemCheckoutInProgress && !drawer.visible)
                return
            root.redeemCheckoutInProgress = false
            if (Translations.errorKey(error) === "error_auth_expired") {
                drawer.close()
                flash.showError(Translations.t("error_auth_expired_title"), Translations.t("error_auth_expired"))
                return
            }
            root.redeemDrawerErrorMessage = Translations.translateError(error)
            flash.showError(Translations.t("reward_redeem_failed_title"), root.redeemDrawerErrorMessage)
        }
    }

    Flickable {
        id: scroller

        anchors.fill: parent
        contentHeight: column.implicitHeight + 40
        boundsBehavior: Flickable.StopAtBounds
        interactive: contentHeight > height
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: column

            x: 20
            y: 20
            width: scroller.width - 40
            spacing: 16

            RewardInviteSection {
                Layout.fillWidth: true
                signedIn: auth.isLoggedIn
                inviteCode: root.inviteCode
                copied: root.inviteCopied
                onLoginClicked: root.loginRequested()
                onCopyClicked: root.copyInviteCode()
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Theme.dividerColor
            }

            RewardPointsSection {
                Layout.fillWidth: true
                signedIn: auth.isLoggedIn
                pointsText: StoreFormat.money(root.points)
                optionLabel: !auth.isLoggedIn ? Translations.t("points_placeholder")
                                              : root.planReady ? root.planTitle : Translations.t("loading")
                optionCost: !auth.isLoggedIn ? Translations.t("points_placeholder")
                                             : root.planReady ? root.planCostText : Translations.t("loading")
                redeemEnabled: !auth.isLoggedIn || root.planReady
                refused: root.redeemBalanceInsufficient || root.redeemBalanceUnavailable
                redeemText: Translations.t(root.redeemBalanceUnavailable ? "balance_payment_unavailable"
                                           : root.redeemBalanceInsufficient ? "balance_insufficient" : "redeem")
                onRedeemClicked: root.redeem()
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Theme.dividerColor
            }

            RewardInviteExample {
                Layout.fillWidth: true
            }
        }
    }

    PlanCheckoutDrawer {
        id: drawer

        objectName: "rewardCheckoutDrawer"
        pointsMode: true
        planTitle: root.planTitle
        planSubtitle: root.planCostText
        pointsBalance: root.points
        pointsCost: root.planCost
        actionText: Translations.t("redeem")
        actionInProgress: root.redeemCheckoutInProgress
        errorMessage: root.redeemDrawerErrorMessage
        canSubmit: root.canRedeem
        onSubmitRequested: root.submitRedemption()
    }

    FlashMessage {
        id: flash

        objectName: "rewardFlash"
    }
}
