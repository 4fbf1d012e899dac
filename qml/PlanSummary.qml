import QtQuick
import QtQuick.Controls

// A subscription's plan at a glance, under its card's route: the data left and the expiry.
Label {
    id: root

    // The subscription's map as the handler gives it.
    property var subscription: ({})

    text: Figures.dataLeftText(root.subscription) + "  ·  "
          + Figures.expiryText(root.subscription, Date.now())
    color: Theme.mutedTextColor
    font.pixelSize: Theme.metaFontSize
    horizontalAlignment: Text.AlignHCenter
    elide: Text.ElideRight
}
