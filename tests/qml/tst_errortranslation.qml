import QtQuick
import QtTest
import appclient

// Failure texts from the panel become messages in the UI's language; others are shown as sent.
TestCase {
    name: "ErrorTranslation"

    function cleanup() {
        Translations.currentLanguage = "en"
    }

    // A phrase is looked up trimmed and in lower case, and must lead to a message that exists.
    function test_phraseTable() {
        const phrases = Translations.errorPhrases
        verify(Object.keys(phrases).length > 20)
        for (const phrase in phrases) {
            compare(phrase, phrase.trim().toLowerCase())
            verify(Translations.en[phrases[phrase]] !== undefined, phrase + " -> " + phrases[phrase])
        }
    }

    function test_values_data() {
        return [
            { tag: "capitalised and padded", raw: "  Invalid CODE\n", key: "error_invalid_code", text: "验证码无效。" },
            { tag: "Chinese phrase", raw: "请先登录", key: "error_auth_expired", text: "请刷新此页面后重试。" },
            { tag: "unmapped", raw: "Plan is sold out", key: "", text: "详细信息：Plan is sold out" },
            { tag: "prototype member", raw: "constructor", key: "", text: "详细信息：constructor" },
            { tag: "phrase inside a sentence", raw: "Error: invalid code", key: "",
              text: "详细信息：Error: invalid code" },
            { tag: "null", raw: null, key: "error_unknown", text: "出现未知错误，请重试。" },
            { tag: "number", raw: 500, key: "", text: "详细信息：500" },
            { tag: "unmapped in the UI's script", raw: "套餐已售罄", key: "", text: "套餐已售罄" }
        ]
    }

    function test_values(data) {
        Translations.currentLanguage = "zh"
        compare(Translations.errorKey(data.raw), data.key)
        compare(Translations.translateError(data.raw), data.text)
    }
}
