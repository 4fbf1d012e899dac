import QtQuick
import QtQuick.Layouts

// First step of registration and password reset: the address a code is sent to. The object
// names start with the flow's prefix ("register", "reset") so both flows are found the same way.
AuthStep {
    id: root

    property string namePrefix
    property bool loading: false
    property alias email: field.text

    signal submitted(string email)
    signal edited

    function submit() {
        if (button.enabled)
            root.submitted(field.text);
    }

    onShown: field.forceActiveFocus()

    AuthTextField {
        id: field

        objectName: root.namePrefix + "EmailField"
        label: Translations.t("email")
        enabled: !root.loading
        inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
        onTextEdited: root.edited()
        onAccepted: root.submit()
    }

    AuthButton {
        id: button

        objectName: root.namePrefix + "SendButton"
        Layout.topMargin: 4
        text: Translations.t("send_verification_code")
        busyText: Translations.t("sending")
        busy: root.loading
        enabled: field.text !== "" && !root.loading
        onClicked: root.submit()
    }
}
