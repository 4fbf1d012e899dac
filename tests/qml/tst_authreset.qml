import QtQuick
import QtTest
import appclient

Item {
    id: host

    width: 400
    height: 704

    Component {
        id: resetView

        ResetPasswordView {
            anchors.fill: parent
        }
    }

    TestCase {
        name: "ResetPasswordView"
        when: windowShown

        property var view

        function init() {
            auth.reset();
            Translations.currentLanguage = "en";
            view = createTemporaryObject(resetView, host);
        }

        function item(name) {
            const found = findChild(view, name);
            verify(found, name);
            return found;
        }

        function type(field, text) {
            field.forceActiveFocus();
            for (const ch of text)
                keyClick(ch);
        }

        function test_flowCallsTheResetOperations() {
            type(item("resetEmailField"), "a@b.c");
            mouseClick(item("resetSendButton"));
            compare(auth.callsTo("sendPasswordResetCode")[0].args, ["a@b.c"]);
            compare(auth.callsTo("sendVerificationCode").length, 0);

            auth.passwordResetState = view.stateCodeSent;
            auth.passwordResetCodeSent();
            compare(view.resendCooldown, 60);
            view.resendCooldown = 1;
            tryCompare(item("resetResendLink"), "enabled", true, 1500);
            mouseClick(item("resetResendLink"));
            compare(auth.callsTo("sendPasswordResetCode").length, 2);
            compare(auth.callsTo("sendPasswordResetCode")[1].args, ["a@b.c"]);

            type(item("resetCodeField"), "6543210");
            keyClick(Qt.Key_Return);
            compare(auth.callsTo("verifyPasswordResetCode")[0].args, ["a@b.c", "654321"]);
            compare(auth.callsTo("verifyCode").length, 0);
        }

        function test_submitButton_data() {
            return [
                { tag: "empty", password: "", confirm: "", enabled: false },
                { tag: "mismatch", password: "secret", confirm: "secreT", enabled: false },
                { tag: "short passwords are the server's business", password: "a", confirm: "a", enabled: true },
                { tag: "no length limit", password: "x".repeat(100), confirm: "x".repeat(100), enabled: true }
            ];
        }

        function test_submitButton(data) {
            view.pendingEmail = "a@b.c";
            auth.passwordResetState = view.stateCodeVerified;
            verify(!findChild(view, "resetInviteField") && !findChild(view, "resetPasswordRules"));
            const password = item("resetPasswordField");
            password.text = data.password;
            compare(password.text, data.password);
            item("resetConfirmField").text = data.confirm;
            compare(item("resetSubmitButton").enabled, data.enabled);
            item("resetConfirmField").forceActiveFocus();
            keyClick(Qt.Key_Return);
            compare(auth.callsTo("resetPassword").length, data.enabled ? 1 : 0);
            if (data.enabled)
                compare(auth.callsTo("resetPassword")[0].args, ["a@b.c", data.password]);
        }

        function test_completedShowsOnlyTheSuccessText() {
            view.pendingEmail = "a@b.c";
            auth.passwordResetState = view.stateCodeVerified;
            item("resetPasswordField").text = "new";
            item("resetConfirmField").text = "new";
            auth.passwordResetFailed("Failed to reset password");
            compare(item("resetErrorBox").text, Translations.t("error_reset_password_failed"));
            verify(!item("resetSuccessText").visible);

            auth.passwordResetState = view.stateCompleted;
            auth.passwordResetSucceeded();
            verify(item("resetSuccessText").visible);
            compare(item("resetSuccessText").text, Translations.t("password_reset_success"));
            for (const name of ["resetEmailField", "resetSendButton", "resetCodeField", "resetVerifyButton",
                    "resetPasswordField", "resetConfirmField", "resetSubmitButton", "resetErrorBox"])
                verify(!item(name).visible, name);
            compare(item("resetPasswordField").text, "", "the new password is not kept in the form");

            let resetsBeforeLeaving = -1;
            view.navigateToLogin.connect(() => resetsBeforeLeaving = auth.callsTo("resetPasswordResetState").length);
            mouseClick(item("resetBackLink"));
            compare(resetsBeforeLeaving, 1);
            verify(item("resetEmailField").visible && !item("resetSuccessText").visible);
        }
    }
}
