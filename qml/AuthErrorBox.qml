import QtQuick
import QtQuick.Layouts

// The one message box of a sign-in view: the last failure, or (success) a confirmation. It takes
// no room at all while it has nothing to say.
Rectangle {
    id: root

    property string text
    property bool success: false

    Layout.fillWidth: true
    visible: root.text !== ""
    implicitHeight: message.implicitHeight + 24
    radius: 14
    color: root.success ? Theme.authSuccessBackgroundColor : Theme.authErrorBackgroundColor
    border.width: 1
    border.color: root.success ? Theme.authSuccessBorderColor : Theme.authErrorBorderColor

    Rectangle {
        id: mark

        x: 12
        y: 12 + (Math.min(message.implicitHeight, 20) - height) / 2
        width: 18
        height: 18
        radius: 9
        color: root.success ? Theme.authSuccessTextColor : Theme.authErrorTextColor

        Text {
            anchors.centerIn: parent
            text: root.success ? "✓" : "!"
            color: root.color
            font.pixelSize: 12
            font.weight: Font.Bold
        }
    }

    Text {
        id: message

        anchors.left: mark.right
        anchors.leftMargin: 10
        anchors.right: parent.right
        anchors.rightMargin: 12
        y: 12
        text: root.text
        wrapMode: Text.Wrap
        lineHeight: 1.15
        color: root.success ? Theme.authSuccessTextColor : Theme.authErrorTextColor
        font.pixelSize: 13
    }

    // Fades in so a repeated failure is noticed even when the wording is the same.
    signal appeared

    onTextChanged: {
        if (root.text === "")
            return;
        appear.restart();
        root.appeared();
    }

    NumberAnimation {
        id: appear

        target: root
        property: "opacity"
        from: 0
        to: 1
        duration: 200
        easing.type: Easing.OutCubic
    }
}
