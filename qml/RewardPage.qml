import QtQuick
import QtQuick.Controls

// The rewards section; for now it only names itself.
Item {
    id: root

    property bool active: false

    signal loginRequested
    signal openStoreRequested

    Label {
        objectName: "rewardPageTitle"
        anchors.centerIn: parent
        width: parent.width - 48
        text: Translations.t("rewards")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
    }
}
