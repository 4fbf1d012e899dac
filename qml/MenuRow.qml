import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One row of the side menu: an icon and a title, with the current, hover and locked looks. The
// appearance row also carries the theme switch at its end.
AbstractButton {
    id: root

    property url iconSource
    property bool current: false
    // Off for the language row, whose icon keeps its normal tint when it is the current page.
    property bool accentIconWhenCurrent: true
    property bool showSwitch: false
    property bool switchOn: false

    readonly property bool locked: !enabled
    readonly property bool highlighted: current && enabled

    implicitHeight: Theme.menuItemHeight
    implicitWidth: 280
    leftPadding: 14
    rightPadding: 14
    hoverEnabled: true
    focusPolicy: Qt.TabFocus

    background: Rectangle {
        radius: Theme.menuItemRadius
        color: root.locked ? Theme.hoverBackgroundTransparentColor
                           : root.highlighted ? Theme.activeBackgroundColor
                                              : (root.hovered || root.pressed || root.visualFocus)
                                                ? Theme.hoverBackgroundColor
                                                : Theme.hoverBackgroundTransparentColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: RowLayout {
        spacing: 12

        AppIcon {
            objectName: "menuItemIcon"
            Layout.preferredWidth: 22
            Layout.preferredHeight: 22
            source: root.iconSource
            tint: root.locked ? Theme.iconDisabledColor
                              : (root.highlighted && root.accentIconWhenCurrent) ? Theme.accentColor
                                                                                 : Theme.iconColor
        }

        Label {
            objectName: "menuItemTitle"
            Layout.fillWidth: true
            text: root.text
            elide: Text.ElideRight
            color: root.locked ? Theme.subtleTextColor
                               : root.highlighted ? Theme.accentColor : Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: root.highlighted ? Theme.emphasisFontWeight : Theme.bodyFontWeight
        }

        AppIcon {
            objectName: "menuItemLock"
            visible: root.locked
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            source: "qrc:/icons/lock.svg"
            tint: Theme.iconDisabledColor
        }

        ThemeSwitch {
            objectName: "menuItemSwitch"
            visible: root.showSwitch
            checked: root.switchOn
        }
    }
}
