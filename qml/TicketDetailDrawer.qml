pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// One ticket as a conversation, sliding in over the ticket list from the right: the user's own
// request first, then every reply, and a field to answer while the ticket is open.
Rectangle {
    id: root

    property int currentTicketId: 0
    property var detail: ({})
    property var follows: []
    property bool open: false
    property int pollIntervalMs: 5000

    readonly property bool hasDetail: Number(root.detail && root.detail.id) > 0
    readonly property bool isClosed: root.hasDetail && Number(root.detail.status) === 4
    readonly property var messages: {
        const list = []
        const content = root.hasDetail && root.detail.content ? String(root.detail.content) : ""
        if (content !== "")
            list.push({ "content": content, "is_admin": false })
        return list.concat(root.follows || [])
    }

    function show(id) {
        if (id !== root.currentTicketId) {
            root.detail = ({})
            root.follows = []
        }
        root.currentTicketId = id
        root.open = true
    }

    function hide() {
        root.open = false
    }

    function reload() {
        if (root.currentTicketId > 0)
            ticket.fetchTicketDetail(root.currentTicketId)
    }

    function reloadAfterClose() {
        root.detail = ticket.getDetailTicket()
        if (root.open)
            root.reload()
    }

    function sendReply() {
        const text = replyBar.text.trim()
        if (text === "" || root.currentTicketId <= 0)
            return
        ticket.createFollow(root.currentTicketId, text)
        replyBar.text = ""
    }

    objectName: "ticketDetail"
    // Focused while open, so Esc leaves the conversation (the reply field passes Esc on).
    onOpenChanged: if (open) forceActiveFocus()
    Keys.onEscapePressed: root.hide()
    color: Theme.contentBackgroundColor
    x: root.open ? 0 : width
    visible: x < width - 0.5

    Behavior on x {
        NumberAnimation {
            duration: 260
            easing.type: Easing.OutCubic
        }
    }

    // The list lays the new message out first; then the end can be shown.
    Timer {
        id: scrollToEnd

        interval: 0
        onTriggered: conversation.positionViewAtEnd()
    }

    Timer {
        objectName: "ticketDetailPoll"
        interval: root.pollIntervalMs
        repeat: true
        running: root.visible && root.open && !root.isClosed
        onTriggered: root.reload()
    }

    Connections {
        target: ticket

        function onTicketDetailFetched() {
            root.detail = ticket.getDetailTicket()
            root.follows = ticket.getFollows()
        }
        function onFollowCreated() {
            root.reload()
        }
    }

    // The list underneath takes no click or wheel while the conversation is up.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        onWheel: wheel => wheel.accepted = true
    }

    TicketDetailHeader {
        id: header

        width: parent.width
        detail: root.detail
        hasDetail: root.hasDetail
        isClosed: root.isClosed
        onBackClicked: root.hide()
        onCloseTicketClicked: confirmClose.open()
    }

    ListView {
        id: conversation

        objectName: "ticketConversation"
        anchors.top: header.bottom
        anchors.bottom: replyBar.top
        width: parent.width
        clip: true
        spacing: 12
        topMargin: 12
        bottomMargin: 12
        boundsBehavior: Flickable.StopAtBounds
        model: root.messages
        onCountChanged: scrollToEnd.restart()
        ScrollBar.vertical: ScrollBar {}

        delegate: TicketMessageBubble {
            required property var modelData
            required property int index

            objectName: "ticketMessage" + index
            width: conversation.width
            content: String(modelData.content || "")
            fromStaff: !!modelData.is_admin
        }
    }

    TicketReplyBar {
        id: replyBar

        anchors.bottom: parent.bottom
        width: parent.width
        closed: root.isClosed
        onSendRequested: root.sendReply()
    }

    ConfirmDialog {
        id: confirmClose

        objectName: "ticketCloseConfirm"
        namePrefix: "ticketCloseConfirm"
        title: Translations.t("close_ticket")
        message: Translations.t("close_ticket_confirm")
        confirmText: Translations.t("close")
        onConfirmed: ticket.closeTicket(root.currentTicketId)
    }
}
