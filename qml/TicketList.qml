pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The tickets of the chosen tab, one row each, with a pager when the server holds more than
// one page of them.
Item {
    id: root

    // getTicket maps.
    property var tickets: []
    property bool loading: false
    property int page: 1
    property int pageCount: 1

    signal ticketClicked(int id)
    signal pageStepped(int step)

    ListView {
        id: list

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: pager.top
        clip: true
        spacing: 4
        topMargin: 12
        bottomMargin: 12
        leftMargin: 16
        rightMargin: 16
        boundsBehavior: Flickable.StopAtBounds
        model: root.tickets
        ScrollBar.vertical: ScrollBar {}

        delegate: AbstractButton {
            id: row

            required property var modelData

            objectName: "ticketRow" + row.modelData.id
            width: list.width - list.leftMargin - list.rightMargin
            height: 64
            hoverEnabled: true
            Accessible.name: row.modelData.subject
            onClicked: root.ticketClicked(row.modelData.id)

            background: Rectangle {
                radius: Theme.menuItemRadius
                color: row.pressed ? Theme.activeBackgroundColor
                                   : row.hovered ? Theme.hoverBackgroundColor : Theme.surfaceColor
                border.width: 1
                border.color: Theme.dividerColor
            }

            Item {
                anchors.fill: parent

                Column {
                    anchors.left: parent.left
                    anchors.leftMargin: 16
                    anchors.right: badge.left
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 3

                    Label {
                        objectName: "ticketRowSubject"
                        width: parent.width
                        text: String(row.modelData.subject || "")
                        color: Theme.textColor
                        font.pixelSize: Theme.bodyFontSize
                        font.weight: Theme.emphasisFontWeight
                        elide: Text.ElideRight
                    }

                    Label {
                        width: parent.width
                        text: "#" + row.modelData.id
                        color: Theme.mutedTextColor
                        font.pixelSize: Theme.metaFontSize
                    }
                }

                TicketStatusBadge {
                    id: badge

                    anchors.right: parent.right
                    anchors.rightMargin: 16
                    anchors.verticalCenter: parent.verticalCenter
                    status: Number(row.modelData.status)
                }
            }
        }
    }

    Item {
        id: pager

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: root.pageCount > 1 ? 52 : 0
        visible: root.pageCount > 1

        Row {
            anchors.centerIn: parent
            spacing: 12

            MainIconButton {
                objectName: "ticketPagePrevious"
                enabled: root.page > 1
                opacity: enabled ? 1 : 0.38
                rotation: 180
                iconSource: "qrc:/icons/chevron-right.svg"
                iconSize: 18
                onClicked: root.pageStepped(-1)
            }

            Label {
                objectName: "ticketPageLabel"
                anchors.verticalCenter: parent.verticalCenter
                text: Translations.t("page").arg(root.page).arg(root.pageCount)
                color: Theme.mutedTextColor
                font.pixelSize: Theme.metaFontSize + 1
            }

            MainIconButton {
                objectName: "ticketPageNext"
                enabled: root.page < root.pageCount
                opacity: enabled ? 1 : 0.38
                iconSource: "qrc:/icons/chevron-right.svg"
                iconSize: 18
                onClicked: root.pageStepped(1)
            }
        }
    }

    Label {
        objectName: "ticketEmptyText"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 60
        visible: root.tickets.length === 0 && !root.loading
        text: Translations.t("no_tickets")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.bodyFontSize
    }
}
