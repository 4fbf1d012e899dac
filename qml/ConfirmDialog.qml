import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asks before an action that cannot be undone: the question, "cancel" and the action itself.
MainDialog {
    id: root

    property string message
    property string confirmText

    signal confirmed

    maximumWidth: 340
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    Label {
        objectName: root.namePrefix + "Text"
        Layout.fillWidth: true
        text: root.message
        color: Theme.mutedTextColor
        font.pixelSize: Theme.bodyFontSize
        lineHeight: 1.15
        wrapMode: Text.Wrap
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: 4
        spacing: 10

        MainButton {
            objectName: root.namePrefix + "CancelButton"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            primary: false
            text: Translations.t("cancel")
            onClicked: root.close()
        }

        MainButton {
            objectName: root.namePrefix + "ConfirmButton"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            text: root.confirmText
            onClicked: {
                root.close()
                root.confirmed()
            }
        }
    }
}
