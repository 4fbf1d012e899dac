import QtQuick
import QtQuick.Controls

// The store section; for now it only names itself.
Item {
    id: root

    property bool active: false
    property bool menuOpen: false
    // The main view keeps its menu shut while a payment is being settled here.
    readonly property bool paymentOverlayOpen: false

    Label {
        objectName: "storePageTitle"
        anchors.centerIn: parent
        width: parent.width - 48
        text: Translations.t("store")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
    }
}
