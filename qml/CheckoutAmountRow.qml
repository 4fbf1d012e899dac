import QtQuick
import QtQuick.Controls

// A label and its amount on one line of the checkout sheet; the total reads larger and may spin
// while its figure is recalculated.
Item {
    id: root

    property string label
    property string value
    property bool emphasized: false
    property bool busy: false

    implicitHeight: root.emphasized ? 32 : 24

    Label {
        anchors.left: parent.left
        anchors.right: amount.left
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        text: root.label
        color: root.emphasized ? Theme.textColor : Theme.mutedTextColor
        font.pixelSize: root.emphasized ? Theme.emphasisFontSize : Theme.bodyFontSize - 1
        font.weight: root.emphasized ? Theme.emphasisFontWeight : Theme.bodyFontWeight
        elide: Text.ElideRight
    }

    BusyIndicator {
        anchors.right: amount.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        width: 20
        height: 20
        padding: 0
        visible: root.busy
        // Nothing spins in a hidden or minimised window.
        running: root.busy && root.Window.visibility !== Window.Hidden
                 && root.Window.visibility !== Window.Minimized
        palette.dark: Theme.accentColor
    }

    Label {
        id: amount

        objectName: root.objectName + "Value"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        text: root.value
        color: root.emphasized ? Theme.accentColor : Theme.textColor
        font.pixelSize: root.emphasized ? 20 : Theme.bodyFontSize - 1
        font.weight: root.emphasized ? Theme.strongFontWeight : Theme.bodyFontWeight
    }
}
