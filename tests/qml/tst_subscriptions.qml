import QtQuick
import QtTest
import appclient

// The connect page's list: when it asks for subscriptions, how failures and free plan answers
// are shown, the empty state, and what each card says about its route.
Item {
    id: root

    width: 400
    height: 760

    Component {
        id: pageComponent

        SubscriptionsPage {
            width: 400
            height: 760
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "SubscriptionsPage"
        when: windowShown

        property SubscriptionsPage page

        function init() {
            auth.reset()
            subscribeHandler.reset()
            service.reset()
            Translations.currentLanguage = "en"
            page = createTemporaryObject(pageComponent, root)
        }

        function spyOn(signalName) {
            return createTemporaryObject(spyComponent, root, { target: page, signalName: signalName })
        }

        function flash() {
            return findChild(page, "subscriptionsFlash")
        }

        function test_refreshWaitsAndCancels() {
            const indicator = findChild(page, "pageLoadingIndicator")
            auth.isLoggedIn = true
            const start = Date.now()
            page.active = true
            verify(page.showingSubscriptionLoadingState, "overlay at once")
            verify(indicator.running)
            verify(!page.canShowStartupAnnouncement)
            compare(subscribeHandler.callsTo("fetchNodes").length, 0)
            tryVerify(() => subscribeHandler.callsTo("fetchNodes").length === 1, 1000)
            verify(Date.now() - start >= 270, "fetched after " + (Date.now() - start) + " ms")
            verify(page.pendingInitialSubscriptionLoad, "still loading until the handler answers")
            subscribeHandler.nodesFetched()
            verify(!page.showingSubscriptionLoadingState)
            verify(page.canShowStartupAnnouncement)

            // Leaving within the 280 ms cancels the fetch.
            subscribeHandler.clearCalls()
            page.active = false
            page.active = true
            wait(100)
            page.active = false
            verify(!page.pendingInitialSubscriptionLoad)
            wait(300)
            compare(subscribeHandler.callsTo("fetchNodes").length, 0)

            // Neither while the session is still being restored nor when signed out.
            auth.isInitializing = true
            page.active = true
            verify(!page.pendingInitialSubscriptionLoad)
            page.active = false
            auth.isInitializing = false
            auth.isLoggedIn = false
            page.refreshSubscriptions()
            verify(!page.pendingInitialSubscriptionLoad)
            wait(350)
            compare(subscribeHandler.callsTo("fetchNodes").length, 0)
        }

        function test_fetchFailure_data() {
            return [
                { tag: "auth expired", error: "Authentication expired, please log in again", line: "" },
                { tag: "auth expired, panel wording", error: "  Invalid Access ", line: "" },
                { tag: "known phrase", error: "Connection timed out", line: "error_timeout" },
                { tag: "unknown text as it came", error: "Failed to fetch subscription config",
                  line: "Failed to fetch subscription config" }
            ]
        }

        function test_fetchFailure(data) {
            auth.isLoggedIn = true
            page.fetchErrorMessage = "earlier failure"
            page.pendingInitialSubscriptionLoad = true
            subscribeHandler.fetchFailed(data.error)
            verify(!page.pendingInitialSubscriptionLoad)
            const errorText = findChild(page, "fetchErrorText")
            if (data.line === "") {
                compare(page.fetchErrorMessage, "")
                verify(!errorText.visible)
                verify(flash().active)
                compare(flash().success, false)
                compare(flash().title, Translations.t("error_auth_expired_title"))
                compare(flash().message, Translations.t("error_auth_expired"))
                return
            }
            verify(!flash().active, "other failures stay on the page")
            compare(errorText.text, Translations.t(data.line))
            verify(errorText.visible)
            subscribeHandler.nodesFetched()
            verify(!errorText.visible)
        }

        function test_claimWaitText_data() {
            return [
                { tag: "30 s", seconds: 30, text: "You can claim again in 1m." },
                { tag: "61 s", seconds: 61, text: "You can claim again in 2m." },
                { tag: "3599 s rounds to the hour", seconds: 3599, text: "You can claim again in 1h." },
                { tag: "3600 s", seconds: 3600, text: "You can claim again in 1h." },
                { tag: "3660 s", seconds: 3660, text: "You can claim again in 1h 1m." },
                { tag: "3660 s in Chinese", seconds: 3660, language: "zh",
                  text: "距离下次领取还有 1 小时 1 分钟。" },
                { tag: "0 s", seconds: 0, text: "Free plan time can only be claimed when you do not have an active plan." },
            ]
        }

        function test_claimWaitText(data) {
            Translations.currentLanguage = data.language || "en"
            compare(Figures.claimWaitText(data.seconds), data.text)
            page.claimFreeInProgress = true
            subscribeHandler.freeSubscriptionClaimUnavailable(data.seconds)
            verify(!page.claimFreeInProgress)
            compare(flash().success, false)
            compare(flash().title, Translations.t("free_plan_claim_unavailable_title"))
            compare(flash().message, data.text)
        }

        function test_claimButton() {
            const button = findChild(page, "freePlanButton")
            const login = spyOn("loginRequested")
            page.active = true
            verify(button.visible)
            mouseClick(button)
            compare(login.count, 1)
            compare(subscribeHandler.callsTo("claimFreeSubscription").length, 0)

            auth.isLoggedIn = true
            page.refreshSubscriptions()
            subscribeHandler.nodesFetched()
            mouseClick(button)
            compare(subscribeHandler.callsTo("claimFreeSubscription").length, 1)
            verify(page.claimFreeInProgress)
            compare(button.text, Translations.t("processing"))
            mouseClick(button)
            compare(subscribeHandler.callsTo("claimFreeSubscription").length, 1, "one claim at a time")
            subscribeHandler.freeSubscriptionClaimed()
            verify(!page.claimFreeInProgress)
            compare(flash().success, true)
            compare(flash().title, Translations.t("free_plan_claimed_title"))

            subscribeHandler.claimResult = false
            mouseClick(button)
            verify(!page.claimFreeInProgress, "a refused start does not leave the button busy")

            subscribeHandler.freeSubscriptionClaimFailed("invalid access")
            compare(flash().title, Translations.t("error_auth_expired_title"))
            compare(flash().message, Translations.t("error_auth_expired"))
            subscribeHandler.freeSubscriptionClaimFailed("Too many requests")
            compare(flash().title, Translations.t("free_plan_claim_failed_title"))
            compare(flash().message, Translations.t("error_rate_limited"))

            subscribeHandler.items = [{ "url": "sub-a", "nodes": [] }]
            verify(!button.visible, "hidden once there is a plan")
        }

        function test_emptyState() {
            const button = findChild(page, "emptyStateButton")
            const power = findChild(page, "emptyStatePowerButton")
            const login = spyOn("loginRequested")
            const store = spyOn("openStoreRequested")
            compare(button.text, Translations.t("sign_in_account"))
            mouseClick(button)
            mouseClick(power)
            compare(login.count, 2)
            compare(store.count, 0)

            auth.isLoggedIn = true
            compare(button.text, Translations.t("purchase_plan"))
            compare(findChild(page, "emptyStateStatus").text, Translations.t("no_purchased_subscription"))
            mouseClick(button)
            mouseClick(power)
            compare(store.count, 2)

            subscribeHandler.isLoading = true
            mouseClick(button)
            mouseClick(power)
            compare(store.count, 2, "ignored while loading")
            compare(login.count, 2)
        }

        function test_signOutClearsState() {
            auth.isLoggedIn = true
            page.pendingInitialSubscriptionLoad = true
            page.claimFreeInProgress = true
            page.fetchErrorMessage = "failed"
            auth.isLoggedIn = false
            verify(!page.pendingInitialSubscriptionLoad)
            verify(!page.claimFreeInProgress)
            compare(page.fetchErrorMessage, "")
        }

        // The glow fades in while its breathing runs, and out again on disconnect.
        function test_glowFollowsConnection() {
            subscribeHandler.items = [{ "url": "sub-a", "nodes": [] }]
            const glow = findChild(findChild(page, "subscriptionPowerButton0"), "powerGlow")
            compare(glow.visible, false)
            service.isConnected = true
            service.selectSubscription("sub-a")
            tryVerify(() => glow.opacity > 0.5, 1000)
            service.isConnected = false
            tryCompare(glow, "visible", false, 1000)
        }

        function test_cardRoute_data() {
            return [
                { tag: "nothing remembered", summary: "Auto", kind: "auto" },
                { tag: "remembered country", remembered: "Japan", summary: "Japan", kind: "cluster",
                  flag: true },
                { tag: "remembered country without flag", remembered: "Narnia", summary: "Narnia",
                  kind: "cluster", flag: false },
                { tag: "two-letter code without a shipped flag", remembered: "ZZ", summary: "ZZ",
                  kind: "cluster", flag: false },
                { tag: "remembered automatic", remembered: "auto", summary: "Auto", kind: "auto" },
                { tag: "connected, automatic wins over memory", connected: true, autoRoute: true,
                  proxy: "de-1", remembered: "Japan", summary: "Auto", kind: "auto" },
                { tag: "connected to a country", connected: true, proxy: "de-1", remembered: "Japan",
                  summary: "Germany", kind: "cluster", flag: true },
                { tag: "connected to an unknown tag", connected: true, proxy: "zz-9", summary: "Auto",
                  kind: "none" },
                { tag: "another subscription connected", connected: true, url: "sub-b", proxy: "de-1",
                  remembered: "Narnia", summary: "Narnia", kind: "cluster", flag: false }
            ]
        }

        function test_cardRoute(data) {
            const memory = {}
            if (data.remembered)
                memory["sub-a"] = data.remembered
            subscribeHandler.remembered = memory
            subscribeHandler.items = [{ "url": "sub-a", "nodes": [
                { "name": "Japan", "tags": ["jp-1"] }, { "name": "Germany", "tags": ["de-1"] },
                { "name": "Narnia", "tags": ["na-1"] }] }]
            service.isConnected = !!data.connected
            service.selectSubscription(data.url || "sub-a")
            service.selectedProxy = data.proxy || ""
            service.autoRoute = !!data.autoRoute
            const card = findChild(page, "subscriptionCard0")
            const selector = findChild(page, "subscriptionNodeSelector0")
            compare(card.nodeSummary, data.summary)
            compare(selector.summary, data.summary)
            compare(selector.selectionKind, data.kind)
            if (data.kind === "cluster")
                compare(findChild(selector, "nodeFlag").showsFlag, data.flag)
            compare(findChild(page, "subscriptionStatus0").text,
                    Translations.t(data.connected && !data.url ? "connected_status" : "tap_connect"))

            // A new remembered choice shows once the handler bumps its revision.
            if (!data.connected) {
                subscribeHandler.remembered = { "sub-a": "Germany" }
                subscribeHandler.rememberedSelectionRevision += 1
                compare(card.nodeSummary, "Germany")
            }
        }
        // Live traffic shows on the connected card only; the plan line on every card; the
        // traffic streams only while the page is on screen.
        function test_cardFigures() {
            traffic.reset()
            subscribeHandler.items = [
                { "url": "sub-a", "traffic": 4 * 1024 * 1024 * 1024, "download": 1024 * 1024 * 1024,
                  "upload": 0, "expire_time": 0, "nodes": [] },
                { "url": "sub-b", "traffic": 0, "expire_time": 1, "nodes": [] }
            ]
            compare(findChild(page, "subscriptionPlan0").text,
                    Translations.t("data_left").arg("3.0 GB") + "  ·  " + Translations.t("no_limit"))
            compare(findChild(page, "subscriptionPlan1").text,
                    Translations.t("unlimited") + "  ·  " + Translations.t("expired"))
            const panel = findChild(page, "subscriptionTraffic0")
            verify(!panel.visible)

            service.isConnected = true
            service.selectSubscription("sub-a")
            tryVerify(() => panel.visible)
            verify(!findChild(page, "subscriptionTraffic1").visible)
            traffic.downloadSpeed = 1536
            traffic.sessionDownload = 3 * 1024 * 1024
            traffic.sessionUpload = 1024 * 1024
            traffic.connectedSince = Date.now() - 65000
            const download = findChild(panel, "trafficDownload")
            compare(download.value, "1.5 KB/s")
            compare(download.detail, "3.0 MB")
            compare(findChild(panel, "trafficSessionTime").detail, "4.0 MB")

            verify(!traffic.watching, "the page is not on screen")
            page.active = true
            verify(traffic.watching)
            // The session clock runs while watched.
            tryVerify(() => /^01:0[5-9]$/.test(findChild(panel, "trafficSessionTime").value))
            page.active = false
            verify(!traffic.watching)
        }

        // The panel could not be reached: the kept list shows with a quiet notice, and a refresh
        // behind it does not cover it.
        function test_offline() {
            auth.isLoggedIn = true
            subscribeHandler.items = [{ "url": "sub-a", "nodes": [] }]
            const notice = findChild(page, "offlineNotice")
            verify(!notice.visible)
            subscribeHandler.offline = true
            verify(notice.visible)
            compare(notice.text, Translations.t("account_data_stale"))
            subscribeHandler.isLoading = true
            verify(!page.showingSubscriptionLoadingState)
            subscribeHandler.offline = false
            verify(page.showingSubscriptionLoadingState)
        }
    }
}
