import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Main action of a sign-in step. While its request runs it spins and shows the progress text
// instead of the caption, keeping the accent colour so it does not look refused.
Button {
    id: root

    property bool busy: false
    property string busyText

    readonly property string shownText: root.busy && root.busyText !== "" ? root.busyText : root.text

    Layout.fillWidth: true
    implicitHeight: 56
    hoverEnabled: true
    font.pixelSize: 16
    font.weight: Theme.strongFontWeight

    background: Rectangle {
        radius: 18
        color: root.busy ? Theme.authAccentStrongColor
            : !root.enabled ? Theme.authButtonDisabledColor
            : root.down ? Theme.authAccentPressedColor
            : root.hovered ? Theme.authAccentHoverColor : Theme.authAccentColor

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: Item {
        implicitHeight: 24

        Row {
            anchors.centerIn: parent
            spacing: 10

            Canvas {
                visible: root.busy
                width: 18
                height: 18
                anchors.verticalCenter: parent.verticalCenter
                onPaint: {
                    const context = getContext("2d");
                    context.reset();
                    context.lineWidth = 2.5;
                    context.lineCap = "round";
                    context.strokeStyle = Theme.authButtonTextColor;
                    context.beginPath();
                    context.arc(9, 9, 7, 0, Math.PI * 1.5);
                    context.stroke();
                }

                RotationAnimator on rotation {
                    from: 0
                    to: 360
                    duration: 900
                    loops: Animation.Infinite
                    // Nothing spins in a hidden or minimised window.
                    running: root.busy && root.Window.visibility !== Window.Hidden
                             && root.Window.visibility !== Window.Minimized
                }
            }

            Text {
                anchors.verticalCenter: parent.verticalCenter
                width: Math.min(implicitWidth, root.availableWidth - (root.busy ? 28 : 0))
                text: root.shownText
                elide: Text.ElideRight
                color: Theme.authButtonTextColor
                font: root.font
            }
        }
    }

    HoverHandler {
        cursorShape: root.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
