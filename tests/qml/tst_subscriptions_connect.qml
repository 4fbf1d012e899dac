import QtQuick
import QtTest
import appclient

// Connecting from the connect page: the power button, the node picker, the administrator
// check before any connect, and connections resumed after an elevated restart.
ViewCase {
    name: "SubscriptionsConnect"

    readonly property var connects: ["clearPendingConnection", "selectSubscription sub-a", "ToggleConnection"]

    function init() {
        resetBackend()
        service.clusterNodes = { "Japan": "jp-1", "Germany": "de-1", "United States": "us-1" }
        auth.isLoggedIn = true
        subscribeHandler.items = [
            { "url": "sub-a", "nodes": [{ "name": "Japan", "tags": ["jp-1", "jp-2"] },
                                        { "name": "Germany", "tags": ["de-1"] }] },
            { "url": "sub-b", "nodes": [{ "name": "United States", "tags": ["us-1"] }] }
        ]
        make("SubscriptionsPage")
    }

    function connectTo(url, proxy, automatic) {
        service.isConnected = true
        service.selectSubscription(url)
        service.selectedProxy = proxy
        service.autoRoute = automatic
        service.clearCalls()
    }

    function openPicker() {
        mouseClick(item("subscriptionNodeSelector0"))
        verify(view.nodePickerOpen)
        const picker = item("nodePicker")
        tryCompare(picker, "x", 0, 1000)
        return picker
    }

    // Another card's button switches over; clicks during the ring's sweep do nothing. The same
    // card's button on and off, and the no-response status, are the end-to-end roads' steps.
    function test_powerButton() {
        const card = item("subscriptionCard1")
        const power = item("subscriptionPowerButton1")
        connectTo("sub-a", "jp-1", false)
        mouseClick(power)
        compare(callTexts(service), ["clearPendingConnection", "ToggleConnection", "selectSubscription sub-b",
                                     "ToggleConnection"])
        verify(card.isActiveSubscription && !card.shownConnected, "the look stays off while the ring sweeps")
        compare(card.statusText, Translations.t("connecting_status"))
        mouseClick(power)
        compare(service.calls.length, 4)
        tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
    }

    function test_pickerWhileConnected_data() {
        return [
            { tag: "current country", proxy: "de-1", row: "nodePickerRow_Germany", calls: [] },
            { tag: "current automatic", proxy: "jp-2", automatic: true, row: "nodePickerAutoRow", calls: [] },
            { tag: "other country", proxy: "jp-2", row: "nodePickerRow_Germany", calls: ["selectCluster Germany"] },
            { tag: "to automatic", proxy: "jp-2", row: "nodePickerAutoRow", calls: ["selectAutoRoute"] },
            { tag: "other subscription connected", url: "sub-b", proxy: "us-1", row: "nodePickerRow_Japan", calls: [],
              message: true }
        ]
    }

    // The current row only closes the picker, another one switches without a reconnect; with
    // another subscription connected the picker only says so, and Esc leaves it.
    function test_pickerWhileConnected(data) {
        const messages = spy(view, "showMessage")
        connectTo(data.url || "sub-a", data.proxy, !!data.automatic)
        const card = item("subscriptionCard0")
        const row = item(data.row, openPicker())
        if (!data.message)
            compare(row.current, data.calls.length === 0)
        mouseClick(row)
        compare(callTexts(service), data.calls)
        compare(messages.count, data.message ? 1 : 0)
        if (data.message) {
            compare(messages.signalArguments[0][0], Translations.t("different_subscription"))
            keyClick(Qt.Key_Escape)
        }
        verify(!view.nodePickerOpen)
        compare(card.reconnecting, data.calls.length > 0)
        if (data.calls.length > 0)
            tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
    }

    // A refused choice connects nothing (an accepted one connects: the end-to-end roads).
    function test_pickerRefused() {
        service.selectResult = false
        mouseClick(item("nodePickerRow_Germany", openPicker()))
        compare(callTexts(service), ["selectSubscription sub-a", "selectCluster Germany"])
        verify(!view.nodePickerOpen && !item("subscriptionCard0").animating)
    }

    function test_privilegePassword() {
        service.hasPrivileges = false
        service.requiresPasswordInput = true
        mouseClick(item("subscriptionPowerButton0"))
        const dialog = item("privilegeDialog")
        const field = item("privilegePasswordField", dialog.contentItem)
        tryCompare(dialog, "opened", true)

        service.privilegeRequestResult = false
        keyClick("x")
        keyClick(Qt.Key_Return)
        compare(callTexts(service), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword x"])
        compare(item("privilegeErrorText", dialog.contentItem).text, Translations.t("auth_failed"))
        compare(field.text, "")

        service.clearCalls()
        service.privilegeRequestResult = true
        field.text = "right"
        mouseClick(item("privilegeSubmitButton", dialog.contentItem))
        compare(callTexts(service), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword right"]
                .concat(connects))
        verify(service.tunEnabled)
        tryCompare(dialog, "visible", false)
    }

    function test_privilegeRequest_data() {
        return [
            { tag: "granted", result: true, grants: true, pending: "", calls: connects },
            { tag: "declined", result: false, grants: false, pending: "", calls: ["clearPendingConnection"] },
            { tag: "restarting elevated", result: true, grants: false, pending: "sub-a", calls: [] }
        ]
    }

    function test_privilegeRequest(data) {
        service.hasPrivileges = false
        service.privilegeRequestResult = data.result
        service.grantsPrivileges = data.grants
        mouseClick(item("subscriptionPowerButton0"))
        compare(callTexts(service), ["preparePendingConnection sub-a", "requestPrivileges"].concat(data.calls))
        compare(service.tunEnabled, data.result && data.grants)
        compare(view.pendingConnectSubscriptionUrl, data.pending)
    }

    // Each country shows its best node's latency; a node chosen from an opened country is pinned.
    function test_pickerLatency() {
        latency.delays = { "jp-1": 320, "jp-2": 80, "de-1": -1 }
        const picker = openPicker()
        compare(latency.callsTo("testIfNeeded")[0].args[0], "sub-a")
        compare([item("nodePickerRow_Japan", picker).delay, item("nodePickerRow_Germany", picker).delay], [80, -1])
        mouseClick(item("nodePickerExpand_Japan", picker))
        compare(item("nodePickerNode_jp-1", picker).delay, 320)
        latency.delays = { "jp-1": 320, "jp-2": 80, "de-1": 45 }
        latency.revision += 1
        compare(item("nodePickerRow_Germany", picker).delay, 45)
        mouseClick(item("nodePickerRefresh", picker))
        compare(latency.callsTo("test").length, 1)
        waitForRendering(picker) // the header and rows are laid out again before the click
        mouseClick(item("nodePickerNode_jp-1", picker))
        compare(callTexts(service), ["selectSubscription sub-a", "selectProxy jp-1"].concat(connects))
    }

    // Connected, but the node does not answer: the card offers a retry. A connection resumed
    // after an elevated restart shows on its card, once the card is there.
    function test_noResponseAndResume() {
        const retry = item("subscriptionRetry0")
        connectTo("sub-a", "jp-1", true)
        verify(!retry.visible)
        service.nodeResponding = false
        mouseClick(retry)
        compare(callTexts(service), ["retryConnection"])
        service.nodeResponding = true
        verify(!retry.visible)

        service.pendingConnectionResumeStarted("sub-b")
        verify(item("subscriptionCard1").connecting)
        service.pendingConnectionResumeStarted("sub-c")
        compare(view.pendingResumeProgressSubscriptionUrl, "sub-c", "waits for its card")
        subscribeHandler.items = subscribeHandler.items.concat([{ "url": "sub-c", "nodes": [] }])
        subscribeHandler.nodesFetched()
        compare(view.pendingResumeProgressSubscriptionUrl, "")
        verify(item("subscriptionCard2").connecting)
    }
}
