import QtQuick
import QtTest
import appclient

// The reward page against the stand-ins: the option row, copying the invite code, why a
// redemption is refused and for how long the button says so, and failed redemptions (a
// redemption that goes through is the store road's).
ViewCase {
    name: "RewardPage"

    TextEdit {
        id: pasteTarget

        visible: false
    }

    function init() {
        resetBackend()
        make("RewardPage", { active: true })
    }

    function cleanup() {
        item("rewardCheckoutDrawer").close()
    }

    function signIn(points, plan) {
        auth.userBalance = points
        auth.userReferCode = "QV7K2M"
        auth.isLoggedIn = true
        store.plans = plan ? [plan] : []
        store.hasBalancePaymentMethod = true
    }

    function test_optionTexts_data() {
        return [
            { tag: "fractional cost", plan: { id: 1, unit_price: 15.5, unit_time: "year" }, label: "1 yr",
              cost: "15.50 points" },
            { tag: "plan not ready", plan: { id: 0, unit_price: 7, unit_time: "Month" }, label: "Loading...",
              cost: "Loading..." },
            { tag: "id as text is not ready", plan: { id: "4", unit_price: 7, unit_time: "Month" },
              label: "Loading...", cost: "Loading..." }
        ]
    }

    function test_optionTexts(data) {
        signIn(100, data.plan)
        compare([item("rewardOptionLabel").text, item("rewardOptionCost").text], [data.label, data.cost])
        compare(item("rewardRedeemButton").enabled, data.label !== "Loading...")
    }

    // Signed out both buttons ask for a sign-in; signing in while shown asks for the plan, and
    // the invite button then copies the code.
    function test_signInAndCopy() {
        const login = spy(view, "loginRequested")
        const button = item("rewardInviteButton")
        mouseClick(button)
        mouseClick(item("rewardRedeemButton"))
        compare(login.count, 2)
        signIn(0, null)
        auth.loginSucceeded()
        compare([store.callsTo("fetchSubscriptions").length, store.callsTo("fetchPaymentMethods").length], [1, 1])
        mouseClick(button)
        compare(button.text, "Copied")
        pasteTarget.text = ""
        pasteTarget.paste()
        compare(pasteTarget.text, "QV7K2M")
        tryCompare(button, "text", "Copy Invite Code", 3000)
    }

    function test_refusals_data() {
        return [
            { tag: "too few points", points: 14.5, balanceMethod: true, flag: "redeemBalanceInsufficient",
              key: "balance_insufficient" },
            { tag: "no balance method", points: 15, balanceMethod: false, flag: "redeemBalanceUnavailable",
              key: "balance_payment_unavailable" }
        ]
    }

    // Refused: no drawer, a flash, and the button says why for 1.6 s.
    function test_refusals(data) {
        signIn(data.points, { id: 1, unit_price: 15, unit_time: "Month" })
        store.hasBalancePaymentMethod = data.balanceMethod
        const button = item("rewardRedeemButton")
        mouseClick(button)
        compare(button.text, Translations.t(data.key))
        compare(item("rewardFlash").message, Translations.t(data.key))
        verify(!item("rewardCheckoutDrawer").opened)
        wait(1400)
        verify(view[data.flag], "still set before 1600 ms")
        tryVerify(() => !view[data.flag], 500)
        compare(button.text, "Redeem")
    }

    function test_redeemFails_data() {
        return [
            { tag: "refused", failure: "Balance payment method is unavailable", drawerError: "balance_payment_unavailable" },
            { tag: "sign-in expired", failure: "Invalid Access", drawerError: "" }
        ]
    }

    function test_redeemFails(data) {
        signIn(50, { id: 1, unit_price: 10, unit_time: "Month" })
        mouseClick(item("rewardRedeemButton"))
        const drawer = item("rewardCheckoutDrawer")
        tryVerify(() => drawer.opened)
        compare(item("checkoutPointsRemainingValue").text, "40 points")
        mouseClick(item("checkoutSubmitButton"))
        store.orderCreated("R1")
        store.operationFailed(data.failure)
        compare(item("rewardFlash").success, false)
        compare(view.redeemDrawerErrorMessage, data.drawerError === "" ? "" : Translations.t(data.drawerError))
        compare(drawer.opened, data.drawerError !== "", "an expired sign-in closes the drawer")
        verify(!view.redeemCheckoutInProgress)
    }
}
