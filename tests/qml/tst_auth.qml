import QtQuick
import QtTest
import appclient

// The account forms: signing in (when the form may be sent, its messages, what it keeps),
// creating an account (the steps, the password rules) and resetting a password.
ViewCase {
    name: "Auth"

    function init() { resetBackend() }

    function toPasswordStep() {
        make("RegisterView")
        view.pendingEmail = "a@b.c"
        auth.registrationState = view.stateCodeVerified
    }

    // Sent only complete and not while a request runs; the links lead on.
    function test_loginSubmit() {
        make("LoginView")
        const [email, password, submit] = [item("loginEmailField"), item("loginPasswordField"),
                                           item("loginSubmitButton")]
        const toRegister = spy(view, "navigateToRegister")
        const toReset = spy(view, "navigateToResetPassword")
        mouseClick(item("loginForgotLink"))
        mouseClick(item("loginRegisterLink"))
        compare([toReset.count, toRegister.count], [1, 1])
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

        // The handler reports a failure before login() returns: submitting must clear the old
        // message first, not the new one afterwards. Editing clears it.
        const box = item("loginErrorBox")
        auth.loginError = "  INVALID email or password "
        mouseClick(submit)
        compare([box.visible, box.text], [true, Translations.t("error_invalid_credentials")])
        type(password, "x")
        verify(!box.visible)
    }

    function test_loginFormClearing() {
        make("LoginView")
        const [email, password] = [item("loginEmailField"), item("loginPasswordField")]
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

    // Each state of the flow shows one step: sending stays on the e-mail, verifying on the code.
    // Failures are translated, and editing clears them.
    function test_registerEmailAndCodeSteps() {
        make("RegisterView")
        const fields = ["registerEmailField", "registerCodeField", "registerPasswordField"]
        for (let state = 0; state < 6; ++state) {
            auth.registrationState = state
            compare(fields.filter(name => item(name).visible), [fields[state >> 1]], "state " + state)
        }
        auth.registrationState = 0
        verify(!item("registerSendButton").enabled)
        type(item("registerEmailField"), "a@b.c")
        keyClick(Qt.Key_Return)
        compare(auth.callsTo("sendVerificationCode")[0].args, ["a@b.c"])
        auth.registrationState = view.stateCodeSent
        const box = item("registerErrorBox")
        auth.verificationCodeFailed("Failed to send code")
        compare(box.text, Translations.t("error_send_code_failed"))
        type(item("registerCodeField"), "1234567")
        compare(item("registerCodeField").text, "123456", "the seventh character is refused")
        verify(!box.visible)
        mouseClick(item("registerVerifyButton"))
        compare(auth.callsTo("verifyCode")[0].args, ["a@b.c", "123456"])
        auth.codeVerificationFailed("invalid code")
        auth.codeVerified()
        verify(!box.visible)
    }

    function test_registerResendCountdown() {
        make("RegisterView")
        view.pendingEmail = "a@b.c"
        auth.registrationState = view.stateCodeSent
        auth.verificationCodeSent()
        const link = item("registerResendLink")
        compare([view.resendCooldown, link.enabled], [60, false])
        tryCompare(view, "resendCooldown", 59, 1500)
        view.resendCooldown = 1
        tryCompare(view, "resendCooldown", 0, 2000)
        wait(1100)
        compare(view.resendCooldown, 0, "never below zero")
        auth.isLoading = true
        verify(!link.enabled, "no resend while a request runs")
        auth.isLoading = false
        mouseClick(link)
        compare(auth.callsTo("sendVerificationCode")[0].args, ["a@b.c"])
        auth.verificationCodeSent()
        compare(view.resendCooldown, 60, "each sent code restarts the countdown")
    }

    // Checked on the rule functions directly, so values longer than the field allows count.
    function test_passwordRules_data() {
        return [
            { tag: "7 chars", password: "abcdef1", length: false, letter: true, number: true },
            { tag: "8 chars", password: "abcdefg1", length: true, letter: true, number: true },
            { tag: "64 chars", password: "a1".repeat(32), length: true, letter: true, number: true },
            { tag: "65 chars", password: "a1".repeat(32) + "b", length: false, letter: true, number: true },
            { tag: "accented letters only", password: "éèàüöäç1", length: true, letter: false, number: true },
            { tag: "Arabic-Indic digit", password: "abcdefg١", length: true, letter: true, number: false }
        ]
    }

    function test_passwordRules(data) {
        toPasswordStep()
        const rules = item("registerPasswordRules")
        const result = rules.evaluate(data.password)
        compare([result.length, result.letter, result.number], [data.length, data.letter, data.number])
        if (data.password.length > view.maxPasswordLength)
            return
        item("registerPasswordField").text = data.password
        compare(rules.allMet, data.length && data.letter && data.number)
        for (const rule of ["length", "letter", "number"])
            compare(item("passwordRule_" + rule, rules).met, data[rule], rule)
    }

    function test_createButton_data() {
        return [
            { tag: "7 chars", password: "abcdef1", confirm: "abcdef1", enabled: false },
            { tag: "case differs", password: "abcdefg1", confirm: "Abcdefg1", enabled: false, mismatch: true },
            { tag: "all rules hold", password: "abcdefg1", confirm: "abcdefg1", enabled: true }
        ]
    }

    // The field stops at 64 characters, one eye shows or hides both passwords, and leaving resets
    // the flow before the view goes, with no password kept.
    function test_createButton(data) {
        toPasswordStep()
        item("registerPasswordField").text = "a1".repeat(32)
        type(item("registerPasswordField"), "x")
        compare(item("registerPasswordField").text.length, 64)
        mouseClick(item("registerPasswordToggle"))
        compare(item("registerConfirmField").echoMode, TextInput.Normal)
        item("registerPasswordField").text = data.password
        item("registerConfirmField").text = data.confirm
        item("registerInviteField").text = "INV"
        compare(item("registerCreateButton").enabled, data.enabled)
        compare(item("registerMismatchText").visible, data.mismatch === true)
        item("registerInviteField").forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(auth.callsTo("registerAccount").map(call => call.args),
                data.enabled ? [["a@b.c", data.password, "INV"]] : [])
        let resetsBeforeLeaving = -1
        view.navigateToLogin.connect(() => resetsBeforeLeaving = auth.callsTo("resetRegistrationState").length)
        mouseClick(item("registerLoginLink"))
        compare(resetsBeforeLeaving, 1)
        verify(item("registerEmailField").visible)
        compare(item("registerPasswordField").text, "")
    }

    // The reset operations (not the sign-up ones), no password rules of its own (short passwords
    // are the server's business), and the end of the flow.
    function test_resetFlow() {
        make("ResetPasswordView")
        type(item("resetEmailField"), "a@b.c")
        mouseClick(item("resetSendButton"))
        auth.passwordResetState = view.stateCodeSent
        auth.passwordResetCodeSent()
        compare(view.resendCooldown, 60)
        view.resendCooldown = 0
        mouseClick(item("resetResendLink"))
        type(item("resetCodeField"), "6543210")
        keyClick(Qt.Key_Return)
        compare(callTexts(auth), ["sendPasswordResetCode a@b.c", "sendPasswordResetCode a@b.c",
                                  "verifyPasswordResetCode a@b.c 654321"])
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
