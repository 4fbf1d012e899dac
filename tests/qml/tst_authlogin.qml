import QtQuick
import QtTest
import appclient

// Signing in: when the form may be sent, its messages, and what it keeps afterwards.
ViewCase {
    name: "LoginView"

    property var email
    property var password

    function init() {
        resetBackend()
        make("LoginView")
        email = item("loginEmailField")
        password = item("loginPasswordField")
    }

    // Sent only complete and not while a request runs; the links lead on.
    function test_submit() {
        const toRegister = spy(view, "navigateToRegister")
        const toReset = spy(view, "navigateToResetPassword")
        mouseClick(item("loginForgotLink"))
        mouseClick(item("loginRegisterLink"))
        compare([toReset.count, toRegister.count], [1, 1])
        const submit = item("loginSubmitButton")
        type(password, "pw")
        keyClick(Qt.Key_Return)
        verify(!submit.enabled)
        type(email, "a@b.c")
        keyClick(Qt.Key_Return)
        verify(password.activeFocus, "Enter in the e-mail field moves on to the password")
        compare(auth.callsTo("login").length, 0)
        auth.isLoading = true
        verify(!submit.enabled && !email.enabled && !password.enabled)
        auth.isLoading = false
        mouseClick(item("loginPasswordToggle"))
        compare(password.echoMode, TextInput.Normal)
        password.forceActiveFocus()
        keyClick(Qt.Key_Enter)
        compare(auth.callsTo("login").map(call => call.args), [["a@b.c", "pw"]])
    }

    function test_failureIsTranslatedAndClearedByEditing() {
        const box = item("loginErrorBox")
        email.text = "a@b.c"
        password.text = "pw"
        // The handler reports the failure before login() returns: submitting must clear the
        // old message first, not the new one afterwards.
        auth.loginError = "  INVALID email or password "
        mouseClick(item("loginSubmitButton"))
        compare([box.visible, box.text], [true, Translations.t("error_invalid_credentials")])
        type(password, "x")
        verify(!box.visible)
    }

    function test_formClearing() {
        const fill = () => [email.text, password.text, view.passwordVisible] = ["a@b.c", "pw", true]
        fill()
        auth.loginSucceeded()
        compare([email.text, password.text, view.passwordVisible], ["a@b.c", "", false], "the address stays")
        fill()
        auth.isLoggedIn = true
        view.visible = false
        view.visible = true
        compare(password.text, "pw", "not cleared while signed in")
        auth.isLoggedIn = false
        compare(email.text + password.text, "", "signing out clears the form")
        fill()
        view.visible = false
        view.visible = true
        compare(email.text + password.text, "")
    }
}
