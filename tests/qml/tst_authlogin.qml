import QtQuick
import QtTest
import appclient

Item {
    id: host

    width: 400
    height: 704

    Component {
        id: loginView

        LoginView {
            anchors.fill: parent
        }
    }

    TestCase {
        name: "LoginView"
        when: windowShown

        property var view
        property var email
        property var password
        property var submit

        function init() {
            auth.reset();
            Translations.currentLanguage = "en";
            view = createTemporaryObject(loginView, host);
            email = findChild(view, "loginEmailField");
            password = findChild(view, "loginPasswordField");
            submit = findChild(view, "loginSubmitButton");
        }

        function type(field, text) {
            field.forceActiveFocus();
            for (const ch of text)
                keyClick(ch);
        }

        function test_submitNeedsBothFieldsAndIdle() {
            verify(!submit.enabled);
            type(email, "a@b.c");
            verify(!submit.enabled, "password still empty");
            type(password, "pw");
            verify(submit.enabled);
            email.text = "";
            verify(!submit.enabled, "e-mail emptied again");
            email.text = "a@b.c";
            auth.isLoading = true;
            verify(!submit.enabled && !email.enabled && !password.enabled);
            compare(submit.shownText, Translations.t("logging_in"));
            verify(!findChild(view, "loginRegisterLink").enabled);
            auth.isLoading = false;
            compare(submit.shownText, Translations.t("login"));
            mouseClick(submit);
            compare(auth.callsTo("login").length, 1);
            compare(auth.callsTo("login")[0].args, ["a@b.c", "pw"]);
        }

        function test_failureIsTranslatedAndClearedByEditing_data() {
            return [
                { tag: "typing in e-mail", field: "loginEmailField" },
                { tag: "typing in password", field: "loginPasswordField" }
            ];
        }

        function test_failureIsTranslatedAndClearedByEditing(data) {
            const box = findChild(view, "loginErrorBox");
            verify(!box.visible);
            email.text = "a@b.c";
            password.text = "pw";
            // The handler reports the failure before login() returns: submitting must clear the
            // old message first, not the new one afterwards.
            auth.loginError = "  INVALID email or password ";
            mouseClick(submit);
            verify(box.visible);
            compare(box.text, Translations.t("error_invalid_credentials"));
            auth.loginFailed("Account frozen by staff");
            compare(box.text, "Account frozen by staff");
            type(findChild(view, data.field), "x");
            verify(!box.visible);
        }

        function test_enterSubmitsOnlyWhenAllowed() {
            type(password, "pw");
            keyClick(Qt.Key_Return);
            compare(auth.callsTo("login").length, 0, "e-mail is empty");
            type(email, "a@b.c");
            keyClick(Qt.Key_Return);
            verify(password.activeFocus, "Enter in the e-mail field moves on to the password");
            keyClick(Qt.Key_Enter);
            compare(auth.callsTo("login").length, 1);
        }

        function test_eyeTogglesPassword() {
            const toggle = findChild(view, "loginPasswordToggle");
            compare(password.echoMode, TextInput.Password);
            compare(String(toggle.iconSource), "qrc:/icons/eye-off.svg");
            mouseClick(toggle);
            verify(view.passwordVisible);
            compare(password.echoMode, TextInput.Normal);
            compare(String(toggle.iconSource), "qrc:/icons/eye.svg");
            mouseClick(toggle);
            compare(password.echoMode, TextInput.Password);
        }

        function test_formClearing() {
            const fill = function () {
                email.text = "a@b.c";
                password.text = "pw";
                view.passwordVisible = true;
                auth.loginFailed("boom");
            };
            fill();
            auth.loginSucceeded();
            compare(email.text, "a@b.c", "the address is kept after signing in");
            compare(password.text, "");
            verify(!view.passwordVisible);
            verify(!findChild(view, "loginErrorBox").visible);

            fill();
            auth.isLoggedIn = true;
            view.visible = false;
            view.visible = true;
            compare(password.text, "pw", "not cleared while signed in");
            auth.isLoggedIn = false;
            compare(email.text + password.text, "", "signing out clears the form");
            verify(!view.passwordVisible);

            fill();
            view.visible = false;
            view.visible = true;
            compare(email.text + password.text, "");
            verify(!findChild(view, "loginErrorBox").visible);
        }

        function test_links() {
            const toRegister = createTemporaryObject(signalSpy, host, { target: view, signalName: "navigateToRegister" });
            const toReset = createTemporaryObject(signalSpy, host, { target: view, signalName: "navigateToResetPassword" });
            mouseClick(findChild(view, "loginForgotLink"));
            compare(toReset.count, 1);
            compare(toRegister.count, 0);
            mouseClick(findChild(view, "loginRegisterLink"));
            compare(toRegister.count, 1);
        }
    }

    Component {
        id: signalSpy

        SignalSpy {}
    }
}
