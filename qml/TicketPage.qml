import QtQuick
import QtQuick.Controls

// The support section; for now it only names itself.
Item {
    id: root

    property bool active: false

    Label {
        objectName: "ticketPageTitle"
        anchors.centerIn: parent
        width: parent.width - 48
        text: Translations.t("tickets")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
    }
}
