import QtQuick
import QtQuick.Controls

// Claims the free trial plan; shows a spinner and "processing" while the claim runs.
AbstractButton {
    id: root

    property bool busy: false

    objectName: "freePlanButton"
    implicitHeight: 48
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    text: Translations.t(busy ? "processing" : "get_free_time")
    Accessible.name: text

    background: Rectangle {
        radius: height / 2
        color: root.pressed ? Theme.activeBackgroundColor
                            : (root.hovered && root.enabled ? Theme.hoverBackgroundColor
                                                            : Theme.surfaceColor)
        border.width: 1
        border.color: root.enabled || root.busy ? Theme.accentColor : Theme.dividerColor

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: Item {
        Row {
            anchors.centerIn: parent
            width: Math.min(implicitWidth, parent.width - 32)
            spacing: 8

            Item {
                width: 20
                height: 20
                anchors.verticalCenter: parent.verticalCenter

                BusyIndicator {
                    anchors.fill: parent
                    padding: 0
                    visible: root.busy
                    // Nothing spins in a hidden or minimised window.
                    running: root.busy && root.Window.visibility !== Window.Hidden
                             && root.Window.visibility !== Window.Minimized
                }

                AppIcon {
                    anchors.fill: parent
                    visible: !root.busy
                    source: "qrc:/icons/reward.svg"
                    tint: root.enabled ? Theme.accentColor : Theme.iconDisabledColor
                }
            }

            Label {
                width: Math.min(implicitWidth, root.width - 80)
                anchors.verticalCenter: parent.verticalCenter
                text: root.text
                color: root.enabled || root.busy ? Theme.accentStrongColor : Theme.subtleTextColor
                font.pixelSize: Theme.bodyFontSize
                font.weight: Theme.emphasisFontWeight
                elide: Text.ElideRight
            }
        }
    }
}
