import QtQuick
import QtQuick.Controls

// The bar above the pages: the menu button and the title of the shown page.
Rectangle {
    id: root

    property string title
    property bool menuEnabled: true

    signal menuClicked

    implicitHeight: 56
    color: Theme.contentBackgroundColor

    MainIconButton {
        id: menuButton

        objectName: "menuButton"
        anchors.left: parent.left
        anchors.leftMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        width: 40
        height: 40
        iconSource: "qrc:/icons/menu.svg"
        enabled: root.menuEnabled
        opacity: root.menuEnabled ? 1 : 0.38
        onClicked: root.menuClicked()
    }

    Label {
        objectName: "mainHeaderTitle"
        // Centred on the bar, kept clear of the menu button on both sides.
        anchors.left: menuButton.right
        anchors.right: parent.right
        anchors.leftMargin: 8
        anchors.rightMargin: menuButton.width + 16
        anchors.verticalCenter: parent.verticalCenter
        text: root.title
        color: Theme.textColor
        font.pixelSize: 17
        font.weight: Theme.strongFontWeight
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.dividerColor
    }
}
