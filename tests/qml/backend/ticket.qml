import QtQml

// Stand-in for the ticket handler. Tests fill `items` with maps as getTicket returns them,
// `detail` and `follows` as getDetailTicket and getFollows do, and send the result signals.
Recorder {
    property bool isLoading: false
    property var items: []
    property var detail: ({})
    property var follows: []
    property bool fetchResult: true
    property bool operationResult: true
    // Plain properties set before ticketsChanged goes out, as the real handler's page is in
    // place by then; tests set the counters before the items.
    property int ticketCount: 0
    property int totalTickets: 0
    property int currentPage: 1
    property int pageSize: 10

    signal ticketsChanged
    signal ticketDetailFetched
    signal ticketCreated(int ticketId)
    signal followCreated
    signal ticketClosed
    signal operationFailed(string error)

    onItemsChanged: {
        ticketCount = items.length
        ticketsChanged()
    }

    function fetchTickets(page, size, status) { record("fetchTickets", arguments); return fetchResult }
    function fetchTicketDetail(ticketId) { record("fetchTicketDetail", arguments); return operationResult }
    function createTicket(title, description) { record("createTicket", arguments); return operationResult }
    function createFollow(ticketId, content) { record("createFollow", arguments); return operationResult }
    function closeTicket(ticketId) { record("closeTicket", arguments); return operationResult }
    function getTicket(index) { return index >= 0 && index < items.length ? items[index] : ({}) }
    function getDetailTicket() { return detail }
    function getFollows() { return follows }
    function invalidateCache() { record("invalidateCache", arguments) }
}
