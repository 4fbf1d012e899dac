pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts

// Where the user stands in a three-step flow: finished steps are ticked, the current one ringed.
Item {
    id: root

    property var labels: []
    property int current: 0
    property bool finished: false

    Layout.fillWidth: true
    Layout.bottomMargin: 4
    implicitHeight: 52

    readonly property real slot: root.labels.length > 0 ? root.width / root.labels.length : 0

    // The track behind the dots, filled up to the current step.
    Rectangle {
        x: root.slot / 2
        y: 12
        width: Math.max(0, root.width - root.slot)
        height: 2
        radius: 1
        color: Theme.authDividerColor

        Rectangle {
            height: parent.height
            radius: 1
            color: Theme.authAccentColor
            width: root.labels.length > 1
                ? parent.width * Math.min(root.current, root.labels.length - 1) / (root.labels.length - 1) : 0

            Behavior on width {
                NumberAnimation {
                    duration: 260
                    easing.type: Easing.OutCubic
                }
            }
        }
    }

    Repeater {
        model: root.labels.length

        Item {
            id: step

            required property int index
            readonly property bool done: root.finished || step.index < root.current
            readonly property bool active: !root.finished && step.index === root.current

            x: step.index * root.slot
            width: root.slot
            height: root.height

            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 26
                height: 26
                radius: 13
                color: step.done ? Theme.authAccentColor : Theme.authShellColor
                border.width: 2
                border.color: step.done || step.active ? Theme.authAccentColor : Theme.authFieldBorderColor

                Behavior on color {
                    ColorAnimation {
                        duration: 200
                    }
                }

                Text {
                    anchors.centerIn: parent
                    text: step.done ? "✓" : String(step.index + 1)
                    color: step.done ? Theme.authButtonTextColor
                        : step.active ? Theme.authAccentTextColor : Theme.authMutedTextColor
                    font.pixelSize: 12
                    font.weight: Font.Bold
                }
            }

            Text {
                anchors.bottom: parent.bottom
                width: parent.width - 4
                x: 2
                horizontalAlignment: Text.AlignHCenter
                text: root.labels[step.index] ?? ""
                elide: Text.ElideRight
                color: step.active ? Theme.authTextColor : Theme.authMutedTextColor
                font.pixelSize: Theme.captionFontSize
                font.weight: step.active ? Theme.emphasisFontWeight : Theme.bodyFontWeight
            }
        }
    }
}
