import QtQuick
import QtQuick.Controls

// The big round connect button: neutral while off, filled with the accent colour and glowing
// while connected. A pulse answers every tap, and a progress ring runs around the face while a
// connection is being made.
AbstractButton {
    id: root

    // The look to show; callers freeze it while a connection is still being made.
    property bool connected: false
    // Tail and head of the progress ring, as fractions of a full turn from twelve o'clock.
    property real ringStart: 0
    property real ringEnd: 0
    property int diameter: 148

    // The band around the face that the ring runs in.
    readonly property int band: 14
    readonly property int ringWidth: 4

    function pulse() {
        pulseAnimation.restart()
    }

    implicitWidth: diameter + 2 * band
    implicitHeight: implicitWidth
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    scale: root.hovered && root.enabled ? 1.08 : 1
    Accessible.name: Translations.t(root.connected ? "connected_status" : "tap_connect")

    Behavior on scale {
        NumberAnimation {
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    // Soft light behind the face while connected; it breathes slowly so the state reads
    // as live.
    Canvas {
        id: glow

        objectName: "powerGlow"
        property color tint: Theme.accentColor
        property real breath: 1
        // Faded separately from the breathing: a Behavior restarted by every breath step would
        // never move.
        property real shown: root.connected ? 1 : 0

        anchors.centerIn: parent
        // Kept within the card's hero area above the button.
        width: root.diameter * 1.78
        height: width
        opacity: shown * breath
        visible: opacity > 0.01
        onTintChanged: requestPaint()
        // A canvas that was hidden at start-up has never painted.
        onVisibleChanged: requestPaint()
        onAvailableChanged: requestPaint()
        onPaint: {
            const context = getContext("2d")
            context.reset()
            const radius = width / 2
            const gradient = context.createRadialGradient(radius, radius, root.diameter / 2,
                                                          radius, radius, radius)
            gradient.addColorStop(0, Qt.rgba(tint.r, tint.g, tint.b, 0.6))
            gradient.addColorStop(0.35, Qt.rgba(tint.r, tint.g, tint.b, 0.24))
            gradient.addColorStop(1, Qt.rgba(tint.r, tint.g, tint.b, 0))
            context.fillStyle = gradient
            context.fillRect(0, 0, width, height)
        }

        Behavior on shown {
            NumberAnimation {
                duration: 320
                easing.type: Easing.OutCubic
            }
        }

        // Breathing in a few steps a second rather than every frame: under software rendering
        // each frame repaints the whole window, and the change per step is too small to see.
        // Only on screen: a hidden window's timers still cost CPU.
        Timer {
            readonly property int period: 3600
            property real phase: 0

            interval: 250
            repeat: true
            running: root.connected && root.visible && root.Window.visibility !== Window.Hidden
                     && root.Window.visibility !== Window.Minimized
            onRunningChanged: if (!running) glow.breath = 1
            onTriggered: {
                phase = (phase + interval / period) % 1
                glow.breath = 0.8 + 0.2 * Math.cos(2 * Math.PI * phase)
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: root.connected ? Qt.rgba(Theme.accentColor.r, Theme.accentColor.g,
                                        Theme.accentColor.b, 0.12)
                              : Theme.hoverBackgroundColor

        Behavior on color {
            ColorAnimation {
                duration: 260
                easing.type: Easing.OutCubic
            }
        }
    }

    Rectangle {
        id: pulseRing

        anchors.centerIn: parent
        width: root.diameter
        height: width
        radius: width / 2
        color: "transparent"
        border.width: 2
        border.color: Theme.accentColor
        opacity: 0
    }

    Canvas {
        property color tint: Theme.accentColor
        readonly property real start: root.ringStart
        readonly property real end: root.ringEnd

        anchors.fill: parent
        onTintChanged: requestPaint()
        onStartChanged: requestPaint()
        onEndChanged: requestPaint()
        onPaint: {
            const context = getContext("2d")
            context.reset()
            if (end <= start)
                return
            const top = -Math.PI / 2
            context.lineWidth = root.ringWidth
            context.lineCap = "round"
            context.strokeStyle = tint
            context.beginPath()
            context.arc(width / 2, height / 2, (root.diameter + root.band) / 2,
                        top + 2 * Math.PI * start, top + 2 * Math.PI * end, false)
            context.stroke()
        }
    }

    Rectangle {
        anchors.centerIn: parent
        width: root.diameter
        height: width
        radius: width / 2
        scale: root.pressed ? 0.96 : 1
        color: root.connected ? Theme.accentColor : Theme.elevatedSurfaceColor
        border.width: root.connected ? 0 : 1
        border.color: root.activeFocus ? Theme.accentColor : Theme.dividerColor

        Behavior on color {
            ColorAnimation {
                duration: 260
                easing.type: Easing.OutCubic
            }
        }
        Behavior on scale {
            NumberAnimation {
                duration: 120
                easing.type: Easing.OutCubic
            }
        }
    }

    AppIcon {
        anchors.centerIn: parent
        width: Math.round(root.diameter * 0.34)
        height: width
        scale: root.pressed ? 0.96 : 1
        source: "qrc:/icons/power.svg"
        tint: root.connected ? Theme.contentBackgroundColor
                             : (root.hovered ? Theme.accentColor : Theme.iconColor)
    }

    ParallelAnimation {
        id: pulseAnimation

        NumberAnimation {
            target: pulseRing
            property: "scale"
            from: 1
            to: 1.32
            duration: 560
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: pulseRing
            property: "opacity"
            from: 0.6
            to: 0
            duration: 560
            easing.type: Easing.OutCubic
        }
    }
}
