import QtQuick
import QtTest
import appclient

// The reward page against the stand-ins: the option row's texts, copying the invite code, why a
// redemption is refused and for how long the button says so, and a redemption to its end.
Item {
    id: root

    width: 400
    height: 760

    Component {
        id: pageComponent

        RewardPage {
            width: 400
            height: 760
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TextEdit {
        id: pasteTarget

        visible: false
    }

    TestCase {
        name: "RewardPage"
        when: windowShown

        property RewardPage page

        function init() {
            auth.reset()
            store.reset()
            subscribeHandler.reset()
            Translations.currentLanguage = "en"
            page = createTemporaryObject(pageComponent, root, { active: true })
        }

        function cleanup() {
            findChild(page, "rewardCheckoutDrawer").close()
        }

        function signIn(points, plan) {
            auth.userBalance = points
            auth.userReferCode = "QV7K2M"
            auth.isLoggedIn = true
            store.plans = plan ? [plan] : []
            store.hasBalancePaymentMethod = true
        }

        function text(name) {
            return findChild(page, name).text
        }

        function test_optionTexts_data() {
            return [
                { tag: "month, whole cost", language: "en", plan: { id: 1, unit_price: 15, unit_time: "Month" },
                  label: "Monthly Pass", cost: "15 points" },
                { tag: "year, fractional cost", language: "en", plan: { id: 1, unit_price: 15.5, unit_time: "year" },
                  label: "1 yr", cost: "15.50 points" },
                { tag: "unknown unit", language: "en", plan: { id: 1, unit_price: 3, unit_time: "fortnight" },
                  label: "1 fortnight", cost: "3 points" },
                { tag: "Simplified", language: "zh", plan: { id: 1, unit_price: 7, unit_time: "周" },
                  label: "1周", cost: "7 积分" },
                { tag: "Traditional", language: "zh-Hant", plan: { id: 1, unit_price: 7, unit_time: "week" },
                  label: "1週", cost: "7 點" },
                { tag: "plan not ready", language: "en", plan: { id: 0, unit_price: 7, unit_time: "Month" },
                  label: "Loading...", cost: "Loading..." },
                { tag: "id as text is not ready", language: "en", plan: { id: "4", unit_price: 7, unit_time: "Month" },
                  label: "Loading...", cost: "Loading..." }
            ]
        }

        function test_optionTexts(data) {
            Translations.currentLanguage = data.language
            signIn(100, data.plan)
            compare(text("rewardOptionLabel"), data.label)
            compare(text("rewardOptionCost"), data.cost)
            compare(findChild(page, "rewardRedeemButton").enabled, data.label !== "Loading...")
        }

        function test_signedOut() {
            const spy = createTemporaryObject(spyComponent, root, { target: page, signalName: "loginRequested" })
            compare(text("rewardOptionLabel"), "--")
            compare(text("rewardOptionCost"), "--")
            mouseClick(findChild(page, "rewardInviteButton"))
            mouseClick(findChild(page, "rewardRedeemButton"))
            compare(spy.count, 2)
            compare(store.callsTo("fetchSubscriptions").length, 0)

            // Signing in while shown asks for the plan.
            auth.isLoggedIn = true
            auth.loginSucceeded()
            compare(store.callsTo("fetchSubscriptions").length, 1)
            compare(store.callsTo("fetchPaymentMethods").length, 1)
        }

        function test_copyInviteCode() {
            signIn(0, null)
            const button = findChild(page, "rewardInviteButton")
            mouseClick(button)
            compare(button.text, "Copied")
            pasteTarget.text = ""
            pasteTarget.paste()
            compare(pasteTarget.text, "QV7K2M")
            wait(1000)
            mouseClick(button)
            wait(1000)
            compare(button.text, "Copied", "a second copy restarts the period")
            tryCompare(button, "text", "Copy Invite Code", 1000)
        }

        function test_refusals_data() {
            return [
                { tag: "too few points", points: 14.5, balanceMethod: true, flag: "redeemBalanceInsufficient",
                  key: "balance_insufficient" },
                { tag: "no balance method", points: 15, balanceMethod: false, flag: "redeemBalanceUnavailable",
                  key: "balance_payment_unavailable" }
            ]
        }

        function test_refusals(data) {
            signIn(data.points, { id: 1, unit_price: 15, unit_time: "Month" })
            store.hasBalancePaymentMethod = data.balanceMethod
            const button = findChild(page, "rewardRedeemButton")
            mouseClick(button)
            verify(page[data.flag])
            compare(button.text, Translations.t(data.key))
            compare(button.tone, "danger")
            const flash = findChild(page, "rewardFlash")
            compare(flash.success, false)
            compare(flash.title, Translations.t("reward_redeem_failed_title"))
            compare(flash.message, Translations.t(data.key))
            verify(!findChild(page, "rewardCheckoutDrawer").opened)
            wait(1400)
            verify(page[data.flag], "still set before 1600 ms")
            tryVerify(() => !page[data.flag], 500)
            compare(button.text, "Redeem")
        }

        function test_redeem_data() {
            return [
                { tag: "completed", failure: "", drawerError: "" },
                { tag: "refused", failure: "Balance payment method is unavailable",
                  drawerError: "balance_payment_unavailable" },
                { tag: "sign-in expired", failure: "Invalid Access", drawerError: "" }
            ]
        }

        function test_redeem(data) {
            signIn(50, { id: 1, unit_price: 10, unit_time: "Month" })
            mouseClick(findChild(page, "rewardRedeemButton"))
            const drawer = findChild(page, "rewardCheckoutDrawer")
            tryVerify(() => drawer.opened)
            compare(text("checkoutPointsBalanceValue"), "50 points")
            compare(text("checkoutPointsRequiredValue"), "-10 points")
            compare(text("checkoutPointsRemainingValue"), "40 points")
            mouseClick(findChild(page, "checkoutSubmitButton"))
            compare(store.callsTo("createBalanceOrder").pop().args, [1, 1])
            verify(page.redeemCheckoutInProgress)
            store.orderCreated("R1")
            compare(store.callsTo("checkoutOrder").pop().args, ["R1"])

            const flash = findChild(page, "rewardFlash")
            if (data.failure === "") {
                store.balanceCheckoutCompleted("R1")
                tryVerify(() => !drawer.visible)
                compare(flash.success, true)
                compare(auth.callsTo("validateToken").length, 1)
                compare(subscribeHandler.callsTo("fetchNodes").length, 1)
            } else {
                store.operationFailed(data.failure)
                compare(flash.success, false)
                compare(page.redeemDrawerErrorMessage, data.drawerError === "" ? "" : Translations.t(data.drawerError))
                compare(drawer.opened, data.drawerError !== "", "an expired sign-in closes the drawer")
            }
            verify(!page.redeemCheckoutInProgress)
        }
    }
}
