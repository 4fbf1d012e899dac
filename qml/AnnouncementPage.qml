import QtQuick
import QtQuick.Controls

// The announcement list; for now it only names itself.
Item {
    id: root

    property bool active: false

    signal announcementSelected(var item)

    Label {
        objectName: "announcementPageTitle"
        anchors.centerIn: parent
        width: parent.width - 48
        text: Translations.t("announcement")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
    }
}
