import QtQuick
import QtTest
import appclient

// Connecting from the connect page: the power button, the node picker, the administrator
// check before any connect, and connections resumed after an elevated restart.
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
        name: "SubscriptionsConnect"
        when: windowShown

        property SubscriptionsPage page

        function init() {
            auth.reset()
            subscribeHandler.reset()
            service.reset()
            latency.reset()
            traffic.reset()
            service.clusterNodes = { "Japan": "jp-1", "Germany": "de-1", "United States": "us-1" }
            Translations.currentLanguage = "en"
            auth.isLoggedIn = true
            subscribeHandler.items = [
                { "url": "sub-a", "nodes": [{ "name": "Japan", "tags": ["jp-1", "jp-2"] },
                                            { "name": "Germany", "tags": ["de-1"] }] },
                { "url": "sub-b", "nodes": [{ "name": "United States", "tags": ["us-1"] }] }
            ]
            page = createTemporaryObject(pageComponent, root)
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

        function openPicker(index) {
            tryCompare(findChild(page, "nodePicker"), "visible", false, 1000)
            mouseClick(findChild(page, "subscriptionNodeSelector" + index))
            verify(page.nodePickerOpen)
            const picker = findChild(page, "nodePicker")
            tryCompare(picker, "x", 0, 1000)
            return picker
        }

        function test_powerButton() {
            const card = findChild(page, "subscriptionCard1")
            const power = findChild(page, "subscriptionPowerButton1")
            connectTo("sub-a", "jp-1", false)
            mouseClick(power)
            compare(serviceCalls(), ["clearPendingConnection", "ToggleConnection",
                                     "selectSubscription sub-b", "ToggleConnection"])
            verify(service.tunEnabled)
            verify(card.isActiveSubscription)
            compare(card.statusText, Translations.t("connecting_status"))
            verify(!card.shownConnected, "the look stays off while the ring sweeps")
            wait(300)
            mouseClick(power)
            mouseClick(power)
            compare(service.calls.length, 4, "clicks during the sweep do nothing")
            tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
            tryCompare(card, "animating", false, 1000)

            mouseClick(power)
            compare(serviceCalls().slice(4), ["ToggleConnection"])
            compare(card.statusText, Translations.t("tap_connect"))

            const login = createTemporaryObject(spyComponent, root,
                                                { target: page, signalName: "loginRequested" })
            auth.isLoggedIn = false
            mouseClick(power)
            compare(login.count, 1)
            compare(service.calls.length, 5)
        }

        function test_pickerRows() {
            const picker = openPicker(0)
            compare(findChild(picker, "nodePickerRow_Japan").title, "Japan")
            verify(findChild(picker, "nodePickerRow_Germany"))
            compare(findChild(picker, "nodePickerAutoRow").title, Translations.t("auto_route"))
            mouseClick(findChild(picker, "nodePickerBack"))
            verify(!page.nodePickerOpen)
            tryCompare(picker, "visible", false, 1000)
            openPicker(0)
            keyClick(Qt.Key_Escape)
            verify(!page.nodePickerOpen, "Esc leaves the picker as the back button does")
            tryCompare(picker, "visible", false, 1000)
            compare(service.calls.length, 0)
        }

        function test_pickerOtherSubscriptionConnected() {
            const messages = createTemporaryObject(spyComponent, root,
                                                   { target: page, signalName: "showMessage" })
            connectTo("sub-b", "us-1", false)
            const picker = openPicker(0)
            mouseClick(findChild(picker, "nodePickerRow_Japan"))
            mouseClick(findChild(picker, "nodePickerAutoRow"))
            compare(messages.count, 2)
            compare(messages.signalArguments[0][0], Translations.t("different_subscription"))
            compare(messages.signalArguments[0][1], Translations.t("different_subscription_msg"))
            compare(service.calls.length, 0)
            verify(page.nodePickerOpen)
        }

        function test_pickerActiveRowCloses_data() {
            return [
                { tag: "country", proxy: "de-1", automatic: false, row: "nodePickerRow_Germany",
                  other: "nodePickerRow_Japan" },
                { tag: "automatic", proxy: "jp-2", automatic: true, row: "nodePickerAutoRow",
                  other: "nodePickerRow_Japan" }
            ]
        }

        function test_pickerActiveRowCloses(data) {
            connectTo("sub-a", data.proxy, data.automatic)
            const picker = openPicker(0)
            verify(findChild(picker, data.row).current)
            verify(!findChild(picker, data.other).current)
            mouseClick(findChild(picker, data.row))
            verify(!page.nodePickerOpen)
            compare(service.calls.length, 0)
            verify(!findChild(page, "subscriptionCard0").animating)
        }

        function test_pickerSwitchWhileConnected_data() {
            return [
                { tag: "country", row: "nodePickerRow_Germany", call: "selectCluster Germany" },
                { tag: "automatic", row: "nodePickerAutoRow", call: "selectAutoRoute" }
            ]
        }

        function test_pickerSwitchWhileConnected(data) {
            connectTo("sub-a", "jp-2", false)
            const card = findChild(page, "subscriptionCard0")
            const picker = openPicker(0)
            mouseClick(findChild(picker, data.row))
            compare(serviceCalls(), [data.call])
            verify(!page.nodePickerOpen)
            verify(card.reconnecting)
            compare(card.statusText, Translations.t("connecting_status"))
            tryCompare(card, "statusText", Translations.t("connected_status"), 3000)
        }

        function test_pickerConnects() {
            const card = findChild(page, "subscriptionCard0")
            let picker = openPicker(0)
            service.selectResult = false
            mouseClick(findChild(picker, "nodePickerRow_Germany"))
            compare(serviceCalls(), ["selectSubscription sub-a", "selectCluster Germany"])
            verify(!page.nodePickerOpen)
            verify(!card.animating)

            service.reset()
            picker = openPicker(0)
            mouseClick(findChild(picker, "nodePickerRow_Germany"))
            compare(serviceCalls(), ["selectSubscription sub-a", "selectCluster Germany",
                                     "clearPendingConnection", "selectSubscription sub-a",
                                     "ToggleConnection"])
            verify(service.isConnected)
            verify(card.connecting)
            tryCompare(card, "nodeSummary", "Germany")
        }

        function test_privilegePassword() {
            service.hasPrivileges = false
            service.requiresPasswordInput = true
            mouseClick(findChild(page, "subscriptionPowerButton0"))
            const dialog = findChild(page, "privilegeDialog")
            const field = findChild(dialog.contentItem, "privilegePasswordField")
            const submit = findChild(dialog.contentItem, "privilegeSubmitButton")
            tryCompare(dialog, "opened", true)
            compare(page.pendingConnectSubscriptionUrl, "sub-a")
            compare(service.calls.length, 0)
            verify(!submit.enabled)
            verify(field.activeFocus)

            service.privilegeRequestResult = false
            keyClick("x")
            keyClick(Qt.Key_Return)
            compare(serviceCalls(), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword x"])
            compare(findChild(dialog.contentItem, "privilegeErrorText").text, Translations.t("auth_failed"))
            compare(field.text, "")
            verify(dialog.opened)

            service.clearCalls()
            service.privilegeRequestResult = true
            field.text = "right"
            mouseClick(submit)
            compare(serviceCalls(), ["preparePendingConnection sub-a", "requestPrivilegesWithPassword right",
                                     "clearPendingConnection", "selectSubscription sub-a", "ToggleConnection"])
            verify(service.tunEnabled)
            compare(page.pendingConnectSubscriptionUrl, "")
            tryCompare(dialog, "visible", false)
        }

        function test_privilegePasswordCancel() {
            service.hasPrivileges = false
            service.requiresPasswordInput = true
            mouseClick(findChild(page, "subscriptionPowerButton1"))
            const dialog = findChild(page, "privilegeDialog")
            tryCompare(dialog, "opened", true)
            mouseClick(findChild(dialog.contentItem, "privilegeCancelButton"))
            compare(serviceCalls(), ["clearPendingConnection"])
            compare(page.pendingConnectSubscriptionUrl, "")
            compare(page.pendingConnectAction, null)
            tryCompare(dialog, "visible", false)
        }

        function test_privilegeRequest_data() {
            return [
                { tag: "granted", result: true, grants: true, pending: "",
                  calls: ["preparePendingConnection sub-a", "requestPrivileges", "clearPendingConnection",
                          "selectSubscription sub-a", "ToggleConnection"] },
                { tag: "declined", result: false, grants: false, pending: "",
                  calls: ["preparePendingConnection sub-a", "requestPrivileges", "clearPendingConnection"] },
                { tag: "restarting elevated", result: true, grants: false, pending: "sub-a",
                  calls: ["preparePendingConnection sub-a", "requestPrivileges"] }
            ]
        }

        function test_privilegeRequest(data) {
            service.hasPrivileges = false
            service.privilegeRequestResult = data.result
            service.grantsPrivileges = data.grants
            mouseClick(findChild(page, "subscriptionPowerButton0"))
            compare(serviceCalls(), data.calls)
            compare(service.tunEnabled, data.result && data.grants)
            compare(page.pendingConnectSubscriptionUrl, data.pending)
            verify(!findChild(page, "privilegeDialog").visible)
        }

        // Latencies: each country's best, every node of an opened one, refreshed on demand; a
        // node chosen from the list is pinned.
        function test_pickerLatency() {
            latency.delays = { "jp-1": 320, "jp-2": 80, "de-1": -1 }
            const picker = openPicker(0)
            compare(latency.callsTo("testIfNeeded").length, 1)
            compare(latency.calls[0].args[0], "sub-a")
            compare(findChild(picker, "nodePickerAutoRow").delay, 80)
            compare(findChild(picker, "nodePickerRow_Japan").delay, 80)
            compare(findChild(picker, "nodePickerRow_Germany").delay, -1)
            verify(!findChild(picker, "nodePickerNode_jp-1"), "closed until opened")

            mouseClick(findChild(picker, "nodePickerExpand_Japan"))
            const node = findChild(picker, "nodePickerNode_jp-1")
            verify(node)
            compare(node.delay, 320)
            latency.delays = { "jp-1": 320, "jp-2": 80, "de-1": 45 }
            latency.revision += 1
            compare(findChild(picker, "nodePickerRow_Germany").delay, 45)

            mouseClick(findChild(picker, "nodePickerRefresh"))
            compare(latency.callsTo("test").length, 1)
            latency.testing = true
            latency.testingSubscription = "sub-a"
            verify(!findChild(picker, "nodePickerRefresh").enabled, "one measurement at a time")

            waitForRendering(picker) // the header and rows are laid out again before the click
            mouseClick(findChild(picker, "nodePickerNode_jp-1"))
            compare(serviceCalls(), ["selectSubscription sub-a", "selectProxy jp-1",
                                     "clearPendingConnection", "selectSubscription sub-a",
                                     "ToggleConnection"])
            verify(!page.nodePickerOpen)
        }

        // Connected, but the node does not answer: the card says so and offers a retry.
        function test_noResponse() {
            const card = findChild(page, "subscriptionCard0")
            const retry = findChild(page, "subscriptionRetry0")
            connectTo("sub-a", "jp-1", true)
            tryCompare(card, "statusText", Translations.t("connected_status"))
            verify(!retry.visible)
            compare(findChild(card, "nodeSelectorDetail").text, Translations.t("via_node").arg("jp-1"))

            service.nodeResponding = false
            compare(card.statusText, Translations.t("connected_no_response"))
            verify(retry.visible)
            mouseClick(retry)
            compare(serviceCalls(), ["retryConnection"])
            service.checkingConnection = true
            verify(!retry.enabled)
            service.nodeResponding = true
            compare(card.statusText, Translations.t("connected_status"))
            verify(!retry.visible)
        }

        function test_resumedConnection() {
            service.pendingConnectionResumeStarted("sub-b")
            verify(findChild(page, "subscriptionCard1").connecting)
            compare(page.pendingResumeProgressSubscriptionUrl, "")

            service.pendingConnectionResumeStarted("sub-c")
            compare(page.pendingResumeProgressSubscriptionUrl, "sub-c", "waits for its card")
            subscribeHandler.nodesFetched()
            compare(page.pendingResumeProgressSubscriptionUrl, "sub-c")
            subscribeHandler.items = subscribeHandler.items.concat([{ "url": "sub-c", "nodes": [] }])
            subscribeHandler.nodesFetched()
            compare(page.pendingResumeProgressSubscriptionUrl, "")
            verify(findChild(page, "subscriptionCard2").connecting)
        }
    }
}
