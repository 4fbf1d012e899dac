import QtQuick
import QtQuick.Controls
import QtQuick.Window

// Dims the window (or its parent) and swallows input while a page waits for the panel.
Item {
    id: root

    property bool active: false
    property color backgroundColor: Theme.contentBackgroundColor
    property bool coverWindow: true

    anchors.fill: parent
    visible: active
    z: 1000

    // Covering the window means living in its content item, so the header is dimmed too, while
    // items of higher z (the version blocker) stay above.
    Component.onCompleted: {
        if (coverWindow && Window.window)
            parent = Window.window.contentItem
    }

    Rectangle {
        anchors.fill: parent
        color: root.backgroundColor
        opacity: Theme.darkMode ? 0.56 : 0.62
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        preventStealing: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    BusyIndicator {
        objectName: "pageLoadingIndicator"
        anchors.centerIn: parent
        width: 72
        height: 72
        // Nothing spins in a hidden or minimised window.
        running: root.active && root.Window.visibility !== Window.Hidden
                 && root.Window.visibility !== Window.Minimized
        // The default dots are dark, which vanishes on the dark appearance.
        palette.dark: Theme.textColor
    }
}
