import QtQuick
import QtTest
import appclient

// Connecting from the connect page: the power button, the node picker, the administrator
// check before any connect, and connections resumed after an elevated restart.
ViewCase {
    name: "SubscriptionsConnect"

    Component {
        id: pageComponent

        SubscriptionsPage {
            width: 400
            height: 760
        }
    }

    function init() {
        auth.reset()
        subscribeHandler.reset()
        service.reset()
        latency.reset()
        service.clusterNodes = { "Japan": "jp-1", "Germany": "de-1", "United States": "us-1" }
        Translations.currentLanguage = "en"
        auth.isLoggedIn = true
        subscribeHandler.items = [
            { "url": "sub-a", "nodes": [{ "name": "Japan", "tags": ["jp-1", "jp-2"] },
                                        { "name": "Germany", "tags": ["de-1"] }] },
            { "url": "sub-b", "nodes": [{ "name": "United States", "tags": ["us-1"] }] }
        ]
        make(pageComponent)
    }

    // The names and arguments of the tunnel controller's calls, in order.
    function serviceCalls() {
        return service.calls.map(call => [call.name].concat(call.args).join(" "))
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

    readonly property var connects: ["clearPendingConnection", "selectSubscription sub-a", "ToggleConnection"]

    function test_powerButton() {
        const card = item("subscriptionCard1")
        const power = item("subscriptionPowerButton1")
        connectTo("sub-a", "jp-1", false)
        mouseClick(power)
        compare(serviceCalls(), ["clearPendingConnection", "ToggleConnection", "selectSubscription sub-b",
                                 "ToggleConnection"])
        verify(card.isActiveSubscription && !card.shownConnected, "the look stays off while the ring sweeps")
        compare(card.statusText, Translations.t("connecting_status"))
        mouseClick(power)
        compare(service.calls.length, 4, "clicks during the sweep do nothing")
        tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
        tryCompare(card, "animating", false, 1000)
        mouseClick(power)
        compare(serviceCalls().slice(4), ["ToggleConnection"])
        compare(card.statusText, Translations.t("tap_connect"))
    }

    // With another subscription connected the picker only says so, and Esc leaves it.
    function test_pickerOtherSubscriptionConnected() {
        const messages = spy(view, "showMessage")
        connectTo("sub-b", "us-1", false)
        const picker = openPicker()
        mouseClick(item("nodePickerRow_Japan", picker))
        compare([messages.count, messages.signalArguments[0][0], service.calls.length],
                [1, Translations.t("different_subscription"), 0])
        keyClick(Qt.Key_Escape)
        verify(!view.nodePickerOpen)
    }

    function test_pickerWhileConnected_data() {
        return [
            { tag: "current country", proxy: "de-1", automatic: false, row: "nodePickerRow_Germany", calls: [] },
            { tag: "current automatic", proxy: "jp-2", automatic: true, row: "nodePickerAutoRow", calls: [] },
            { tag: "other country", proxy: "jp-2", automatic: false, row: "nodePickerRow_Germany",
              calls: ["selectCluster Germany"] },
            { tag: "to automatic", proxy: "jp-2", automatic: false, row: "nodePickerAutoRow", calls: ["selectAutoRoute"] }
        ]
    }

    // The current row only closes the picker; another one switches without a reconnect.
    function test_pickerWhileConnected(data) {
        connectTo("sub-a", data.proxy, data.automatic)
        const card = item("subscriptionCard0")
        const row = item(data.row, openPicker())
        compare(row.current, data.calls.length === 0)
        mouseClick(row)
        compare(serviceCalls(), data.calls)
        verify(!view.nodePickerOpen)
        compare(card.reconnecting, data.calls.length > 0)
        if (data.calls.length > 0)
            tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
    }

    function test_pickerConnects() {
        const card = item("subscriptionCard0")
        service.selectResult = false // refused: nothing connects
        mouseClick(item("nodePickerRow_Germany", openPicker()))
        compare(serviceCalls(), ["selectSubscription sub-a", "selectCluster Germany"])
        verify(!view.nodePickerOpen && !card.animating)

        service.reset()
        tryCompare(item("nodePicker"), "visible", false, 1000)
        mouseClick(item("nodePickerRow_Germany", openPicker()))
        compare(serviceCalls(), ["selectSubscription sub-a", "selectCluster Germany"].concat(connects))
        verify(service.isConnected && card.connecting)
        tryCompare(card, "nodeSummary", "Germany")
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
        compare(serviceCalls(), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword x"])
        compare(item("privilegeErrorText", dialog.contentItem).text, Translations.t("auth_failed"))
        compare(field.text, "")

        service.clearCalls()
        service.privilegeRequestResult = true
        field.text = "right"
        mouseClick(item("privilegeSubmitButton", dialog.contentItem))
        compare(serviceCalls(), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword right"]
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
        compare(serviceCalls(), ["preparePendingConnection sub-a", "requestPrivileges"].concat(data.calls))
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
        compare(serviceCalls(), ["selectSubscription sub-a", "selectProxy jp-1"].concat(connects))
    }

    // Connected, but the node does not answer: the card says so and offers a retry.
    function test_noResponse() {
        const retry = item("subscriptionRetry0")
        connectTo("sub-a", "jp-1", true)
        tryCompare(item("subscriptionCard0"), "statusText", Translations.t("connected_status"))
        verify(!retry.visible)
        service.nodeResponding = false
        compare(item("subscriptionCard0").statusText, Translations.t("connected_no_response"))
        mouseClick(retry)
        compare(serviceCalls(), ["retryConnection"])
        service.nodeResponding = true
        verify(!retry.visible)
    }

    // A connection resumed after an elevated restart shows on its card, once the card is there.
    function test_resumedConnection() {
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
