import QtQuick
import QtQuick.Controls

// The answer field under a conversation; a closed ticket takes no answers and says so instead.
Rectangle {
    id: root

    property bool closed: false
    property alias text: field.text

    signal sendRequested

    implicitHeight: 44 + 24
    color: Theme.contentBackgroundColor

    Rectangle {
        width: parent.width
        height: 1
        color: Theme.dividerColor
    }

    FormTextField {
        id: field

        objectName: "ticketReplyField"
        anchors.left: parent.left
        anchors.leftMargin: 16
        anchors.right: send.left
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        visible: !root.closed
        placeholderText: Translations.t("type_reply")
        onAccepted: root.sendRequested()
    }

    MainButton {
        id: send

        objectName: "ticketReplyButton"
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        width: 96
        implicitHeight: 44
        visible: !root.closed
        enabled: field.text.trim() !== ""
        text: Translations.t("reply")
        onClicked: root.sendRequested()
    }

    Label {
        objectName: "ticketClosedText"
        anchors.centerIn: parent
        visible: root.closed
        text: Translations.t("status_closed")
        color: Theme.subtleTextColor
        font.pixelSize: Theme.bodyFontSize
        font.weight: Theme.emphasisFontWeight
    }
}
