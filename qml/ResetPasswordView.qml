import QtQuick
import QtQuick.Layouts

// Password reset in the same three steps as registration, driven by auth.passwordResetState,
// ending on a confirmation that stays until the user goes back to sign-in.
Item {
    id: root

    readonly property int resendCooldownSeconds: 60

    // auth.passwordResetState values.
    readonly property int stateIdle: 0
    readonly property int stateSendingCode: 1
    readonly property int stateCodeSent: 2
    readonly property int stateVerifyingCode: 3
    readonly property int stateCodeVerified: 4
    readonly property int stateResetting: 5
    readonly property int stateCompleted: 6

    property string pendingEmail
    property int resendCooldown: 0
    property bool passwordsVisible: false
    // Raw text of the last failure; null while there is none.
    property var failure: null

    readonly property bool completed: auth.passwordResetState === root.stateCompleted
    readonly property int step: auth.passwordResetState >= root.stateCodeVerified ? 2
        : auth.passwordResetState >= root.stateCodeSent ? 1 : 0
    readonly property bool passwordsMatch: confirmField.text === passwordField.text

    signal navigateToLogin

    function requestCode(email) {
        root.failure = null;
        root.pendingEmail = email;
        auth.sendPasswordResetCode(email);
    }

    function submitPassword() {
        if (!submitButton.enabled)
            return;
        root.failure = null;
        auth.resetPassword(root.pendingEmail, passwordField.text);
    }

    Timer {
        interval: 1000
        repeat: true
        running: root.resendCooldown > 0
        onTriggered: root.resendCooldown = Math.max(0, root.resendCooldown - 1)
    }

    Connections {
        target: auth

        function onPasswordResetCodeSent() {
            root.failure = null;
            root.resendCooldown = root.resendCooldownSeconds;
        }
        function onPasswordResetCodeVerified() {
            root.failure = null;
        }
        function onPasswordResetSucceeded() {
            root.failure = null;
        }
        function onPasswordResetCodeFailed(error) {
            root.failure = error;
        }
        function onPasswordResetCodeVerificationFailed(error) {
            root.failure = error;
        }
        function onPasswordResetFailed(error) {
            root.failure = error;
        }
        // The new password must not linger in the fields once the flow is over or abandoned.
        function onPasswordResetStateChanged() {
            const state = auth.passwordResetState;
            if (state !== root.stateIdle && state !== root.stateCompleted)
                return;
            codeStep.code = "";
            passwordField.clear();
            confirmField.clear();
            root.passwordsVisible = false;
        }
    }

    AuthCard {
        id: card

        showLogo: false
        title: Translations.t("reset_password")

        AuthStepIndicator {
            labels: [Translations.t("step_email"), Translations.t("step_verify"), Translations.t("step_new_password")]
            current: root.step
            finished: root.completed
        }

        AuthEmailStep {
            namePrefix: "reset"
            current: root.step === 0
            loading: auth.isLoading
            onEdited: root.failure = null
            onSubmitted: function (email) {
                root.requestCode(email);
            }
        }

        AuthCodeStep {
            id: codeStep

            namePrefix: "reset"
            current: root.step === 1
            loading: auth.isLoading
            pendingEmail: root.pendingEmail
            cooldown: root.resendCooldown
            onEdited: root.failure = null
            onResendRequested: root.requestCode(root.pendingEmail)
            onSubmitted: function (code) {
                root.failure = null;
                auth.verifyPasswordResetCode(root.pendingEmail, code);
            }
        }

        AuthStep {
            spacing: 10
            current: root.step === 2 && !root.completed
            onShown: passwordField.forceActiveFocus()

            AuthTextField {
                id: passwordField

                objectName: "resetPasswordField"
                label: Translations.t("new_password")
                password: true
                revealed: root.passwordsVisible
                toggleName: "resetPasswordToggle"
                enabled: !auth.isLoading
                onToggleClicked: root.passwordsVisible = !root.passwordsVisible
                onTextEdited: root.failure = null
                onAccepted: confirmField.forceActiveFocus()
            }

            AuthTextField {
                id: confirmField

                objectName: "resetConfirmField"
                label: Translations.t("confirm_password")
                password: true
                revealed: root.passwordsVisible
                enabled: !auth.isLoading
                onTextEdited: root.failure = null
                onAccepted: root.submitPassword()
            }

            Text {
                objectName: "resetMismatchText"
                visible: confirmField.text !== "" && !root.passwordsMatch
                Layout.fillWidth: true
                Layout.leftMargin: 4
                Layout.topMargin: -4
                text: Translations.t("passwords_no_match")
                wrapMode: Text.Wrap
                color: Theme.authErrorTextColor
                font.pixelSize: 13
            }

            AuthButton {
                id: submitButton

                objectName: "resetSubmitButton"
                Layout.topMargin: 4
                text: Translations.t("reset_password")
                busyText: Translations.t("resetting_password")
                busy: auth.isLoading
                enabled: passwordField.text !== "" && root.passwordsMatch && !auth.isLoading
                onClicked: root.submitPassword()
            }
        }

        AuthStep {
            current: root.completed

            AuthErrorBox {
                objectName: "resetSuccessText"
                success: true
                text: Translations.t("password_reset_success")
            }
        }

        AuthErrorBox {
            id: errorBox

            objectName: "resetErrorBox"
            text: root.failure === null ? "" : Translations.translateError(root.failure)
            onAppeared: card.reveal(errorBox)
        }

        Item {
            Layout.fillHeight: true
        }

        AuthLink {
            objectName: "resetBackLink"
            Layout.alignment: Qt.AlignHCenter
            text: Translations.t("back_to_login")
            enabled: !auth.isLoading
            onClicked: {
                auth.resetPasswordResetState();
                root.navigateToLogin();
            }
        }
    }
}
