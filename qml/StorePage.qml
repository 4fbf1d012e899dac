import QtQuick
import "storeformat.js" as StoreFormat

// The store section: one row per plan and duration, priced in the background; the checkout
// sheet for the chosen row; and the purchase, which pays in the system browser while the payment
// overlay polls the order until it is settled.
Item {
    id: root

    property bool active: false
    property bool menuOpen: false
    property int selectedSubIndex: -1
    property int selectedPlanOptionIndex: 0
    property int selectedPaymentIndex: -1
    property bool hasOrderPreview: false
    property bool previewLoading: false
    property bool couponApplyInProgress: false
    property bool pendingPageRefresh: false
    property string pendingCoupon: ""
    property string appliedCoupon: ""
    property string drawerErrorMessage: ""
    property string inlineErrorMessage: ""
    property alias purchaseInProgress: payment.purchaseInProgress
    property alias paymentOverlayOpen: payment.overlayOpen
    property alias paymentState: payment.paymentState
    property alias paymentStatusDetail: payment.detail
    property alias paymentOrderNo: payment.orderNo
    property alias paymentPollAttempts: payment.pollAttempts
    property alias paymentPollMaxAttempts: payment.pollMaxAttempts
    property alias paymentPollIntervalMs: payment.pollIntervalMs

    readonly property var catalogueRows: catalogue.rows
    readonly property var selectedRow: catalogue.selectedRow
    readonly property bool canSubmit: root.selectedSubIndex >= 0 && root.selectedPaymentIndex >= 0
    readonly property bool showingPageLoading: (root.pendingPageRefresh || store.isLoading)
                                               && !root.paymentOverlayOpen && !drawer.visible
                                               && !root.previewLoading && !root.purchaseInProgress
                                               && !root.couponApplyInProgress

    function scheduleStoreRefresh() {
        if (!auth.isLoggedIn) {
            root.pendingPageRefresh = false
            root.inlineErrorMessage = ""
            return
        }
        root.pendingPageRefresh = true
        refreshTimer.restart()
    }

    function clearSelection() {
        root.selectedSubIndex = -1
        root.selectedPlanOptionIndex = 0
        root.hasOrderPreview = false
        root.pendingCoupon = ""
        root.appliedCoupon = ""
        root.drawerErrorMessage = ""
    }

    function choosePlan(subIndex, optionIndex) {
        root.clearSelection()
        root.selectedSubIndex = subIndex
        root.selectedPlanOptionIndex = optionIndex
        root.inlineErrorMessage = ""
        drawer.resetCoupon()
        if (root.selectedPaymentIndex >= 0)
            root.refreshOrderPreview(undefined, false)
        drawer.open()
    }

    function choosePayment(index) {
        root.selectedPaymentIndex = index
        root.hasOrderPreview = false
        root.refreshOrderPreview(undefined, false)
    }

    // Without a coupon given the applied one stays; "" given removes it. The last breakdown
    // stays up while the next one loads or fails.
    function refreshOrderPreview(coupon, applyingCoupon) {
        if (root.selectedSubIndex < 0 || root.selectedPaymentIndex < 0 || !root.selectedRow)
            return
        const chosen = coupon === undefined || coupon === null ? root.appliedCoupon : String(coupon)
        root.couponApplyInProgress = applyingCoupon
        root.pendingCoupon = chosen
        root.drawerErrorMessage = ""
        root.previewLoading = true
        if (!store.preCreateOrder(catalogue.selectedPlanId, root.selectedRow.quantity,
                                  catalogue.selectedPaymentId > 0 ? catalogue.selectedPaymentId : -1, chosen)) {
            root.previewLoading = false
            root.couponApplyInProgress = false
        }
    }

    function applyCoupon(text) {
        root.refreshOrderPreview(String(text).trim(), true)
    }

    function purchase() {
        if (!root.canSubmit || !root.selectedRow)
            return
        const quantity = root.selectedRow.quantity
        payment.begin()
        drawer.close()
        if (!store.createOrder(catalogue.selectedPlanId, quantity, catalogue.selectedPaymentId, root.appliedCoupon))
            payment.createOrderRefused()
    }

    function showAuthExpired(error) {
        const message = Translations.translateError(error)
        flash.showError(Translations.t("error_auth_expired_title"),
                        message !== "" ? message : Translations.t("error_auth_expired"))
    }

    function handleStoreFailure(error) {
        if (!root.active && !root.purchaseInProgress && !root.couponApplyInProgress)
            return
        const message = Translations.translateError(error)
        if (Translations.errorKey(error) === "error_auth_expired") {
            root.couponApplyInProgress = false
            drawer.close()
            payment.close()
            root.showAuthExpired(error)
        } else if (root.paymentOverlayOpen && root.purchaseInProgress) {
            payment.fail(message)
        } else if (root.couponApplyInProgress) {
            root.drawerErrorMessage = /coupon/i.test(String(error)) ? Translations.t("coupon_invalid") : message
            root.couponApplyInProgress = false
        } else if (drawer.visible) {
            root.drawerErrorMessage = message
        } else {
            root.inlineErrorMessage = message
        }
        root.previewLoading = false
        root.purchaseInProgress = false
    }

    Component.onCompleted: {
        root.selectedPaymentIndex = store.paymentMethodNames.length > 0 ? 0 : -1
        catalogue.rebuild()
        store.fetchSiteConfig()
        if (root.active)
            root.scheduleStoreRefresh()
    }

    onActiveChanged: {
        if (root.active) {
            if (!root.paymentOverlayOpen)
                root.clearSelection()
            root.scheduleStoreRefresh()
            payment.resume()
            return
        }
        refreshTimer.stop()
        root.pendingPageRefresh = false
        drawer.close()
        payment.pauseOrReset()
    }

    Timer {
        id: refreshTimer

        interval: 280
        onTriggered: {
            root.pendingPageRefresh = false
            if (!root.active || root.menuOpen || root.paymentOverlayOpen || !auth.isLoggedIn)
                return
            store.fetchSubscriptions()
            store.fetchPaymentMethods()
            catalogue.fetchPreviews()
        }
    }

    Connections {
        target: store

        function onSubscriptionsChanged() {
            catalogue.rebuild()
            catalogue.fetchPreviews()
        }
        function onPaymentMethodsChanged() {
            root.selectedPaymentIndex = store.paymentMethodNames.length > 0 ? 0 : -1
            catalogue.fetchPreviews()
            if (drawer.visible && root.selectedSubIndex >= 0 && root.selectedPaymentIndex >= 0)
                root.refreshOrderPreview(undefined, false)
        }
        function onPreOrderChanged() {
            root.drawerErrorMessage = ""
            root.inlineErrorMessage = ""
            root.previewLoading = false
            if (root.couponApplyInProgress) {
                root.appliedCoupon = root.pendingCoupon
                root.couponApplyInProgress = false
            }
            root.hasOrderPreview = true
        }
        function onOperationFailed(error) {
            root.handleStoreFailure(error)
        }
    }

    Connections {
        target: auth

        function onLoginSucceeded() {
            if (root.active)
                root.scheduleStoreRefresh()
        }
        function onSessionRestored() {
            if (root.active)
                root.scheduleStoreRefresh()
        }
    }

    Connections {
        target: Translations

        function onCurrentLanguageChanged() {
            catalogue.rebuild()
            root.scheduleStoreRefresh()
        }
    }

    StoreCatalogue {
        id: catalogue

        selectedSubIndex: root.selectedSubIndex
        selectedOptionIndex: root.selectedPlanOptionIndex
        selectedPaymentIndex: root.selectedPaymentIndex
        hasOrderPreview: root.hasOrderPreview
    }

    StorePlanList {
        objectName: "storePlanList"
        anchors.fill: parent
        catalogue: catalogue
        errorMessage: root.inlineErrorMessage
        loading: root.showingPageLoading
        onPlanChosen: (subIndex, optionIndex) => root.choosePlan(subIndex, optionIndex)
    }

    PlanCheckoutDrawer {
        id: drawer

        objectName: "storeCheckoutDrawer"
        planTitle: root.selectedRow ? root.selectedRow.label : Translations.t("purchase")
        planSubtitle: catalogue.checkout ? catalogue.currency + StoreFormat.money(catalogue.checkout.total) : ""
        selectedPaymentIndex: root.selectedPaymentIndex
        previewLoading: root.previewLoading
        actionInProgress: root.purchaseInProgress
        errorMessage: root.drawerErrorMessage
        currencySymbol: catalogue.currency
        displayedOriginalPrice: catalogue.checkout ? catalogue.checkout.subtotal : 0
        displayedDiscount: catalogue.checkout ? catalogue.checkout.discount : 0
        displayedAmount: catalogue.checkout ? catalogue.checkout.total : 0
        hasBreakdownRows: catalogue.checkout !== null && catalogue.checkout.discount > 0
        canSubmit: root.canSubmit
        onPaymentSelected: index => root.choosePayment(index)
        onCouponApplyRequested: coupon => root.applyCoupon(coupon)
        onErrorClearRequested: root.drawerErrorMessage = ""
        onSubmitRequested: root.purchase()
    }

    StorePayment {
        id: payment

        pageActive: root.active
        menuOpen: root.menuOpen
        onOrderAccepted: root.inlineErrorMessage = ""
        onAuthExpired: error => root.showAuthExpired(error)
        onPaid: {
            auth.validateToken()
            subscribeHandler.fetchNodes()
            root.scheduleStoreRefresh()
        }
    }

    PageLoadingOverlay {
        active: root.showingPageLoading
        coverWindow: false
    }

    FlashMessage {
        id: flash

        objectName: "storeFlash"
        // Above the payment overlay while it is up (an expired sign-in may leave it there).
        parent: root.paymentOverlayOpen ? payment.overlayLayer : root
    }
}
