import QtQuick
import QtTest
import appclient

// The store page against the stand-in store: what the rows show, coupons, the purchase and its
// overlay from order to settlement, and where failures are reported.
Item {
    id: root

    width: 400
    height: 760

    Component {
        id: pageComponent

        StorePage {
            width: 400
            height: 760
        }
    }

    TestCase {
        name: "StorePage"
        when: windowShown

        property StorePage page

        function init() {
            auth.reset()
            store.reset()
            subscribeHandler.reset()
            browser.clear()
            Translations.currentLanguage = "en"
            auth.isLoggedIn = true
            store.plans = [
                { id: 1, name: "{\"zh-CN\":\"基础\",\"en-US\":\"Basic\"}", unit_price: 10, unit_time: "Month",
                  discount: [{ quantity: 3, discount: 95 }, { quantity: 12, discount: 80 }] },
                { id: 3, name: "Annual", unit_price: 99, unit_time: "Year", discount: [] }
            ]
            store.methods = [{ id: 2, name: "Test card", platform: "devpay", icon_url: "" },
                             { id: 5, name: "Wallet", platform: "alipay", icon_url: "" }]
            page = createTemporaryObject(pageComponent, root)
            page.active = true
            // The loading overlay takes clicks until the deferred refresh has run.
            tryVerify(() => !page.pendingPageRefresh, 1000)
        }

        function cleanup() {
            const drawer = findChild(page, "storeCheckoutDrawer")
            if (drawer)
                drawer.close()
        }

        function row(plan, quantity) {
            return findChild(page, "storePlanRow" + plan + "_" + quantity)
        }

        function text(item, name) {
            return findChild(item, name).text
        }

        function chooseBasicThreeMonths() {
            mouseClick(row(0, 3))
            tryVerify(() => findChild(page, "storeCheckoutDrawer").opened)
        }

        function test_rows() {
            compare(page.catalogueRows.map(r => r.subscribe_index + ":" + r.quantity), ["0:1", "0:3", "0:12", "1:1"])
            const hot = row(0, 3)
            compare(text(hot, "storePlanTitle"), "Basic")
            verify(findChild(hot, "storePlanBadge").visible)
            compare(text(hot, "storePlanBadge"), "Hot")
            verify(!findChild(row(0, 1), "storePlanBadge").visible)
            compare(text(row(0, 1), "storePlanSubtitle"), "Monthly Pass · ¥0.33 / day")
            compare(text(row(1, 1), "storePlanSubtitle"), "1 yr · ¥0.27 / day")

            // A background preview with the panel's discount strikes the list price through.
            store.previews = { "1:3:2": { price: 30, amount: 28.5 }, "3:1:2": { price: 99, amount: 99 } }
            compare(text(hot, "storePlanPrice"), "¥28.50")
            verify(findChild(hot, "storePlanOriginalPrice").visible)
            compare(text(hot, "storePlanOriginalPrice"), "¥30.00")
            verify(!findChild(row(1, 1), "storePlanOriginalPrice").visible)
            compare(text(row(1, 1), "storePlanPrice"), "¥99.00")

            store.currencySymbol = "€"
            compare(text(hot, "storePlanPrice"), "€28.50")
            Translations.currentLanguage = "zh"
            compare(text(row(0, 3), "storePlanTitle"), "基础")
            compare(text(row(0, 3), "storePlanBadge"), "热门")
            compare(text(row(0, 3), "storePlanSubtitle"), Translations.t("plan_quarter_card") + " · €0.32 / 天")
        }

        function test_refreshAndPreviews() {
            store.clearCalls()
            page.active = false
            page.active = true
            verify(page.pendingPageRefresh)
            compare(store.callsTo("fetchSubscriptions").length, 0)
            tryVerify(() => store.callsTo("fetchSubscriptions").length === 1, 1000)
            compare(store.callsTo("fetchPaymentMethods").length, 1)
            compare(store.callsTo("fetchOrderPreview").map(call => call.args.join(":")),
                    ["1:1:2", "1:3:2", "1:12:2", "3:1:2"])
            store.clearCalls()
            store.methods = []
            compare(page.selectedPaymentIndex, -1)
            compare(store.callsTo("fetchOrderPreview").length, 0)
        }

        function test_coupon_data() {
            return [
                { tag: "accepted", error: "", drawerError: "", applied: "WELCOME10" },
                { tag: "refused, mentions coupon", error: "Coupon does not exist", drawerError: "coupon_invalid", applied: "" },
                { tag: "refused otherwise", error: "Connection timed out", drawerError: "error_timeout", applied: "" }
            ]
        }

        function test_coupon(data) {
            chooseBasicThreeMonths()
            compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 2, ""])
            store.price = { price: 3000, amount: 2850, coupon_discount: 0 }
            verify(page.hasOrderPreview)
            verify(!findChild(page, "checkoutDiscount").visible)

            const field = findChild(page, "checkoutCouponField")
            field.text = "  WELCOME10 "
            mouseClick(findChild(page, "checkoutApplyCouponButton"))
            compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 2, "WELCOME10"])
            verify(page.couponApplyInProgress)
            if (data.error === "") {
                store.price = { price: 3000, amount: 2565, coupon_discount: 285 }
                compare(text(page, "checkoutDiscountValue"), "-¥2.85")
                compare(text(page, "checkoutSubtotalValue"), "¥30.00")
                compare(text(page, "checkoutTotalValue"), "¥25.65")
                compare(text(row(0, 3), "storePlanPrice"), "¥25.65")
            } else {
                store.operationFailed(data.error)
                compare(text(page, "checkoutErrorText"), Translations.t(data.drawerError))
                compare(text(page, "checkoutTotalValue"), "¥28.50", "the last breakdown stays")
            }
            compare(page.appliedCoupon, data.applied)
            verify(!page.couponApplyInProgress)

            // The applied coupon goes with the order.
            mouseClick(findChild(page, "checkoutSubmitButton"))
            compare(store.callsTo("createOrder").pop().args, [1, 3, 2, data.applied])
        }

        // Applying an empty coupon takes an applied one off the price.
        function test_couponCleared() {
            chooseBasicThreeMonths()
            page.applyCoupon("SAVE5")
            store.price = { price: 3000, amount: 2500, coupon_discount: 500 }
            compare(page.appliedCoupon, "SAVE5")
            page.choosePayment(1)
            compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 5, "SAVE5"], "kept on a new method")
            store.price = { price: 3000, amount: 2500, coupon_discount: 500 }
            findChild(page, "checkoutCouponField").text = "   "
            mouseClick(findChild(page, "checkoutApplyCouponButton"))
            compare(store.callsTo("preCreateOrder").pop().args, [1, 3, 5, ""])
            store.price = { price: 3000, amount: 3000, coupon_discount: 0 }
            compare(page.appliedCoupon, "")
            verify(!findChild(page, "checkoutDiscount").visible)
        }

        function startPayment(orderNo) {
            chooseBasicThreeMonths()
            mouseClick(findChild(page, "checkoutSubmitButton"))
            compare(page.paymentState, "preparing")
            verify(page.paymentOverlayOpen)
            store.orderCreated(orderNo)
            compare(page.paymentState, "opening")
            compare(store.callsTo("checkoutOrder").pop().args, [orderNo])
            store.checkoutReady("https://pay.example/" + orderNo)
            compare(page.paymentState, "waiting")
            compare(browser.openedUrls, ["https://pay.example/" + orderNo])
            compare(store.callsTo("fetchOrderStatus").length, 1, "polled at once")
            tryVerify(() => !findChild(page, "storeCheckoutDrawer").visible)
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
            compare(page.paymentState, data.state)
            const paid = data.state === "success"
            compare(auth.callsTo("validateToken").length, paid ? 1 : 0)
            compare(subscribeHandler.callsTo("fetchNodes").length, paid ? 1 : 0)
            const terminal = data.state !== "waiting"
            verify(findChild(page.Window.window.contentItem, terminal ? "paymentOverlayOkButton"
                                                                      : "paymentOverlayReturnButton").visible)
            compare(findChild(page.Window.window.contentItem, "paymentOverlayOrderNo").visible, !terminal)
            mouseClick(findChild(page.Window.window.contentItem,
                                 terminal ? "paymentOverlayOkButton" : "paymentOverlayReturnButton"))
            verify(!page.paymentOverlayOpen)
            compare(page.paymentState, "idle")
            verify(store.callsTo("cancelOrderStatusPolling").length > 0)
        }

        function test_pollingTimesOut() {
            page.paymentPollIntervalMs = 10
            startPayment("T1")
            tryCompare(page, "paymentState", "timeout", 5000)
            compare(store.callsTo("fetchOrderStatus").length, 100)
            wait(50)
            compare(store.callsTo("fetchOrderStatus").length, 100)
        }

        function test_pollingPausesWhileAway() {
            page.paymentPollIntervalMs = 30
            startPayment("P1")
            page.active = false
            const before = store.callsTo("fetchOrderStatus").length
            wait(150)
            compare(store.callsTo("fetchOrderStatus").length, before)
            verify(page.paymentOverlayOpen)
            page.active = true
            tryVerify(() => store.callsTo("fetchOrderStatus").length > before, 500)
            store.orderStatusFailed("P1", "Connection timed out")
            compare(page.paymentStatusDetail, Translations.t("error_timeout"))
            compare(page.paymentState, "waiting")
        }

        function test_failures_data() {
            return [
                { tag: "expired while paying", purchase: true, error: "Invalid Access", state: "idle",
                  flash: true, inline: "" },
                { tag: "refused while paying", purchase: true, error: "Too many requests", state: "failed",
                  flash: false, inline: "" },
                { tag: "background failure", purchase: false, error: "Failed to fetch subscriptions",
                  state: "idle", flash: false, inline: "Failed to fetch subscriptions" }
            ]
        }

        function test_failures(data) {
            if (data.purchase) {
                chooseBasicThreeMonths()
                mouseClick(findChild(page, "checkoutSubmitButton"))
            }
            store.operationFailed(data.error)
            compare(page.paymentState, data.state)
            verify(!page.purchaseInProgress)
            compare(page.inlineErrorMessage, data.inline)
            const flash = findChild(page.Window.window.contentItem, "storeFlash")
            compare(flash.active, data.flash)
            if (data.state === "failed")
                compare(text(page.Window.window.contentItem, "paymentOverlayMessage"), Translations.t("error_rate_limited"))
            if (data.flash)
                compare(flash.title, Translations.t("error_auth_expired_title"))

            // Store failures of other pages are not this one's while it is away.
            page.inlineErrorMessage = ""
            page.active = false
            store.operationFailed("Balance payment method is unavailable")
            compare(page.inlineErrorMessage, "")
        }
    }
}
