import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One language of the language page: its own name, and the name in the UI language below when the
// two differ.
AbstractButton {
    id: root

    property string nativeLabel: ""
    property string label: ""
    property bool selected: false

    implicitWidth: 320
    implicitHeight: 60
    leftPadding: 16
    rightPadding: 16
    hoverEnabled: true
    focusPolicy: Qt.TabFocus

    background: Rectangle {
        radius: Theme.menuItemRadius
        color: root.selected ? Theme.activeBackgroundColor
                             : (root.hovered || root.pressed || root.visualFocus)
                               ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: RowLayout {
        spacing: 12

        ColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
            spacing: 2

            Label {
                objectName: "languageNativeLabel"
                Layout.fillWidth: true
                text: root.nativeLabel
                elide: Text.ElideRight
                color: root.selected ? Theme.accentColor : Theme.textColor
                font.pixelSize: Theme.bodyFontSize
                font.weight: root.selected ? Theme.emphasisFontWeight : Theme.bodyFontWeight
            }

            Label {
                objectName: "languageLabel"
                Layout.fillWidth: true
                visible: root.label !== "" && root.label !== root.nativeLabel
                text: root.label
                elide: Text.ElideRight
                color: root.selected ? Theme.accentColor : Theme.mutedTextColor
                font.pixelSize: Theme.metaFontSize
            }
        }

        AppIcon {
            objectName: "languageCheck"
            Layout.preferredWidth: 18
            Layout.preferredHeight: 18
            visible: root.selected
            source: "qrc:/icons/check.svg"
            tint: Theme.accentColor
        }
    }
}
