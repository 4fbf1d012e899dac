import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Input of the sign-in views. The label sits in the field as a placeholder and floats to its top
// edge once the field has focus or text, so the field keeps naming itself after typing begins.
// Password fields get an eye button at the right edge; the view owns the shown/hidden state.
TextField {
    id: root

    property string label
    property bool password: false
    property bool revealed: false
    // Object name of the eye button; without one the field has none (a confirmation field follows
    // the toggle of the field above it).
    property string toggleName

    readonly property bool floated: root.activeFocus || root.text !== ""

    signal toggleClicked

    Layout.fillWidth: true
    implicitHeight: 54
    leftPadding: 16
    rightPadding: toggle.visible ? 52 : 16
    topPadding: 22
    bottomPadding: 6
    verticalAlignment: TextInput.AlignVCenter
    placeholderText: ""
    echoMode: root.password && !root.revealed ? TextInput.Password : TextInput.Normal
    passwordCharacter: "•"
    color: root.enabled ? Theme.authTextColor : Theme.authMutedTextColor
    selectionColor: Theme.authAccentColor
    selectedTextColor: Theme.authButtonTextColor
    font.pixelSize: 15
    selectByMouse: true

    background: Item {
        // Soft halo outside the border while the field has focus.
        Rectangle {
            anchors.fill: parent
            anchors.margins: -3
            radius: 19
            color: "transparent"
            border.width: 3
            border.color: Qt.rgba(Theme.authAccentColor.r, Theme.authAccentColor.g, Theme.authAccentColor.b, 0.22)
            opacity: root.activeFocus ? 1 : 0

            Behavior on opacity {
                NumberAnimation {
                    duration: 150
                    easing.type: Easing.OutCubic
                }
            }
        }

        Rectangle {
            anchors.fill: parent
            radius: 16
            color: root.enabled ? Theme.authFieldFillColor : Theme.authFieldDisabledFillColor
            border.width: root.activeFocus ? 2 : 1
            border.color: root.activeFocus ? Theme.authAccentColor
                : root.hovered && root.enabled ? Theme.authPlaceholderColor : Theme.authFieldBorderColor

            Behavior on border.color {
                ColorAnimation {
                    duration: 150
                }
            }
        }
    }

    Text {
        id: floatingLabel

        x: root.leftPadding
        y: root.floated ? 8 : (root.height - height) / 2
        width: (root.width - root.leftPadding - root.rightPadding) / (root.floated ? 0.8 : 1)
        scale: root.floated ? 0.8 : 1
        transformOrigin: Item.TopLeft
        text: root.label
        elide: Text.ElideRight
        font.pixelSize: 15
        color: root.activeFocus ? Theme.authAccentColor : Theme.authPlaceholderColor

        Behavior on y {
            NumberAnimation {
                duration: 150
                easing.type: Easing.OutCubic
            }
        }
        Behavior on scale {
            NumberAnimation {
                duration: 150
                easing.type: Easing.OutCubic
            }
        }
    }

    AbstractButton {
        id: toggle

        objectName: root.toggleName
        visible: root.password && root.toggleName !== ""
        anchors.right: parent.right
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        width: 40
        height: 40
        focusPolicy: Qt.NoFocus
        hoverEnabled: true
        // Shown text gets the open eye, hidden text the crossed-out one.
        readonly property url iconSource: root.revealed ? "qrc:/icons/eye.svg" : "qrc:/icons/eye-off.svg"
        onClicked: root.toggleClicked()

        background: Rectangle {
            radius: 12
            color: toggle.hovered ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor
        }

        contentItem: Item {
            AppIcon {
                anchors.centerIn: parent
                width: 20
                height: 20
                source: toggle.iconSource
                tint: toggle.hovered ? Theme.authTextColor : Theme.authMutedTextColor
            }
        }

        HoverHandler {
            cursorShape: Qt.PointingHandCursor
        }
    }
}
