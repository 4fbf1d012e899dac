import QtQuick
import QtQuick.Layouts

// Account creation in three steps (address, mailed code, password). The step shown follows
// auth.registrationState alone, so reopening the view resumes the flow where it stopped.
Item {
    id: root

    readonly property int resendCooldownSeconds: 60
    readonly property int minPasswordLength: 8
    readonly property int maxPasswordLength: 64

    // auth.registrationState values.
    readonly property int stateIdle: 0
    readonly property int stateSendingCode: 1
    readonly property int stateCodeSent: 2
    readonly property int stateVerifyingCode: 3
    readonly property int stateCodeVerified: 4
    readonly property int stateRegistering: 5
    readonly property int stateCompleted: 6

    property string pendingEmail
    property int resendCooldown: 0
    property bool passwordsVisible: false
    // Raw text of the last failure; null while there is none.
    property var failure: null

    readonly property int step: auth.registrationState >= root.stateCodeVerified ? 2
        : auth.registrationState >= root.stateCodeSent ? 1 : 0
    readonly property bool passwordsMatch: confirmField.text === passwordField.text

    signal navigateToLogin

    function requestCode(email) {
        root.failure = null;
        root.pendingEmail = email;
        auth.sendVerificationCode(email);
    }

    function createAccount() {
        if (!createButton.enabled)
            return;
        root.failure = null;
        auth.registerAccount(root.pendingEmail, passwordField.text, inviteField.text);
    }

    Timer {
        interval: 1000
        repeat: true
        running: root.resendCooldown > 0
        onTriggered: root.resendCooldown = Math.max(0, root.resendCooldown - 1)
    }

    Connections {
        target: auth

        function onVerificationCodeSent() {
            root.failure = null;
            root.resendCooldown = root.resendCooldownSeconds;
        }
        function onCodeVerified() {
            root.failure = null;
        }
        function onVerificationCodeFailed(error) {
            root.failure = error;
        }
        function onCodeVerificationFailed(error) {
            root.failure = error;
        }
        function onRegistrationFailed(error) {
            root.failure = error;
        }
        // Back at the start (link to sign-in, sign-out): nothing typed for the old flow survives.
        function onRegistrationStateChanged() {
            if (auth.registrationState !== root.stateIdle)
                return;
            codeStep.code = "";
            passwordField.clear();
            confirmField.clear();
            inviteField.clear();
            root.passwordsVisible = false;
        }
    }

    AuthCard {
        id: card

        showLogo: false
        title: Translations.t("create_account")

        AuthStepIndicator {
            labels: [Translations.t("step_email"), Translations.t("step_verify"), Translations.t("step_password")]
            current: root.step
        }

        AuthEmailStep {
            namePrefix: "register"
            current: root.step === 0
            loading: auth.isLoading
            onEdited: root.failure = null
            onSubmitted: function (email) {
                root.requestCode(email);
            }
        }

        AuthCodeStep {
            id: codeStep

            namePrefix: "register"
            current: root.step === 1
            loading: auth.isLoading
            pendingEmail: root.pendingEmail
            cooldown: root.resendCooldown
            onEdited: root.failure = null
            onResendRequested: root.requestCode(root.pendingEmail)
            onSubmitted: function (code) {
                root.failure = null;
                auth.verifyCode(root.pendingEmail, code);
            }
        }

        AuthStep {
            spacing: 10
            current: root.step === 2
            onShown: passwordField.forceActiveFocus()

            AuthTextField {
                id: passwordField

                objectName: "registerPasswordField"
                label: Translations.t("password")
                password: true
                revealed: root.passwordsVisible
                toggleName: "registerPasswordToggle"
                maximumLength: root.maxPasswordLength
                enabled: !auth.isLoading
                onToggleClicked: root.passwordsVisible = !root.passwordsVisible
                onTextEdited: root.failure = null
                onAccepted: confirmField.forceActiveFocus()
            }

            PasswordRules {
                id: rules

                objectName: "registerPasswordRules"
                password: passwordField.text
                minLength: root.minPasswordLength
                maxLength: root.maxPasswordLength
            }

            AuthTextField {
                id: confirmField

                objectName: "registerConfirmField"
                label: Translations.t("confirm_password")
                password: true
                revealed: root.passwordsVisible
                enabled: !auth.isLoading
                onTextEdited: root.failure = null
                onAccepted: inviteField.forceActiveFocus()
            }

            Text {
                objectName: "registerMismatchText"
                visible: confirmField.text !== "" && !root.passwordsMatch
                Layout.fillWidth: true
                Layout.leftMargin: 4
                Layout.topMargin: -4
                text: Translations.t("passwords_no_match")
                wrapMode: Text.Wrap
                color: Theme.authErrorTextColor
                font.pixelSize: 13
            }

            AuthTextField {
                id: inviteField

                objectName: "registerInviteField"
                label: Translations.t("invite_code_optional")
                enabled: !auth.isLoading
                inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                onTextEdited: root.failure = null
                onAccepted: root.createAccount()
            }

            AuthButton {
                id: createButton

                objectName: "registerCreateButton"
                Layout.topMargin: 4
                text: Translations.t("create_account")
                busyText: Translations.t("creating_account")
                busy: auth.isLoading
                enabled: rules.allMet && root.passwordsMatch && !auth.isLoading
                onClicked: root.createAccount()
            }
        }

        AuthErrorBox {
            id: errorBox

            objectName: "registerErrorBox"
            text: root.failure === null ? "" : Translations.translateError(root.failure)
            onAppeared: card.reveal(errorBox)
        }

        Item {
            Layout.fillHeight: true
        }

        AuthLink {
            objectName: "registerLoginLink"
            Layout.alignment: Qt.AlignHCenter
            text: Translations.t("have_account")
            enabled: !auth.isLoading
            onClicked: {
                auth.resetRegistrationState();
                root.navigateToLogin();
            }
        }
    }
}
