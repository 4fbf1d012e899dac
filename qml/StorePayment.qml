import QtQuick
import QtQuick.Window

// One purchase of the store page from order to settlement: the order, the checkout address opened
// in the system browser, the status polls and the full-window overlay that reports each step.
// paymentState runs idle → preparing → opening → waiting → success | failed | timeout; "failed"
// may also follow preparing or opening, and the overlay's buttons return to idle.
Item {
    id: root

    property bool pageActive: false
    property bool menuOpen: false
    property bool purchaseInProgress: false
    property bool overlayOpen: false
    property string paymentState: "idle"
    property string detail: ""
    property string orderNo: ""
    property int pollAttempts: 0
    property int pollMaxAttempts: 100
    property int pollIntervalMs: 3000
    // Window-wide layer holding the overlay; the page puts its flash above it.
    readonly property alias overlayLayer: layer

    signal orderAccepted
    signal paid
    signal authExpired(string error)

    function show(state, detailText) {
        root.overlayOpen = true
        root.paymentState = state
        root.detail = detailText || ""
    }

    function begin() {
        root.purchaseInProgress = true
        root.show("preparing", "")
    }

    // The order was refused; the failure it reported may already be on the overlay.
    function createOrderRefused() {
        root.purchaseInProgress = false
        if (root.overlayOpen && root.paymentState !== "failed")
            root.show("failed", Translations.t("error_unknown"))
    }

    function fail(message) {
        pollTimer.stop()
        root.show("failed", message)
    }

    function close() {
        root.purchaseInProgress = false
        pollTimer.stop()
        store.cancelOrderStatusPolling()
        root.overlayOpen = false
        root.paymentState = "idle"
        root.detail = ""
        root.orderNo = ""
        root.pollAttempts = 0
    }

    // While the page is away a pending payment only stops polling; the timer picks it up again.
    function resume() {
        if (root.overlayOpen && root.paymentState === "waiting")
            pollTimer.restart()
    }

    function pauseOrReset() {
        if (root.overlayOpen) {
            if (root.paymentState === "waiting")
                pollTimer.stop()
            return
        }
        root.close()
    }

    function poll() {
        if (!root.pageActive || root.menuOpen || !root.overlayOpen || root.paymentState !== "waiting"
                || root.orderNo === "") {
            pollTimer.stop()
            return
        }
        if (root.pollAttempts >= root.pollMaxAttempts) {
            pollTimer.stop()
            root.paymentState = "timeout"
            return
        }
        root.pollAttempts += 1
        store.fetchOrderStatus(root.orderNo)
    }

    onMenuOpenChanged: {
        if (root.menuOpen)
            pollTimer.stop()
        else
            root.resume()
    }

    Timer {
        id: pollTimer

        interval: root.pollIntervalMs
        repeat: true
        onTriggered: root.poll()
    }

    Connections {
        target: store

        function onOrderCreated(orderNo) {
            if (!root.purchaseInProgress)
                return
            root.orderNo = orderNo
            root.show("opening", "")
            root.orderAccepted()
            store.checkoutOrder(orderNo)
        }
        function onCheckoutReady(checkoutUrl) {
            if (!root.purchaseInProgress)
                return
            root.purchaseInProgress = false
            root.show("waiting", "")
            Browser.open(checkoutUrl)
            root.pollAttempts = 0
            root.poll()
            pollTimer.restart()
        }
        function onOrderStatusUpdated(orderNo, status) {
            if (!root.overlayOpen || orderNo !== root.orderNo)
                return
            if (status === 2 || status === 5) {
                pollTimer.stop()
                root.paymentState = "success"
                root.paid()
            } else if (status === 3 || status === 4) {
                pollTimer.stop()
                // A poll's earlier network complaint is not why the payment failed.
                root.show("failed", "")
            } else {
                root.detail = ""
            }
        }
        function onOrderStatusFailed(orderNo, error) {
            if (!root.overlayOpen || root.paymentState !== "waiting" || orderNo !== root.orderNo)
                return
            if (Translations.errorKey(error) === "error_auth_expired") {
                pollTimer.stop()
                root.authExpired(error)
                return
            }
            root.detail = Translations.translateError(error)
        }
    }

    Item {
        id: layer

        parent: root.Window.window ? root.Window.window.contentItem : root
        anchors.fill: parent
        z: 1500
        // Hidden when closed, or the empty layer would still be the window's topmost child.
        visible: root.overlayOpen

        PaymentOverlay {
            objectName: "paymentOverlay"
            anchors.fill: parent
            paymentState: root.paymentState
            detail: root.detail
            orderNo: root.orderNo
            onCloseRequested: root.close()
        }
    }
}
