import QtQuick
import QtTest
import appclient

// The store page against the stand-in store: what the rows show, coupons, the purchase and its
// overlay from order to settlement, and where failures are reported.
ViewCase {
    name: "StorePage"

    function init() {
        resetBackend()
        auth.isLoggedIn = true
        store.plans = [
            { id: 1, name: "Basic", unit_price: 10, unit_time: "Month",
              discount: [{ quantity: 3, discount: 95 }, { quantity: 12, discount: 80 }] },
            { id: 3, name: "Annual", unit_price: 99, unit_time: "Year", discount: [] }
        ]
        store.methods = [{ id: 2, name: "Test card", platform: "devpay", icon_url: "" },
                         { id: 5, name: "Wallet", platform: "alipay", icon_url: "" }]
        make("StorePage", { active: true })
        // The loading overlay takes clicks until the deferred refresh has run.
        tryVerify(() => !view.pendingPageRefresh, 1000)
    }

    function cleanup() {
        item("storeCheckoutDrawer").close()
    }

    function text(name, parent) { return item(name, parent).text }

    function row(plan, quantity) { return item("storePlanRow" + plan + "_" + quantity) }

    function overlay(name) { return item(name, view.Window.window.contentItem) }

    function chooseBasicThreeMonths() {
        mouseClick(row(0, 3))
        tryVerify(() => item("storeCheckoutDrawer").opened)
    }

    // Shown again, the page asks for plans, methods and each row's preview; a preview with the
    // panel's discount strikes the list price through.
    function test_rows() {
        store.clearCalls()
        view.active = false
        view.active = true
        tryVerify(() => store.callsTo("fetchPaymentMethods").length === 1, 1000)
        compare(store.callsTo("fetchOrderPreview").map(call => call.args.join(":")), ["1:1:2", "1:3:2", "1:12:2", "3:1:2"])
        const hot = row(0, 3)
        verify(item("storePlanBadge", hot).visible && !item("storePlanBadge", row(0, 1)).visible)
        compare(text("storePlanSubtitle", row(1, 1)), "1 yr · ¥0.27 / day")
        store.previews = { "1:3:2": { price: 30, amount: 28.5 }, "3:1:2": { price: 99, amount: 99 } }
        compare([text("storePlanPrice", hot), text("storePlanOriginalPrice", hot)], ["¥28.50", "¥30.00"])
        verify(item("storePlanOriginalPrice", hot).visible && !item("storePlanOriginalPrice", row(1, 1)).visible)
        store.currencySymbol = "€"
        compare(text("storePlanPrice", hot), "€28.50")
    }

    // A refused coupon leaves the last breakdown; an applied one stays on a new method until an
    // empty one takes it off.
    function test_coupon() {
        chooseBasicThreeMonths()
        store.price = { price: 3000, amount: 2850, coupon_discount: 0 }
        item("checkoutCouponField").text = "  BAD "
        mouseClick(item("checkoutApplyCouponButton"))
        compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 2, "BAD"])
        store.operationFailed("Coupon does not exist")
        compare([text("checkoutErrorText"), text("checkoutTotalValue"), view.appliedCoupon, view.couponApplyInProgress],
                [Translations.t("coupon_invalid"), "¥28.50", "", false])
        view.applyCoupon("SAVE5")
        store.price = { price: 3000, amount: 2500, coupon_discount: 500 }
        view.choosePayment(1)
        compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 5, "SAVE5"])
        store.price = { price: 3000, amount: 2500, coupon_discount: 500 }
        item("checkoutCouponField").text = "   "
        mouseClick(item("checkoutApplyCouponButton"))
        compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 5, ""])
        store.price = { price: 3000, amount: 3000, coupon_discount: 0 }
        verify(!item("checkoutDiscount").visible)
        mouseClick(item("checkoutSubmitButton"))
        compare(store.callsTo("createOrder").pop().args, [1, 3, 5, ""])
    }

    function startPayment(orderNo) {
        chooseBasicThreeMonths()
        mouseClick(item("checkoutSubmitButton"))
        compare(view.paymentState, "preparing")
        store.orderCreated(orderNo)
        compare(store.callsTo("checkoutOrder").pop().args, [orderNo])
        store.checkoutReady("https://pay.example/" + orderNo)
        compare(view.paymentState, "waiting")
        compare(store.callsTo("fetchOrderStatus").length, 1, "polled at once")
        tryVerify(() => !item("storeCheckoutDrawer").visible)
    }

    function test_paymentStates_data() {
        return [
            { tag: "paid", order: "A1", status: 2, state: "success" },
            { tag: "finished", order: "A1", status: 5, state: "success" },
            { tag: "closed", order: "A1", status: 3, state: "failed" },
            { tag: "failed", order: "A1", status: 4, state: "failed" },
            { tag: "pending", order: "A1", status: 1, state: "waiting" },
            { tag: "another order", order: "B2", status: 2, state: "waiting" }
        ]
    }

    function test_paymentStates(data) {
        startPayment("A1")
        store.orderStatusUpdated(data.order, data.status)
        compare(view.paymentState, data.state)
        const paid = data.state === "success"
        compare([auth.callsTo("validateToken").length, subscribeHandler.callsTo("fetchNodes").length],
                paid ? [1, 1] : [0, 0])
        mouseClick(overlay(data.state !== "waiting" ? "paymentOverlayOkButton" : "paymentOverlayReturnButton"))
        verify(!view.paymentOverlayOpen)
        verify(store.callsTo("cancelOrderStatusPolling").length > 0)
    }

    // Polling gives up after 100 tries, and waits while the page is away.
    function test_polling() {
        view.paymentPollIntervalMs = 10
        startPayment("T1")
        tryCompare(view, "paymentState", "timeout", 5000)
        compare(store.callsTo("fetchOrderStatus").length, 100)
        mouseClick(overlay("paymentOverlayOkButton"))

        store.clearCalls()
        view.paymentPollIntervalMs = 30
        startPayment("P1")
        view.active = false
        const before = store.callsTo("fetchOrderStatus").length
        wait(150)
        compare(store.callsTo("fetchOrderStatus").length, before)
        view.active = true
        tryVerify(() => store.callsTo("fetchOrderStatus").length > before, 500)
        store.orderStatusFailed("P1", "Connection timed out")
        compare([view.paymentState, view.paymentStatusDetail], ["waiting", Translations.t("error_timeout")])
    }

    function test_failures_data() {
        return [
            { tag: "expired while paying", purchase: true, error: "Invalid Access", state: "idle", flash: true,
              inline: "" },
            { tag: "refused while paying", purchase: true, error: "Too many requests", state: "failed",
              flash: false, inline: "" },
            { tag: "background failure", purchase: false, error: "Failed to fetch subscriptions", state: "idle",
              flash: false, inline: "Failed to fetch subscriptions" }
        ]
    }

    function test_failures(data) {
        if (data.purchase) {
            chooseBasicThreeMonths()
            mouseClick(item("checkoutSubmitButton"))
        }
        store.operationFailed(data.error)
        compare([view.paymentState, view.purchaseInProgress, view.inlineErrorMessage],
                [data.state, false, data.inline])
        compare(overlay("storeFlash").active, data.flash)
        if (data.state === "failed")
            compare(text("paymentOverlayMessage", view.Window.window.contentItem), Translations.t("error_rate_limited"))

        // Store failures of other pages are not this one's while it is away.
        view.inlineErrorMessage = ""
        view.active = false
        store.operationFailed("Balance payment method is unavailable")
        compare(view.inlineErrorMessage, "")
    }
}
