import QtQuick
import QtQuick.Layouts

// Second step of registration and password reset: the code mailed to the pending address, with
// the resend link and its countdown.
AuthStep {
    id: root

    property string namePrefix
    property bool loading: false
    property string pendingEmail
    property int cooldown: 0
    property alias code: field.text

    signal submitted(string code)
    signal resendRequested
    signal edited

    function submit() {
        if (button.enabled)
            root.submitted(field.text);
    }

    onShown: field.forceActiveFocus()

    Text {
        objectName: root.namePrefix + "CodeSentText"
        Layout.fillWidth: true
        text: Translations.t("enter_code_sent_to") + " " + root.pendingEmail
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        color: Theme.authMutedTextColor
        font.pixelSize: 13
    }

    AuthTextField {
        id: field

        objectName: root.namePrefix + "CodeField"
        label: Translations.t("verification_code")
        enabled: !root.loading
        maximumLength: 6
        inputMethodHints: Qt.ImhDigitsOnly
        font.letterSpacing: 3
        onTextEdited: root.edited()
        onAccepted: root.submit()
    }

    ResendLink {
        objectName: root.namePrefix + "ResendLink"
        Layout.alignment: Qt.AlignRight
        horizontalAlignment: Text.AlignRight
        cooldown: root.cooldown
        loading: root.loading
        onClicked: root.resendRequested()
    }

    AuthButton {
        id: button

        objectName: root.namePrefix + "VerifyButton"
        text: Translations.t("confirm")
        busyText: Translations.t("verifying")
        busy: root.loading
        enabled: field.text !== "" && !root.loading
        onClicked: root.submit()
    }
}
