import QtQml
import "storeformat.js" as StoreFormat

// The store's plans as the page lists them: one row per plan and duration, each priced from its
// background preview or, for the chosen row, from the store's last calculation.
QtObject {
    id: root

    property int selectedSubIndex: -1
    property int selectedOptionIndex: 0
    property int selectedPaymentIndex: -1
    // The store's last calculation belongs to the chosen row.
    property bool hasOrderPreview: false
    property var rows: []

    readonly property string currency: StoreFormat.displayCurrency(store.currencySymbol)
    readonly property int selectedPaymentId: {
        store.paymentMethodNames
        return root.idOf(store.getPaymentMethod(root.selectedPaymentIndex))
    }
    readonly property int selectedPlanId: {
        store.subscriptionNames
        return root.idOf(store.getSubscription(root.selectedSubIndex))
    }
    readonly property var selectedRow: {
        for (let i = 0; i < root.rows.length; ++i) {
            if (root.isSelectedRow(root.rows[i]))
                return root.rows[i]
        }
        return null
    }
    readonly property var checkout: root.selectedRow
                                    ? StoreFormat.checkoutFigures(root.selectedRow, root.previewFor(root.selectedRow),
                                                                  root.liveFor(root.selectedRow), store.couponDiscount)
                                    : null

    function idOf(map) {
        const id = Number(map && map.id)
        return id > 0 ? id : 0
    }

    function isSelectedRow(row) {
        return row.subscribe_index === root.selectedSubIndex && row.option_index === root.selectedOptionIndex
    }

    function previewFor(row) {
        store.orderPreviewRevision
        const planId = root.idOf(store.getSubscription(row.subscribe_index))
        return planId > 0 && root.selectedPaymentId > 0
                ? store.getOrderPreview(planId, row.quantity, root.selectedPaymentId) : ({})
    }

    function liveFor(row) {
        return root.hasOrderPreview && root.isSelectedRow(row)
                ? { "price": store.calculatedPrice, "amount": store.calculatedAmount } : null
    }

    function pricingOf(row) {
        return StoreFormat.rowPricing(row, root.previewFor(row), root.liveFor(row))
    }

    function rebuild() {
        const plans = []
        for (let i = 0; i < store.subscriptionNames.length; ++i)
            plans.push(store.getSubscription(i))
        root.rows = StoreFormat.catalogue(plans, Translations.currentLanguage, Translations.t)
    }

    // Background prices for every row, with the chosen payment method.
    function fetchPreviews() {
        if (root.selectedPaymentIndex < 0 || root.selectedPaymentId <= 0)
            return
        for (let i = 0; i < root.rows.length; ++i) {
            const planId = root.idOf(store.getSubscription(root.rows[i].subscribe_index))
            if (planId > 0)
                store.fetchOrderPreview(planId, root.rows[i].quantity, root.selectedPaymentId)
        }
    }
}
