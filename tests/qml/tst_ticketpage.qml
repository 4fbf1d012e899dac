import QtQuick
import QtTest
import appclient

// The ticket page against the stand-in handler: which tickets each tab lists and asks for, the
// two periodic refreshes, the conversation and its reply field, new tickets and closing one.
Item {
    id: root

    width: 400
    height: 760

    Component {
        id: pageComponent

        TicketPage {
            width: 400
            height: 760
        }
    }

    TestCase {
        name: "TicketPage"
        when: windowShown

        property TicketPage page

        function init() {
            auth.reset()
            ticket.reset()
            Translations.currentLanguage = "en"
            auth.isLoggedIn = true
            ticket.items = [{ id: 1, subject: "Slow nodes", status: 1 }, { id: 2, subject: "Refund", status: 3 },
                            { id: 3, subject: "Old question", status: 4 }]
            page = createTemporaryObject(pageComponent, root, { active: true })
            // The loading overlay takes clicks until the deferred refresh has run.
            tryVerify(() => !page.pendingPageRefresh, 1000)
        }

        function shownIds() {
            return page.shownTickets.map(item => item.id)
        }

        function lastListStatus() {
            return ticket.callsTo("fetchTickets").pop().args[2]
        }

        function openTicket(id, status, content) {
            ticket.detail = { id: id, subject: "Slow nodes", content: content, status: status }
            mouseClick(findChild(page, "ticketRow" + id))
            compare(ticket.callsTo("fetchTicketDetail").pop().args, [id])
            ticket.ticketDetailFetched()
            tryVerify(() => findChild(page, "ticketDetail").x === 0)
        }

        function test_tabs() {
            compare(shownIds(), [1, 2])
            compare(findChild(findChild(page, "ticketRow2"), "ticketStatusText").text, "Loading...")
            compare(findChild(findChild(page, "ticketRow1"), "ticketStatusText").text, "Pending")
            verify(!findChild(page, "ticketEmptyText").visible)

            ticket.clearCalls()
            mouseClick(findChild(page, "ticketTabClosed"))
            compare(shownIds(), [3])
            tryVerify(() => ticket.callsTo("fetchTickets").length === 1, 1000)
            compare(ticket.callsTo("fetchTickets")[0].args, [1, 50, 4])
            mouseClick(findChild(page, "ticketTabOpen"))
            tryVerify(() => ticket.callsTo("fetchTickets").length === 2, 1000)
            compare(lastListStatus(), -1)

            ticket.items = [{ id: 3, subject: "Old question", status: 4 }]
            compare(shownIds(), [])
            verify(findChild(page, "ticketEmptyText").visible)
        }

        function test_refreshTimers() {
            page.listPollIntervalMs = 120
            page.detailPollIntervalMs = 60
            ticket.clearCalls()
            tryVerify(() => ticket.callsTo("fetchTickets").length >= 2, 1000)

            // While a conversation is open the list waits and the conversation is re-read.
            openTicket(1, 1, "hello")
            const listCalls = ticket.callsTo("fetchTickets").length
            const detailCalls = ticket.callsTo("fetchTicketDetail").length
            wait(400)
            compare(ticket.callsTo("fetchTickets").length, listCalls)
            verify(ticket.callsTo("fetchTicketDetail").length >= detailCalls + 3)
            verify(ticket.callsTo("fetchTicketDetail").every(call => call.args[0] === 1))

            // A closed ticket is not re-read.
            ticket.detail = { id: 1, subject: "Slow nodes", content: "hello", status: 4 }
            ticket.ticketDetailFetched()
            const closedCalls = ticket.callsTo("fetchTicketDetail").length
            wait(200)
            compare(ticket.callsTo("fetchTicketDetail").length, closedCalls)
            verify(findChild(page, "ticketClosedText").visible)
            verify(!findChild(page, "ticketReplyField").visible)

            // Neither runs while the handler is busy or the page is away.
            mouseClick(findChild(page, "ticketDetailBack"))
            tryVerify(() => ticket.callsTo("fetchTickets").length > listCalls, 1000)
            ticket.isLoading = true
            const busyCalls = ticket.callsTo("fetchTickets").length
            wait(300)
            compare(ticket.callsTo("fetchTickets").length, busyCalls)
            ticket.isLoading = false
            page.active = false
            wait(300)
            compare(ticket.callsTo("fetchTickets").length, busyCalls)
        }

        function test_conversation_data() {
            return [
                { tag: "with the request", content: "Nodes are slow", messages: 3 },
                { tag: "empty request", content: "", messages: 2 }
            ]
        }

        function test_conversation(data) {
            ticket.follows = [{ content: "Which country?", is_admin: true }, { content: "Japan", is_admin: false }]
            openTicket(1, 1, data.content)
            const conversation = findChild(page, "ticketConversation")
            compare(conversation.count, data.messages)
            const staff = data.messages - 2
            conversation.positionViewAtBeginning()
            compare(findChild(conversation.itemAtIndex(staff), "ticketMessageText").text, "Which country?")
            compare(conversation.itemAtIndex(staff).fromStaff, true)
            compare(conversation.itemAtIndex(staff + 1).fromStaff, false)

            const field = findChild(page, "ticketReplyField")
            verify(!findChild(page, "ticketReplyButton").enabled)
            field.text = "  "
            verify(!findChild(page, "ticketReplyButton").enabled)
            field.text = "  It is Tokyo. "
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(ticket.callsTo("createFollow").pop().args, [1, "It is Tokyo."])
            compare(field.text, "")
            ticket.clearCalls()
            ticket.followCreated()
            compare(ticket.callsTo("fetchTicketDetail").pop().args, [1])
        }

        function test_newTicket() {
            const dialog = findChild(page, "newTicketDialog")
            mouseClick(findChild(page, "ticketCreateButton"))
            tryVerify(() => dialog.opened)
            const submit = findChild(dialog, "newTicketSubmitButton")
            findChild(dialog, "newTicketSubjectField").text = " Cannot connect "
            verify(!submit.enabled)
            findChild(dialog, "newTicketContentField").text = "   "
            verify(!submit.enabled)
            findChild(dialog, "newTicketContentField").text = " Since today. "
            verify(submit.enabled)
            mouseClick(submit)
            compare(ticket.callsTo("createTicket").pop().args, ["Cannot connect", "Since today."])
            tryVerify(() => !dialog.visible)
            compare(findChild(dialog, "newTicketSubjectField").text, "")
            ticket.clearCalls()
            ticket.ticketCreated(9)
            compare(ticket.callsTo("fetchTickets").length, 1, "refreshed at once")
        }

        function test_closeTicket() {
            openTicket(1, 1, "hello")
            mouseClick(findChild(page, "ticketCloseButton"))
            const confirm = findChild(page, "ticketCloseConfirm")
            tryVerify(() => confirm.opened)
            mouseClick(findChild(confirm, "ticketCloseConfirmConfirmButton"))
            compare(ticket.callsTo("closeTicket").pop().args, [1])
            ticket.clearCalls()
            ticket.detail = { id: 1, subject: "Slow nodes", content: "hello", status: 4 }
            ticket.ticketClosed()
            compare(ticket.callsTo("fetchTickets").length, 1)
            compare(ticket.callsTo("fetchTicketDetail").pop().args, [1])
            verify(!findChild(page, "ticketCloseButton").visible)
        }

        function test_failures_data() {
            return [
                { tag: "expired", error: "Authentication expired, please log in again",
                  title: "error_auth_expired_title", message: "error_auth_expired", detailOpen: false },
                { tag: "other", error: "Failed to create reply", title: "ticket_operation_failed_title",
                  message: "", detailOpen: true }
            ]
        }

        function test_failures(data) {
            openTicket(1, 1, "hello")
            ticket.operationFailed(data.error)
            const flash = findChild(page, "ticketFlash")
            compare(flash.title, Translations.t(data.title))
            compare(flash.message, data.message === "" ? data.error : Translations.t(data.message))
            compare(findChild(page, "ticketDetail").open, data.detailOpen)
        }
    }
}
