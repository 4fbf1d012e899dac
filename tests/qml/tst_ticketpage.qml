import QtQuick
import QtTest
import appclient

// The ticket page against the stand-in handler: which tickets each tab lists and asks for, the
// two periodic refreshes, blank and padded input, and failures.
ViewCase {
    name: "TicketPage"

    function init() {
        resetBackend()
        auth.isLoggedIn = true
        ticket.items = [{ id: 1, subject: "Slow nodes", status: 1 }, { id: 2, subject: "Refund", status: 3 },
                        { id: 3, subject: "Old question", status: 4 }]
        make("TicketPage", { active: true })
        // The loading overlay takes clicks until the deferred refresh has run.
        tryVerify(() => !view.pendingPageRefresh, 1000)
    }

    function fetches(name) { return ticket.callsTo(name).length }

    function openTicket(status) {
        ticket.detail = { id: 1, subject: "Slow nodes", content: "hello", status: status }
        mouseClick(item("ticketRow1"))
        ticket.ticketDetailFetched()
        tryVerify(() => item("ticketDetail").x === 0)
    }

    function test_tabs() {
        compare(view.shownTickets.map(entry => entry.id), [1, 2])
        ticket.clearCalls()
        mouseClick(item("ticketTabClosed"))
        compare(view.shownTickets.map(entry => entry.id), [3])
        tryVerify(() => fetches("fetchTickets") === 1, 1000)
        compare(ticket.callsTo("fetchTickets")[0].args, [1, 50, 4])
        mouseClick(item("ticketTabOpen"))
        tryVerify(() => fetches("fetchTickets") === 2, 1000)
        compare(ticket.callsTo("fetchTickets")[1].args[2], -1)
        ticket.items = [{ id: 3, subject: "Old question", status: 4 }]
        verify(item("ticketEmptyText").visible)
    }

    // The list is re-read, or the open conversation while it is not closed; neither while the
    // handler is busy or the page away.
    function test_refreshTimers() {
        view.listPollIntervalMs = 60
        view.detailPollIntervalMs = 60
        openTicket(1)
        const listCalls = fetches("fetchTickets")
        const detailCalls = fetches("fetchTicketDetail")
        wait(250)
        compare(fetches("fetchTickets"), listCalls)
        verify(fetches("fetchTicketDetail") >= detailCalls + 2)
        ticket.detail = { id: 1, subject: "Slow nodes", content: "hello", status: 4 }
        ticket.ticketDetailFetched()
        const closedCalls = fetches("fetchTicketDetail")
        wait(150)
        compare(fetches("fetchTicketDetail"), closedCalls)

        mouseClick(item("ticketDetailBack"))
        tryVerify(() => fetches("fetchTickets") > listCalls, 1000)
        ticket.isLoading = true
        const busyCalls = fetches("fetchTickets")
        wait(150)
        ticket.isLoading = false
        view.active = false
        wait(150)
        compare(fetches("fetchTickets"), busyCalls)
    }

    function test_blankAndPaddedInput() {
        const dialog = item("newTicketDialog")
        mouseClick(item("ticketCreateButton"))
        tryVerify(() => dialog.opened)
        item("newTicketSubjectField", dialog).text = " Cannot connect "
        item("newTicketContentField", dialog).text = "   "
        verify(!item("newTicketSubmitButton", dialog).enabled)
        item("newTicketContentField", dialog).text = " Since today. "
        mouseClick(item("newTicketSubmitButton", dialog))
        compare(ticket.callsTo("createTicket").pop().args, ["Cannot connect", "Since today."])
        tryVerify(() => !dialog.visible)

        openTicket(1)
        const field = item("ticketReplyField")
        field.text = "  "
        verify(!item("ticketReplyButton").enabled)
        field.text = "  It is Tokyo. "
        mouseClick(item("ticketReplyButton"))
        compare(ticket.callsTo("createFollow").pop().args, [1, "It is Tokyo."])
    }

    function test_failures_data() {
        return [
            { tag: "expired", error: "Authentication expired, please log in again", title: "error_auth_expired_title",
              message: "error_auth_expired", detailOpen: false },
            { tag: "other", error: "Failed to create reply", title: "ticket_operation_failed_title", message: "",
              detailOpen: true }
        ]
    }

    function test_failures(data) {
        openTicket(1)
        ticket.operationFailed(data.error)
        compare(item("ticketFlash").title, Translations.t(data.title))
        compare(item("ticketFlash").message, data.message === "" ? data.error : Translations.t(data.message))
        compare(item("ticketDetail").open, data.detailOpen)
    }
}
