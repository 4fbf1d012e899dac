import QtQuick

// The support section: open and closed tickets, a new ticket, and one ticket's conversation in a
// drawer with a reply field. The list is re-read every 20 s and an open conversation every 5 s.
Item {
    id: root

    property bool active: false
    property bool pendingPageRefresh: false
    // -2: every ticket that is not closed; 4: closed ones.
    property int statusFilter: -2
    property int listPage: 1
    property var shownTickets: []
    property int listPollIntervalMs: 20000
    property int detailPollIntervalMs: 5000

    readonly property int pageCount: ticket.pageSize > 0 ? Math.max(1, Math.ceil(ticket.totalTickets / ticket.pageSize)) : 1
    // One window: the application turns active when it does.
    readonly property bool windowActive: root.Window.active
    readonly property bool listPolling: root.active && auth.isLoggedIn && !ticket.isLoading && !detail.visible

    // The server lists no closed tickets unless asked for them, so the open tab asks without a
    // status and drops what is closed; the closed tab asks for status 4.
    function refreshTickets() {
        root.pendingPageRefresh = false
        ticket.fetchTickets(root.listPage, 50, root.statusFilter === 4 ? 4 : -1)
    }

    function scheduleTicketsRefresh() {
        if (!auth.isLoggedIn) {
            root.pendingPageRefresh = false
            return
        }
        root.pendingPageRefresh = true
        refreshTimer.restart()
    }

    function rebuildList() {
        const shown = []
        for (let i = 0; i < ticket.ticketCount; ++i) {
            const item = ticket.getTicket(i)
            if (root.statusFilter === -2 ? item.status !== 4 : item.status === root.statusFilter)
                shown.push(item)
        }
        root.shownTickets = shown
    }

    function openTicket(id) {
        detail.show(id)
        ticket.fetchTicketDetail(id)
    }

    function turnPage(step) {
        const next = Math.min(root.pageCount, Math.max(1, root.listPage + step))
        if (next === root.listPage)
            return
        root.listPage = next
        root.refreshTickets()
    }

    Component.onCompleted: {
        root.rebuildList()
        if (auth.isLoggedIn)
            root.scheduleTicketsRefresh()
    }
    onActiveChanged: {
        if (root.active) {
            if (auth.isLoggedIn && ticket.ticketCount === 0)
                root.scheduleTicketsRefresh()
            return
        }
        refreshTimer.stop()
        root.pendingPageRefresh = false
    }
    onWindowActiveChanged: {
        if (root.windowActive && root.active && auth.isLoggedIn)
            root.refreshTickets()
    }
    onStatusFilterChanged: {
        root.listPage = 1
        root.rebuildList()
        if (root.active)
            root.scheduleTicketsRefresh()
    }

    Timer {
        id: refreshTimer

        interval: 280
        onTriggered: {
            if (root.active)
                root.refreshTickets()
            else
                root.pendingPageRefresh = false
        }
    }

    Timer {
        objectName: "ticketListPoll"
        interval: root.listPollIntervalMs
        repeat: true
        running: root.listPolling
        onTriggered: root.refreshTickets()
    }

    Connections {
        target: ticket

        function onTicketsChanged() {
            root.rebuildList()
        }
        function onTicketCreated(ticketId) {
            root.refreshTickets()
        }
        function onTicketClosed() {
            detail.reloadAfterClose()
            root.refreshTickets()
        }
        function onOperationFailed(error) {
            if (Translations.errorKey(error) === "error_auth_expired") {
                newTicketDialog.close()
                detail.hide()
                flash.showError(Translations.t("error_auth_expired_title"), Translations.t("error_auth_expired"))
                return
            }
            flash.showError(Translations.t("ticket_operation_failed_title"), Translations.translateError(error))
        }
    }

    Connections {
        target: auth

        function onIsLoggedInChanged() {
            if (auth.isLoggedIn)
                root.scheduleTicketsRefresh()
        }
    }

    TicketFilterBar {
        id: filterBar

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        statusFilter: root.statusFilter
        onFilterChosen: filter => root.statusFilter = filter
        onCreateClicked: newTicketDialog.open()
    }

    TicketList {
        objectName: "ticketList"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: filterBar.bottom
        anchors.bottom: parent.bottom
        tickets: root.shownTickets
        loading: ticket.isLoading || root.pendingPageRefresh
        page: root.listPage
        pageCount: root.pageCount
        onTicketClicked: id => root.openTicket(id)
        onPageStepped: step => root.turnPage(step)
    }

    TicketDetailDrawer {
        id: detail

        width: parent.width
        height: parent.height
        z: 10
        pollIntervalMs: root.detailPollIntervalMs
    }

    NewTicketDialog {
        id: newTicketDialog

        objectName: "newTicketDialog"
        onSubmitted: (subject, content) => ticket.createTicket(subject, content)
    }

    PageLoadingOverlay {
        active: root.pendingPageRefresh || ticket.isLoading
        coverWindow: false
    }

    FlashMessage {
        id: flash

        objectName: "ticketFlash"
    }
}
