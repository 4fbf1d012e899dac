import QtQuick
import QtTest
import appclient
import "scripts.js" as Scripts

// The three dictionaries agree, each script stays in its own characters, lookups fall back, views
// follow a change of language, and failure texts from the panel become messages in the UI's
// language (others are shown as sent).
ViewCase {
    name: "Translations"

    // Texts that are the same in both scripts: every character has one form, and the word is the
    // usual one in Taiwan as on the mainland. "tickets" is given as 客服 in both.
    readonly property var sameInBothScripts: ["announcement", "cancel", "dark_mode", "notice", "reward_redeem_day",
        "store", "tickets", "traffic", "update_required_title", "you"]

    Text {
        id: label

        text: Translations.t("ok")
    }

    function cleanup() {
        Translations.currentLanguage = "en"
    }

    function placeholders(text) {
        return (text.match(/%[0-9]/g) || []).sort().join(" ")
    }

    function test_dictionariesAgree() {
        const en = Translations.en
        for (const other of [Translations.zh, Translations.zhHant]) {
            compare(Object.keys(other).sort(), Object.keys(en).sort())
            for (const key in en) {
                verify(typeof other[key] === "string" && other[key].trim() !== "", key)
                compare(placeholders(other[key]), placeholders(en[key]), key)
            }
        }
    }

    function test_traditionalIsNotSimplified() {
        const zh = Translations.zh
        const zhHant = Translations.zhHant
        const identical = Object.keys(zhHant).filter(key => /[\u3400-\u9fff]/.test(zhHant[key]) && zhHant[key] === zh[key])
        compare(identical.sort().join(" "), sameInBothScripts.join(" "))
        for (const key in zhHant) {
            for (const c of zhHant[key])
                verify(Scripts.simplifiedOnly.indexOf(c) < 0, "zh-Hant " + key + " has the Simplified " + c)
            for (const c of zh[key])
                verify(Scripts.traditionalOnly.indexOf(c) < 0, "zh " + key + " has the Traditional " + c)
        }
    }

    function test_lookup_data() {
        return [
            { tag: "Traditional", language: "zh-Hant", key: "login", text: "登入", chinese: true },
            { tag: "prefix of a language", language: "zh-Hans", key: "login", text: "Sign In", chinese: true },
            { tag: "unknown key", language: "zh", key: "no_such_key", text: "no_such_key", chinese: true },
            { tag: "prototype member", language: "en", key: "constructor", text: "constructor", chinese: false }
        ]
    }

    function test_lookup(data) {
        Translations.currentLanguage = data.language
        compare(Translations.t(data.key), data.text)
        compare(Translations.isChineseLanguage(), data.chinese)
        compare([Translations.isChineseLanguage("zh-TW"), Translations.isChineseLanguage("zhx")], [true, false])
    }

    // Each step of the chain is reached only when the dictionaries before it have no usable text.
    function test_fallBackChain() {
        const savedHant = Translations.zhHant.login
        const savedZh = Translations.zh.login
        Translations.currentLanguage = "zh-Hant"
        try {
            delete Translations.zhHant.login
            compare(Translations.t("login"), "登录")
            Translations.zhHant.login = ""
            compare(Translations.t("login"), "登录")
            Translations.zh.login = ""
            compare(Translations.t("login"), "Sign In")
        } finally {
            Translations.zhHant.login = savedHant
            Translations.zh.login = savedZh
        }
        compare(Translations.t("login"), "登入")
    }

    // Views bind to t(): a change of language must re-translate them without any other signal.
    function test_bindingFollowsLanguage() {
        compare(label.text, "OK")
        Translations.currentLanguage = "zh-Hant"
        compare(label.text, "確定")
    }

    // On the language page the tick moves, and choosing the current language changes nothing.
    function test_languagePage() {
        make("LanguagePage")
        waitForRendering(view) // the rows are made with the first frame
        const checked = code => item("languageCheck", item("languageRow_" + code)).visible
        const changes = spy(Translations, "currentLanguageChanged")
        verify(checked("en") && !checked("zh"))
        mouseClick(item("languageRow_zh-Hant"))
        compare(Translations.currentLanguage, "zh-Hant")
        verify(checked("zh-Hant") && !checked("en"))
        mouseClick(item("languageRow_zh-Hant"))
        compare(changes.count, 1, "the selected language is left alone")
        mouseClick(item("languageRow_zh"))
        compare(Translations.currentLanguage, "zh")
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

    function test_errorTexts_data() {
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

    function test_errorTexts(data) {
        Translations.currentLanguage = "zh"
        compare(Translations.errorKey(data.raw), data.key)
        compare(Translations.translateError(data.raw), data.text)
    }
}
