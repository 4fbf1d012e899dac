import QtQuick
import QtTest
import appclient

// The connect page's list: when it asks for subscriptions, how failures and free plan answers
// are shown, the empty state, and what each card says about its route.
ViewCase {
    name: "SubscriptionsPage"

    function init() {
        resetBackend()
        make("SubscriptionsPage")
    }

    function fetches() { return subscribeHandler.callsTo("fetchNodes").length }

    function compareFlash(success, title, message) {
        const flash = item("subscriptionsFlash")
        compare([flash.success, flash.title, flash.message], [success, Translations.t(title), message])
    }

    function test_refreshWaitsAndCancels() {
        auth.isLoggedIn = true
        const start = Date.now()
        view.active = true
        verify(view.showingSubscriptionLoadingState && !view.canShowStartupAnnouncement)
        compare(fetches(), 0)
        tryVerify(() => fetches() === 1, 1000)
        // 280 ms, less what a coarse timer may fire early.
        verify(Date.now() - start >= 260, "fetched after " + (Date.now() - start) + " ms")
        subscribeHandler.nodesFetched()
        verify(!view.showingSubscriptionLoadingState && view.canShowStartupAnnouncement)

        // Leaving before the fetch cancels it; signed out nothing is asked for.
        subscribeHandler.clearCalls()
        view.active = false
        view.active = true
        view.active = false
        auth.isLoggedIn = false
        view.refreshSubscriptions()
        verify(!view.pendingInitialSubscriptionLoad)
        wait(350)
        compare(fetches(), 0)
    }

    function test_fetchFailure_data() {
        return [{ tag: "auth expired, panel wording", error: "  Invalid Access ", line: "" },
                { tag: "known phrase", error: "Connection timed out", line: "error_timeout" }]
    }

    // Only an expiry flashes (and clears the page's line); other failures stay on the page.
    function test_fetchFailure(data) {
        auth.isLoggedIn = true
        view.fetchErrorMessage = "earlier failure"
        view.pendingInitialSubscriptionLoad = true
        subscribeHandler.fetchFailed(data.error)
        compare([view.pendingInitialSubscriptionLoad, item("fetchErrorText").visible, item("subscriptionsFlash").active],
                [false, data.line !== "", data.line === ""])
        compare(view.fetchErrorMessage, data.line ? Translations.t(data.line) : "")
        if (data.line === "")
            compareFlash(false, "error_auth_expired_title", Translations.t("error_auth_expired"))
        subscribeHandler.nodesFetched()
        verify(!item("fetchErrorText").visible)
    }

    function test_claimUnavailable_data() {
        return [
            { tag: "61 s rounds up", seconds: 61, text: "You can claim again in 2m." },
            { tag: "3599 s rounds to the hour", seconds: 3599, text: "You can claim again in 1h." },
            { tag: "3660 s", seconds: 3660, text: "You can claim again in 1h 1m." },
            { tag: "0 s", seconds: 0, text: "Free plan time can only be claimed when you do not have an active plan." }
        ]
    }

    function test_claimUnavailable(data) {
        view.claimFreeInProgress = true
        subscribeHandler.freeSubscriptionClaimUnavailable(data.seconds)
        verify(!view.claimFreeInProgress)
        compareFlash(false, "free_plan_claim_unavailable_title", data.text)
    }

    // One claim at a time; a refused start frees the button; hidden once there is a plan.
    function test_claimButton() {
        const button = item("freePlanButton")
        view.active = true
        auth.isLoggedIn = true
        view.refreshSubscriptions()
        subscribeHandler.nodesFetched()
        mouseClick(button)
        mouseClick(button)
        compare(subscribeHandler.callsTo("claimFreeSubscription").length, 1)
        compare(button.text, Translations.t("processing"))
        subscribeHandler.freeSubscriptionClaimed()
        verify(!view.claimFreeInProgress && item("subscriptionsFlash").success)

        subscribeHandler.claimResult = false
        mouseClick(button)
        verify(!view.claimFreeInProgress)
        subscribeHandler.freeSubscriptionClaimFailed("Too many requests")
        compareFlash(false, "free_plan_claim_failed_title", Translations.t("error_rate_limited"))

        subscribeHandler.items = [{ "url": "sub-a", "nodes": [] }]
        verify(!button.visible)
    }

    // Signed in without a plan, both buttons lead to the store, but not while loading.
    function test_emptyState() {
        const store = spy(view, "openStoreRequested")
        auth.isLoggedIn = true
        mouseClick(item("emptyStateButton"))
        mouseClick(item("emptyStatePowerButton"))
        subscribeHandler.isLoading = true
        mouseClick(item("emptyStateButton"))
        compare(store.count, 2)
        view.pendingInitialSubscriptionLoad = true
        view.fetchErrorMessage = "failed"
        auth.isLoggedIn = false
        compare([view.pendingInitialSubscriptionLoad, view.fetchErrorMessage], [false, ""], "cleared on sign-out")
    }

    function test_cardRoute_data() {
        return [
            { tag: "nothing remembered", summary: "Auto", kind: "auto" },
            { tag: "remembered country", remembered: "Japan", summary: "Japan", kind: "cluster", flag: true },
            { tag: "connected, automatic wins over memory", connected: true, autoRoute: true, proxy: "de-1",
              remembered: "Japan", summary: "Auto", kind: "auto" },
            { tag: "connected to a country", connected: true, proxy: "de-1", remembered: "Japan",
              summary: "Germany", kind: "cluster", flag: true },
            { tag: "another subscription connected", connected: true, url: "sub-b", proxy: "de-1",
              remembered: "Narnia", summary: "Narnia", kind: "cluster", flag: false }
        ]
    }

    function test_cardRoute(data) {
        subscribeHandler.remembered = data.remembered ? { "sub-a": data.remembered } : {}
        subscribeHandler.items = [{ "url": "sub-a", "nodes": [
            { "name": "Japan", "tags": ["jp-1"] }, { "name": "Germany", "tags": ["de-1"] },
            { "name": "Narnia", "tags": ["na-1"] }] }]
        service.isConnected = !!data.connected
        service.selectSubscription(data.url || "sub-a")
        service.selectedProxy = data.proxy || ""
        service.autoRoute = !!data.autoRoute
        const selector = item("subscriptionNodeSelector0")
        compare([item("subscriptionCard0").nodeSummary, selector.summary, selector.selectionKind],
                [data.summary, data.summary, data.kind])
        if (data.kind === "cluster")
            compare(item("nodeFlag", selector).showsFlag, data.flag)
        compare(item("subscriptionStatus0").text,
                Translations.t(data.connected && !data.url ? "connected_status" : "tap_connect"))
        if (!data.connected) {
            // A new remembered choice shows once the handler bumps its revision.
            subscribeHandler.remembered = { "sub-a": "Germany" }
            subscribeHandler.rememberedSelectionRevision += 1
            compare(item("subscriptionCard0").nodeSummary, "Germany")
        }
    }

    // Live traffic on the connected card only, streamed only while the page is on screen;
    // offline, the kept list shows with a quiet notice, and a refresh behind it does not cover it.
    function test_trafficAndOffline() {
        auth.isLoggedIn = true
        subscribeHandler.items = [{ "url": "sub-a", "nodes": [] }, { "url": "sub-b", "nodes": [] }]
        const panel = item("subscriptionTraffic0")
        verify(!panel.visible)
        service.isConnected = true
        service.selectSubscription("sub-a")
        tryVerify(() => panel.visible)
        verify(!item("subscriptionTraffic1").visible && !traffic.watching)
        view.active = true
        verify(traffic.watching)
        view.active = false
        verify(!traffic.watching)

        verify(!item("offlineNotice").visible)
        subscribeHandler.offline = true
        verify(item("offlineNotice").visible)
        subscribeHandler.isLoading = true
        verify(!view.showingSubscriptionLoadingState)
        subscribeHandler.offline = false
        verify(view.showingSubscriptionLoadingState)
    }
}
