import QtQuick
import QtQuick.Layouts

// One step of a multi-step sign-in flow. Only the current step takes part in the layout; it
// slides in from the side as it becomes current.
ColumnLayout {
    id: root

    property bool current: false

    Layout.fillWidth: true
    spacing: 12
    visible: root.current
    transform: Translate {
        id: shift
    }

    // Also emitted when the whole view comes back with this step current.
    signal shown

    onVisibleChanged: {
        if (!root.visible)
            return;
        enter.restart();
        root.shown();
    }

    ParallelAnimation {
        id: enter

        NumberAnimation {
            target: root
            property: "opacity"
            from: 0
            to: 1
            duration: 220
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            target: shift
            property: "x"
            from: 24
            to: 0
            duration: 260
            easing.type: Easing.OutCubic
        }
    }
}
