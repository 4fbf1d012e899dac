import QtQuick
import QtTest
import appclient

TestCase {
    name: "ErrorTranslation"

    function cleanup() {
        Translations.currentLanguage = "en";
    }

    // Every phrase the panel and the request layer are known to send (the tag), with the key it must reach.
    function test_phrase_data() {
        return [
            { tag: "user does not exist", key: "error_user_not_found" },
            { tag: "invalid email or password", key: "error_invalid_credentials" },
            { tag: "invalid credentials", key: "error_invalid_credentials" },
            { tag: "email is a required field", key: "error_email_required" },
            { tag: "password is a required field", key: "error_password_required" },
            { tag: "code is a required field", key: "error_code_required" },
            { tag: "invalid code", key: "error_invalid_code" },
            { tag: "invalid verification code", key: "error_invalid_code" },
            { tag: "verification code is invalid", key: "error_invalid_code" },
            { tag: "verification code expired", key: "error_code_expired" },
            { tag: "code expired", key: "error_code_expired" },
            { tag: "email already exists", key: "error_email_taken" },
            { tag: "email already registered", key: "error_email_taken" },
            { tag: "user already exists", key: "error_email_taken" },
            { tag: "failed to send code", key: "error_send_code_failed" },
            { tag: "failed to send verification code", key: "error_send_code_failed" },
            { tag: "failed to reset password", key: "error_reset_password_failed" },
            { tag: "login failed", key: "error_login_failed" },
            { tag: "registration failed", key: "error_register_failed" },
            { tag: "authentication required", key: "error_auth_required" },
            { tag: "not logged in", key: "error_auth_required" },
            { tag: "authentication expired, please log in again", key: "error_auth_expired" },
            { tag: "connection timed out", key: "error_timeout" },
            { tag: "unable to connect to server", key: "error_connection" },
            { tag: "server error, please try again later", key: "error_server" },
            { tag: "too many requests", key: "error_rate_limited" },
            { tag: "feature not enabled", key: "free_plan_claim_unavailable" },
            { tag: "invalid access", key: "error_auth_expired" },
            { tag: "请先登录", key: "error_auth_expired" },
            { tag: "请先登陆", key: "error_auth_expired" },
            { tag: "coupon does not exist", key: "coupon_invalid" },
            { tag: "coupon not found", key: "coupon_invalid" },
            { tag: "invalid coupon", key: "coupon_invalid" },
            { tag: "balance payment method is unavailable", key: "balance_payment_unavailable" },
            { tag: "success", key: "error_unknown" },
        ];
    }

    // Servers capitalise and pad freely; the same phrase must still be recognised.
    function test_phrase(data) {
        compare(Translations.errorKey(data.tag), data.key);
        compare(Translations.errorKey("  " + data.tag.toUpperCase() + "\n"), data.key);
        compare(Translations.translateError(data.tag), Translations.en[data.key]);
        Translations.currentLanguage = "zh-Hant";
        compare(Translations.translateError(" " + data.tag), Translations.zhHant[data.key]);
    }

    function test_noOtherPhrases() {
        compare(Object.keys(Translations.errorPhrases).length, test_phrase_data().length);
    }

    function test_otherValues_data() {
        return [
            { tag: "request-layer text", raw: "Unable to connect to server", key: "error_connection",
                text: "无法连接到服务器，请检查网络。" },
            { tag: "mixed case and spaces", raw: "  Invalid CODE ", key: "error_invalid_code", text: "验证码无效。" },
            { tag: "unmapped", raw: "Plan is sold out", key: "", text: "详细信息：Plan is sold out" },
            { tag: "prototype member", raw: "constructor", key: "", text: "详细信息：constructor" },
            { tag: "phrase inside a sentence", raw: "Error: invalid code", key: "", text: "详细信息：Error: invalid code" },
            { tag: "empty", raw: "", key: "error_unknown", text: "出现未知错误，请重试。" },
            { tag: "undefined", raw: undefined, key: "error_unknown", text: "出现未知错误，请重试。" },
            { tag: "null", raw: null, key: "error_unknown", text: "出现未知错误，请重试。" },
            { tag: "number", raw: 500, key: "", text: "详细信息：500" },
            { tag: "unmapped in the UI's script", raw: "套餐已售罄", key: "", text: "套餐已售罄" },
        ];
    }

    function test_otherValues(data) {
        Translations.currentLanguage = "zh";
        compare(Translations.errorKey(data.raw), data.key);
        compare(Translations.translateError(data.raw), data.text);
    }
}
