import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A new support ticket: subject and description, sent only when both say something.
MainDialog {
    id: root

    readonly property bool canSubmit: subject.text.trim() !== "" && content.text.trim() !== ""

    signal submitted(string subject, string content)

    function clear() {
        subject.text = ""
        content.text = ""
        attachDiagnostics.checked = false
    }

    namePrefix: "newTicket"
    title: Translations.t("create_ticket")
    maximumWidth: 440
    cornerRadius: 16
    width: parent ? Math.min(parent.width * 0.92, 440) : 440
    closePolicy: Popup.CloseOnEscape
    onOpened: subject.forceActiveFocus()
    onClosed: root.clear()

    Label {
        Layout.fillWidth: true
        Layout.bottomMargin: -10
        text: Translations.t("ticket_subject")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.metaFontSize + 1
        font.weight: Theme.emphasisFontWeight
    }

    FormTextField {
        id: subject

        objectName: "newTicketSubjectField"
        Layout.fillWidth: true
        placeholderText: Translations.t("ticket_subject")
    }

    Label {
        Layout.fillWidth: true
        Layout.bottomMargin: -10
        text: Translations.t("ticket_content")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.metaFontSize + 1
        font.weight: Theme.emphasisFontWeight
    }

    ScrollView {
        Layout.fillWidth: true
        Layout.preferredHeight: 110

        TextArea {
            id: content

            objectName: "newTicketContentField"
            placeholderText: Translations.t("ticket_content")
            placeholderTextColor: Theme.authPlaceholderColor
            color: Theme.textColor
            selectionColor: Theme.accentColor
            selectedTextColor: Theme.contentBackgroundColor
            font.pixelSize: Theme.bodyFontSize
            wrapMode: TextEdit.Wrap
            padding: 12
            selectByMouse: true

            background: Rectangle {
                radius: 12
                color: Theme.authFieldFillColor
                border.width: content.activeFocus ? 2 : 1
                border.color: content.activeFocus ? Theme.accentColor : Theme.authFieldBorderColor
            }
        }
    }

    DiagnosticsToggle {
        id: attachDiagnostics

        objectName: "newTicketDiagnosticsToggle"
        Layout.fillWidth: true
        text: Translations.t("attach_diagnostics")
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: 4
        spacing: 10

        MainButton {
            objectName: "newTicketCancelButton"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            primary: false
            text: Translations.t("cancel")
            onClicked: root.close()
        }

        MainButton {
            objectName: "newTicketSubmitButton"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            enabled: root.canSubmit
            text: Translations.t("submit")
            onClicked: {
                const subjectText = subject.text.trim()
                const message = content.text.trim()
                const contentText = attachDiagnostics.checked
                        ? diagnostics.appendToMessage(message) : message
                root.close()
                root.submitted(subjectText, contentText)
            }
        }
    }
}
