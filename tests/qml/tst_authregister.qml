import QtQuick
import QtTest
import appclient

Item {
    id: host

    width: 400
    height: 704

    Component {
        id: registerView

        RegisterView {
            anchors.fill: parent
        }
    }

    Component {
        id: signalSpy

        SignalSpy {}
    }

    TestCase {
        name: "RegisterView"
        when: windowShown

        property var view

        function init() {
            auth.reset();
            Translations.currentLanguage = "en";
            view = createTemporaryObject(registerView, host);
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

        // Puts the view on the password step for pendingEmail "a@b.c".
        function toPasswordStep() {
            view.pendingEmail = "a@b.c";
            auth.registrationState = view.stateCodeVerified;
        }

        function test_stepFollowsState_data() {
            return [
                { tag: "Idle", state: 0, step: "registerEmailField" },
                { tag: "SendingCode", state: 1, step: "registerEmailField" },
                { tag: "CodeSent", state: 2, step: "registerCodeField" },
                { tag: "VerifyingCode", state: 3, step: "registerCodeField" },
                { tag: "CodeVerified", state: 4, step: "registerPasswordField" },
                { tag: "Registering", state: 5, step: "registerPasswordField" }
            ];
        }

        function test_stepFollowsState(data) {
            auth.registrationState = data.state;
            for (const name of ["registerEmailField", "registerCodeField", "registerPasswordField"])
                compare(item(name).visible, name === data.step, name);
        }

        function test_emailAndCodeSteps() {
            const send = item("registerSendButton");
            verify(!send.enabled);
            type(item("registerEmailField"), "a@b.c");
            keyClick(Qt.Key_Return);
            compare(view.pendingEmail, "a@b.c");
            compare(auth.callsTo("sendVerificationCode")[0].args, ["a@b.c"]);

            auth.registrationState = view.stateCodeSent;
            compare(item("registerCodeSentText").text, Translations.t("enter_code_sent_to") + " a@b.c");
            const code = item("registerCodeField");
            verify(!item("registerVerifyButton").enabled);
            type(code, "1234567");
            compare(code.text, "123456", "the seventh character is refused");
            mouseClick(item("registerVerifyButton"));
            compare(auth.callsTo("verifyCode")[0].args, ["a@b.c", "123456"]);
        }

        function test_resendCountdown() {
            view.pendingEmail = "a@b.c";
            auth.registrationState = view.stateCodeSent;
            auth.verificationCodeSent();
            const link = item("registerResendLink");
            compare(view.resendCooldown, 60);
            compare(link.text, "Resend in 60s");
            verify(!link.enabled);
            wait(700);
            compare(view.resendCooldown, 60, "no tick before a second has passed");
            tryCompare(view, "resendCooldown", 59, 1500);
            tryCompare(view, "resendCooldown", 58, 2000);
            compare(link.text, "Resend in 58s");
            view.resendCooldown = 1;
            tryCompare(view, "resendCooldown", 0, 2000);
            wait(1100);
            compare(view.resendCooldown, 0, "never below zero");
            compare(link.text, Translations.t("resend_code"));
            auth.isLoading = true;
            verify(!link.enabled, "no resend while a request runs");
            auth.isLoading = false;
            verify(link.enabled);
            mouseClick(link);
            compare(auth.callsTo("sendVerificationCode")[0].args, ["a@b.c"]);
            auth.verificationCodeSent();
            compare(view.resendCooldown, 60, "each sent code restarts the countdown");
        }

        // Checked on the rule functions directly, so values longer than the field allows count.
        function test_passwordRules_data() {
            return [
                { tag: "7 chars", password: "abcdef1", length: false, letter: true, number: true },
                { tag: "8 chars", password: "abcdefg1", length: true, letter: true, number: true },
                { tag: "64 chars", password: "a1".repeat(32), length: true, letter: true, number: true },
                { tag: "65 chars", password: "a1".repeat(32) + "b", length: false, letter: true, number: true },
                { tag: "no digit", password: "abcdefgh", length: true, letter: true, number: false },
                { tag: "no letter", password: "12345678", length: true, letter: false, number: true },
                { tag: "accented letters only", password: "éèàüöäç1", length: true, letter: false, number: true },
                { tag: "CJK letters only", password: "密码密码密码密码1", length: true, letter: false, number: true },
                { tag: "Arabic-Indic digit", password: "abcdefg١", length: true, letter: true, number: false },
                { tag: "empty", password: "", length: false, letter: false, number: false }
            ];
        }

        function test_passwordRules(data) {
            toPasswordStep();
            const rules = item("registerPasswordRules");
            const result = rules.evaluate(data.password);
            compare([result.length, result.letter, result.number], [data.length, data.letter, data.number]);
            if (data.password.length > view.maxPasswordLength)
                return;
            item("registerPasswordField").text = data.password;
            compare(rules.allMet, data.length && data.letter && data.number);
            for (const rule of ["length", "letter", "number"]) {
                const row = findChild(rules, "passwordRule_" + rule);
                compare(row.met, data[rule], rule);
                compare(row.children[0].text, data[rule] ? "✓" : "○");
            }
        }

        function test_createButton_data() {
            return [
                { tag: "7 chars with letter and digit", password: "abcdef1", confirm: "abcdef1", enabled: false },
                { tag: "mismatch", password: "abcdefg1", confirm: "abcdefg2", enabled: false, mismatch: true },
                { tag: "case differs", password: "abcdefg1", confirm: "Abcdefg1", enabled: false, mismatch: true },
                { tag: "confirmation empty", password: "abcdefg1", confirm: "", enabled: false },
                { tag: "all rules hold", password: "abcdefg1", confirm: "abcdefg1", enabled: true }
            ];
        }

        function test_createButton(data) {
            toPasswordStep();
            item("registerPasswordField").text = data.password;
            item("registerConfirmField").text = data.confirm;
            item("registerInviteField").text = "INV";
            const create = item("registerCreateButton");
            compare(create.enabled, data.enabled);
            compare(item("registerMismatchText").visible, data.mismatch === true);
            item("registerInviteField").forceActiveFocus();
            keyClick(Qt.Key_Return);
            compare(auth.callsTo("registerAccount").length, data.enabled ? 1 : 0);
            if (data.enabled) {
                compare(auth.callsTo("registerAccount")[0].args, ["a@b.c", data.password, "INV"]);
                auth.isLoading = true;
                verify(!create.enabled);
                compare(create.shownText, Translations.t("creating_account"));
            }
        }

        function test_passwordFieldLimitAndSharedToggle() {
            toPasswordStep();
            const password = item("registerPasswordField");
            const confirm = item("registerConfirmField");
            password.text = "a1".repeat(32);
            type(password, "x");
            compare(password.text.length, 64);
            verify(!findChild(view, "registerConfirmToggle"));
            mouseClick(item("registerPasswordToggle"));
            compare([password.echoMode, confirm.echoMode], [TextInput.Normal, TextInput.Normal]);
            mouseClick(item("registerPasswordToggle"));
            compare([password.echoMode, confirm.echoMode], [TextInput.Password, TextInput.Password]);
        }

        function test_errorBox() {
            const box = item("registerErrorBox");
            auth.verificationCodeFailed("Failed to send code");
            compare(box.text, Translations.t("error_send_code_failed"));
            auth.verificationCodeSent();
            verify(!box.visible);
            auth.registrationState = view.stateCodeSent;
            auth.codeVerificationFailed("invalid code");
            compare(box.text, Translations.t("error_invalid_code"));
            type(item("registerCodeField"), "1");
            verify(!box.visible, "editing clears the message");
            auth.codeVerificationFailed("invalid code");
            auth.codeVerified();
            verify(!box.visible);
            toPasswordStep();
            auth.registrationFailed("Email already exists");
            compare(box.text, Translations.t("error_email_taken"));
        }

        function test_leavingResetsTheFlow() {
            toPasswordStep();
            item("registerPasswordField").text = "abcdefg1";
            const spy = createTemporaryObject(signalSpy, host, { target: view, signalName: "navigateToLogin" });
            let resetsBeforeLeaving = -1;
            view.navigateToLogin.connect(() => resetsBeforeLeaving = auth.callsTo("resetRegistrationState").length);
            mouseClick(item("registerLoginLink"));
            compare(spy.count, 1);
            compare(resetsBeforeLeaving, 1, "the flow is reset before the view is left");
            verify(item("registerEmailField").visible);
            compare(item("registerPasswordField").text, "", "no password survives the abandoned flow");
        }
    }
}
