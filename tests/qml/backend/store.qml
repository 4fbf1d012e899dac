import QtQml

// Stand-in for the store handler. Tests fill `plans` and `methods` with maps as getSubscription
// and getPaymentMethod return them, `previews` with getOrderPreview maps by "plan:quantity:method"
// and `price` with the last calculation in minor units ({price, amount, coupon_discount}); the
// signals that carry results (orderCreated, checkoutReady, ...) are theirs to send.
Recorder {
    property bool isLoading: false
    property string currencySymbol: "$"
    property var plans: []
    property var methods: []
    property var previews: ({})
    property var price: ({})
    property bool fetchResult: true
    property bool orderResult: true
    // Plain properties set before the notification, as the real handler's state is in place by
    // the time it reports a change.
    property var subscriptionNames: []
    property var paymentMethodNames: []
    property bool hasBalancePaymentMethod: false
    property real calculatedAmount: 0
    property real calculatedPrice: 0
    property real couponDiscount: 0
    property int orderPreviewRevision: 0

    signal siteConfigChanged
    signal subscriptionsChanged
    signal paymentMethodsChanged
    signal preOrderChanged
    signal orderPreviewChanged
    signal orderCreated(string orderNo)
    signal checkoutReady(string checkoutUrl)
    signal balanceCheckoutCompleted(string orderNo)
    signal orderStatusUpdated(string orderNo, int status)
    signal orderStatusFailed(string orderNo, string error)
    signal operationFailed(string error)

    onCurrencySymbolChanged: siteConfigChanged()
    onPlansChanged: {
        subscriptionNames = plans.map(plan => plan.name)
        subscriptionsChanged()
    }
    onMethodsChanged: {
        paymentMethodNames = methods.map(method => method.name)
        paymentMethodsChanged()
    }
    onPreviewsChanged: {
        orderPreviewRevision += 1
        orderPreviewChanged()
    }
    onPriceChanged: {
        calculatedAmount = (price.amount || 0) / 100
        calculatedPrice = (price.price || 0) / 100
        couponDiscount = (price.coupon_discount || 0) / 100
        preOrderChanged()
    }

    function previewKey(subscribeId, quantity, paymentId) { return subscribeId + ":" + quantity + ":" + paymentId }

    function fetchSiteConfig() { record("fetchSiteConfig", arguments); return fetchResult }
    function fetchSubscriptions() { record("fetchSubscriptions", arguments); return fetchResult }
    function fetchPaymentMethods() { record("fetchPaymentMethods", arguments); return fetchResult }
    function preCreateOrder(subscribeId, quantity, paymentId, coupon) { record("preCreateOrder", arguments); return orderResult }
    function createOrder(subscribeId, quantity, paymentId, coupon) { record("createOrder", arguments); return orderResult }
    function createBalanceOrder(subscribeId, quantity) { record("createBalanceOrder", arguments); return orderResult }
    function checkoutOrder(orderNo) { record("checkoutOrder", arguments); return orderResult }
    function fetchOrderStatus(orderNo) { record("fetchOrderStatus", arguments); return true }
    function cancelOrderStatusPolling() { record("cancelOrderStatusPolling", arguments) }
    function getSubscription(index) { return index >= 0 && index < plans.length ? plans[index] : ({}) }
    function getPaymentMethod(index) { return index >= 0 && index < methods.length ? methods[index] : ({}) }
    function fetchOrderPreview(subscribeId, quantity, paymentId) {
        record("fetchOrderPreview", arguments)
        return previews[previewKey(subscribeId, quantity, paymentId)] !== undefined
    }
    function getOrderPreview(subscribeId, quantity, paymentId) {
        return previews[previewKey(subscribeId, quantity, paymentId)] || ({})
    }
}
