import QtQuick
import QtQuick.Layouts

// Sign-in with e-mail address and password. The form starts empty whenever it is shown to a
// signed-out user, so a previous account's address never greets the next one.
Item {
    id: root

    property bool passwordVisible: false
    // Raw text of the last failure; null while there is none.
    property var failure: null

    signal navigateToRegister
    signal navigateToResetPassword

    function clearForm() {
        emailField.clear();
        passwordField.clear();
        root.passwordVisible = false;
        root.failure = null;
    }

    function submit() {
        if (!submitButton.enabled)
            return;
        root.failure = null;
        auth.login(emailField.text, passwordField.text);
    }

    onVisibleChanged: {
        if (!root.visible || auth.isLoggedIn)
            return;
        root.clearForm();
        emailField.forceActiveFocus();
    }

    Connections {
        target: auth

        function onLoginFailed(error) {
            root.failure = error;
        }
        // The address stays for convenience; the password does not outlive the sign-in.
        function onLoginSucceeded() {
            passwordField.clear();
            root.passwordVisible = false;
            root.failure = null;
        }
        function onIsLoggedInChanged() {
            if (!auth.isLoggedIn)
                root.clearForm();
        }
    }

    AuthCard {
        id: card

        title: Translations.t("login_heading")
        subtitle: Translations.t("login_subheading")
        badge: Translations.t("login_badge")

        AuthTextField {
            id: emailField

            objectName: "loginEmailField"
            label: Translations.t("email")
            enabled: !auth.isLoading
            inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
            onTextEdited: root.failure = null
            onAccepted: passwordField.forceActiveFocus()
        }

        AuthTextField {
            id: passwordField

            objectName: "loginPasswordField"
            label: Translations.t("password")
            password: true
            revealed: root.passwordVisible
            toggleName: "loginPasswordToggle"
            enabled: !auth.isLoading
            onToggleClicked: root.passwordVisible = !root.passwordVisible
            onTextEdited: root.failure = null
            onAccepted: root.submit()
        }

        AuthLink {
            objectName: "loginForgotLink"
            Layout.alignment: Qt.AlignRight
            Layout.topMargin: -4
            horizontalAlignment: Text.AlignRight
            text: Translations.t("forgot_password")
            enabled: !auth.isLoading
            onClicked: root.navigateToResetPassword()
        }

        AuthButton {
            id: submitButton

            objectName: "loginSubmitButton"
            text: Translations.t("login")
            busyText: Translations.t("logging_in")
            busy: auth.isLoading
            enabled: emailField.text !== "" && passwordField.text !== "" && !auth.isLoading
            onClicked: root.submit()
        }

        AuthErrorBox {
            id: errorBox

            objectName: "loginErrorBox"
            text: root.failure === null ? "" : Translations.translateError(root.failure)
            onAppeared: card.reveal(errorBox)
        }

        Item {
            Layout.fillHeight: true
        }

        AuthLink {
            objectName: "loginRegisterLink"
            Layout.alignment: Qt.AlignHCenter
            text: Translations.t("no_account")
            enabled: !auth.isLoading
            onClicked: root.navigateToRegister()
        }
    }
}
