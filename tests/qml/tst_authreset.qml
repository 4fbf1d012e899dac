import QtQuick
import QtTest
import appclient

// Resetting a password: the reset operations (not the sign-up ones) and the end of the flow.
ViewCase {
    name: "ResetPasswordView"

    function init() {
        resetBackend()
        make("ResetPasswordView")
    }

    function test_flow() {
        type(item("resetEmailField"), "a@b.c")
        mouseClick(item("resetSendButton"))
        auth.passwordResetState = view.stateCodeSent
        auth.passwordResetCodeSent()
        compare(view.resendCooldown, 60)
        view.resendCooldown = 0
        mouseClick(item("resetResendLink"))
        type(item("resetCodeField"), "6543210")
        keyClick(Qt.Key_Return)
        compare(auth.calls.map(call => [call.name].concat(call.args).join(" ")), ["sendPasswordResetCode a@b.c",
                "sendPasswordResetCode a@b.c", "verifyPasswordResetCode a@b.c 654321"])

        // No rules of its own: short passwords are the server's business.
        auth.passwordResetState = view.stateCodeVerified
        item("resetPasswordField").text = "a"
        item("resetConfirmField").text = "A"
        verify(!item("resetSubmitButton").enabled)
        item("resetConfirmField").text = "a"
        item("resetConfirmField").forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(auth.callsTo("resetPassword")[0].args, ["a@b.c", "a"])

        auth.passwordResetState = view.stateCompleted
        auth.passwordResetSucceeded()
        verify(item("resetSuccessText").visible && !item("resetPasswordField").visible)
        compare(item("resetPasswordField").text, "", "the new password is not kept in the form")
        let resetsBeforeLeaving = -1
        view.navigateToLogin.connect(() => resetsBeforeLeaving = auth.callsTo("resetPasswordResetState").length)
        mouseClick(item("resetBackLink"))
        compare(resetsBeforeLeaving, 1)
        verify(item("resetEmailField").visible)
    }
}
