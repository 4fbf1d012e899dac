import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The general message of the window: a title (the "notice" text when none is given), the message
// and one button that closes it.
MainDialog {
    id: root

    property string heading
    property string message

    function show(headingText, messageText) {
        root.heading = headingText === undefined || headingText === null ? "" : String(headingText)
        root.message = messageText === undefined || messageText === null ? "" : String(messageText)
        root.open()
    }

    namePrefix: "messageDialog"
    maximumWidth: 340
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    title: root.heading.trim() !== "" ? root.heading : Translations.t("notice")

    Label {
        objectName: "messageDialogText"
        Layout.fillWidth: true
        visible: text !== ""
        text: root.message
        color: Theme.mutedTextColor
        font.pixelSize: Theme.bodyFontSize
        lineHeight: 1.15
        wrapMode: Text.Wrap
    }

    MainButton {
        objectName: "messageDialogOkButton"
        Layout.fillWidth: true
        Layout.topMargin: 4
        text: Translations.t("ok")
        onClicked: root.close()
    }
}
