pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The two tabs of the ticket list (open, closed) and the button for a new ticket.
Item {
    id: root

    property int statusFilter: -2

    signal filterChosen(int filter)
    signal createClicked

    implicitHeight: 44 + 24

    Row {
        x: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6

        Repeater {
            model: [{ "filter": -2, "key": "status_pending", "name": "ticketTabOpen" },
                { "filter": 4, "key": "status_closed", "name": "ticketTabClosed" }]

            AbstractButton {
                id: tab

                required property var modelData
                readonly property bool current: tab.modelData.filter === root.statusFilter

                objectName: tab.modelData.name
                width: 96
                height: 44
                hoverEnabled: true
                text: Translations.t(tab.modelData.key)
                onClicked: root.filterChosen(tab.modelData.filter)

                background: Rectangle {
                    radius: Theme.menuItemRadius
                    color: tab.current ? Theme.activeBackgroundColor
                                       : tab.hovered ? Theme.hoverBackgroundColor
                                                     : Theme.hoverBackgroundTransparentColor
                }
                contentItem: Label {
                    text: tab.text
                    color: tab.current ? Theme.accentColor : Theme.mutedTextColor
                    font.pixelSize: Theme.bodyFontSize - 1
                    font.weight: tab.current ? Theme.emphasisFontWeight : Theme.bodyFontWeight
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
            }
        }
    }

    MainButton {
        objectName: "ticketCreateButton"
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        implicitHeight: 44
        width: Math.min(implicitWidth + 8, root.width - 16 - 96 * 2 - 6 - 28)
        leftPadding: 16
        rightPadding: 16
        text: Translations.t("create_ticket")
        onClicked: root.createClicked()
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.dividerColor
    }
}
