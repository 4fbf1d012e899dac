import QtQuick
import QtQuick.Controls
import "storeformat.js" as StoreFormat

// One payment method of the checkout sheet: its icon (a glyph until the picture has loaded), its
// title and a check when it is the chosen one.
AbstractButton {
    id: root

    // A getPaymentMethod map and the method's localised name.
    property var method: ({})
    property string name
    property bool selected: false

    readonly property string kind: StoreFormat.paymentKind(root.method)

    implicitHeight: 52
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    text: StoreFormat.paymentTitle(root.kind, root.name, Translations.currentLanguage, Translations.t)
    Accessible.name: text

    background: Rectangle {
        radius: 12
        color: root.selected ? Theme.activeBackgroundColor
                             : root.hovered ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor
        border.width: 1
        border.color: root.selected ? Theme.accentColor : Theme.dividerColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    Item {
        anchors.fill: parent

        Rectangle {
            id: iconFrame

            x: 12
            anchors.verticalCenter: parent.verticalCenter
            width: 30
            height: 30
            radius: 8
            color: icon.status === Image.Ready ? Theme.hoverBackgroundTransparentColor : Theme.accentColor

            Label {
                anchors.centerIn: parent
                visible: icon.status !== Image.Ready
                text: StoreFormat.paymentGlyph(root.kind, Translations.currentLanguage)
                color: Theme.contentBackgroundColor
                font.pixelSize: Theme.bodyFontSize
                font.weight: Theme.strongFontWeight
            }

            Image {
                id: icon

                anchors.fill: parent
                visible: status === Image.Ready
                source: root.method && root.method.icon_url ? root.method.icon_url : ""
                sourceSize.width: 60
                sourceSize.height: 60
                fillMode: Image.PreserveAspectFit
                asynchronous: true
                cache: true
            }
        }

        Label {
            anchors.left: iconFrame.right
            anchors.leftMargin: 12
            anchors.right: check.left
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            text: root.text
            color: root.selected ? Theme.accentColor : Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: root.selected ? Theme.emphasisFontWeight : Theme.bodyFontWeight
            elide: Text.ElideRight
        }

        AppIcon {
            id: check

            anchors.right: parent.right
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            width: 18
            height: 18
            visible: root.selected
            source: "qrc:/icons/check.svg"
            tint: Theme.accentColor
        }
    }
}
