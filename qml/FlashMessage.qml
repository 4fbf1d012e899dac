import QtQuick
import QtQuick.Controls

// A short-lived banner at the top of its parent reporting how an action went. A new message
// replaces the shown one and gets the full display time again.
Item {
    id: root

    property string title
    property string message
    property bool success: true
    property int displayDuration: 2800
    property bool active: false

    function show(isSuccess, titleText, messageText) {
        root.success = isSuccess === undefined ? true : !!isSuccess
        root.title = titleText === undefined || titleText === null ? "" : String(titleText)
        root.message = messageText === undefined || messageText === null ? "" : String(messageText)
        root.active = true
        hideTimer.restart()
    }

    function showSuccess(titleText, messageText) {
        show(true, titleText, messageText)
    }

    function showError(titleText, messageText) {
        show(false, titleText, messageText)
    }

    readonly property color backgroundColor: success ? (Theme.darkMode ? "#15301f" : "#eaf7ee")
                                                     : (Theme.darkMode ? "#351b1f" : "#fdecec")
    readonly property color borderColor: success ? (Theme.darkMode ? "#3b6f4d" : "#bee0c8")
                                                 : (Theme.darkMode ? "#7a3a43" : "#f1b8b8")

    width: parent ? Math.min(parent.width - 32, 440) : 0
    height: banner.implicitHeight
    anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
    y: active ? 16 : -(height + 12)
    opacity: active ? 1 : 0
    visible: opacity >= 0.01
    enabled: false
    z: 900

    Behavior on opacity {
        NumberAnimation {
            duration: 160
            easing.type: Easing.OutCubic
        }
    }
    Behavior on y {
        NumberAnimation {
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    Timer {
        id: hideTimer

        interval: root.displayDuration
        onTriggered: root.active = false
    }

    Rectangle {
        id: banner

        anchors.fill: parent
        implicitHeight: Math.max(badge.height, texts.implicitHeight) + 24
        radius: 14
        color: root.backgroundColor
        border.width: 1
        border.color: root.borderColor

        Rectangle {
            id: badge

            x: 14
            anchors.verticalCenter: parent.verticalCenter
            width: 24
            height: 24
            radius: 12
            color: root.success ? Theme.successColor : Theme.dangerColor

            AppIcon {
                anchors.centerIn: parent
                width: 14
                height: 14
                source: root.success ? "qrc:/icons/check.svg" : "qrc:/icons/close.svg"
                tint: Theme.darkMode ? "#0b1322" : "#ffffff"
            }
        }

        Column {
            id: texts

            anchors.left: badge.right
            anchors.leftMargin: 12
            anchors.right: parent.right
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2

            Label {
                objectName: "flashTitle"
                width: parent.width
                text: root.title
                color: Theme.textColor
                font.pixelSize: Theme.bodyFontSize
                font.weight: Theme.emphasisFontWeight
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }

            Label {
                objectName: "flashMessage"
                width: parent.width
                visible: root.message.length > 0
                text: root.message
                color: Theme.mutedTextColor
                font.pixelSize: Theme.metaFontSize
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
            }
        }
    }
}
