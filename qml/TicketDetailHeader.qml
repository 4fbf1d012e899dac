import QtQuick
import QtQuick.Controls

// Top of a ticket's conversation: the way back, its state, number and subject, and closing it.
Item {
    id: root

    property var detail: ({})
    property bool hasDetail: false
    property bool isClosed: false

    signal backClicked
    signal closeTicketClicked

    implicitHeight: titles.y + titles.height + 12

    MainIconButton {
        id: back

        objectName: "ticketDetailBack"
        x: 8
        y: 8
        Accessible.name: Translations.t("tickets")
        iconSource: "qrc:/icons/arrow-left.svg"
        onClicked: root.backClicked()
    }

    TicketStatusBadge {
        anchors.left: back.right
        anchors.leftMargin: 8
        anchors.verticalCenter: back.verticalCenter
        visible: root.hasDetail
        status: root.hasDetail ? Number(root.detail.status) : 0
    }

    Button {
        id: closeButton

        objectName: "ticketCloseButton"
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: back.verticalCenter
        visible: root.hasDetail && !root.isClosed
        flat: true
        hoverEnabled: true
        text: Translations.t("close_ticket")
        onClicked: root.closeTicketClicked()

        contentItem: Label {
            text: closeButton.text
            color: Theme.dangerColor
            font.pixelSize: Theme.metaFontSize + 1
            font.weight: Theme.emphasisFontWeight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitHeight: 36
            radius: 10
            color: closeButton.down ? Theme.activeBackgroundColor
                                    : closeButton.hovered ? Theme.hoverBackgroundColor
                                                          : Theme.hoverBackgroundTransparentColor
        }
    }

    Column {
        id: titles

        x: 20
        y: back.y + back.height + 4
        width: parent.width - 40
        spacing: 2

        Label {
            width: parent.width
            visible: root.hasDetail
            text: root.hasDetail ? "#" + root.detail.id : ""
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize
        }

        Label {
            objectName: "ticketDetailSubject"
            width: parent.width
            text: root.hasDetail && root.detail.subject ? String(root.detail.subject) : Translations.t("loading")
            color: Theme.textColor
            font.pixelSize: 18
            font.weight: Theme.strongFontWeight
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.dividerColor
    }
}
