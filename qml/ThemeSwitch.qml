import QtQuick

// The appearance switch of the menu. Purely a picture of the state: the row around it takes the
// click, so the whole row is one large target.
Rectangle {
    id: root

    property bool checked: false

    implicitWidth: 44
    implicitHeight: 26
    radius: height / 2
    color: root.checked ? Theme.accentColor : (Theme.darkMode ? "#24334f" : "#dce4ef")

    Behavior on color {
        ColorAnimation {
            duration: 160
            easing.type: Easing.OutCubic
        }
    }

    Rectangle {
        objectName: "themeSwitchKnob"
        x: root.checked ? 21 : 3
        y: 3
        width: 20
        height: 20
        radius: 10
        color: "#ffffff"
        border.width: root.checked ? 0 : 1
        border.color: Theme.hairlineColor

        Behavior on x {
            NumberAnimation {
                duration: 160
                easing.type: Easing.OutCubic
            }
        }
    }
}
