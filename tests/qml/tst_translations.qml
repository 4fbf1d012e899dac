import QtQuick
import QtTest
import appclient
import "scripts.js" as Scripts

TestCase {
    id: testCase

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
        Translations.currentLanguage = "en";
    }

    function placeholders(text) {
        return (text.match(/%[0-9]/g) || []).sort().join(" ");
    }

    function test_dictionariesAgree() {
        const en = Translations.en;
        const keys = Object.keys(en);
        compare(keys.length, 268);
        const others = { "zh": Translations.zh, "zh-Hant": Translations.zhHant };
        for (const language in others) {
            const other = others[language];
            compare(keys.filter(key => !(key in other)).join(" "), "", language + " lacks keys");
            compare(Object.keys(other).filter(key => !(key in en)).join(" "), "", language + " has extra keys");
            for (const key of keys) {
                verify(typeof other[key] === "string" && other[key].trim() !== "", language + " " + key);
                compare(placeholders(other[key]), placeholders(en[key]), language + " " + key);
            }
        }
    }

    function test_traditionalIsNotSimplified() {
        const zh = Translations.zh;
        const zhHant = Translations.zhHant;
        const identical = Object.keys(zhHant).filter(key => /[\u3400-\u9fff]/.test(zhHant[key]) && zhHant[key] === zh[key]);
        compare(identical.sort().join(" "), sameInBothScripts.join(" "));
        for (const key in zhHant) {
            for (const c of zhHant[key])
                verify(Scripts.simplifiedOnly.indexOf(c) < 0, "zh-Hant " + key + " has the Simplified " + c);
            for (const c of zh[key])
                verify(Scripts.traditionalOnly.indexOf(c) < 0, "zh " + key + " has the Traditional " + c);
        }
    }

    function test_lookup_data() {
        return [
            { tag: "English", language: "en", key: "login", text: "Sign In" },
            { tag: "Simplified", language: "zh", key: "login", text: "登录" },
            { tag: "Traditional", language: "zh-Hant", key: "login", text: "登入" },
            { tag: "unknown language", language: "fr", key: "login", text: "Sign In" },
            { tag: "prefix of a language", language: "zh-Hans", key: "login", text: "Sign In" },
            { tag: "unknown key", language: "zh-Hant", key: "no_such_key", text: "no_such_key" },
            { tag: "prototype member", language: "zh", key: "constructor", text: "constructor" },
            { tag: "prototype function", language: "en", key: "toString", text: "toString" },
        ];
    }

    function test_lookup(data) {
        Translations.currentLanguage = data.language;
        compare(Translations.t(data.key), data.text);
    }

    // Each step of the chain is reached only when the dictionaries before it have no usable text.
    function test_fallBackChain() {
        const zhHant = Translations.zhHant;
        const zh = Translations.zh;
        const savedHant = zhHant.login;
        const savedZh = zh.login;
        Translations.currentLanguage = "zh-Hant";
        try {
            delete zhHant.login;
            compare(Translations.t("login"), "登录");
            zhHant.login = "";
            compare(Translations.t("login"), "登录");
            zh.login = "";
            compare(Translations.t("login"), "Sign In");
            Translations.currentLanguage = "zh";
            compare(Translations.t("login"), "Sign In");
        } finally {
            zhHant.login = savedHant;
            zh.login = savedZh;
        }
        Translations.currentLanguage = "zh-Hant";
        compare(Translations.t("login"), "登入");
    }

    function test_isChineseLanguage_data() {
        return [
            { tag: "zh", code: "zh", current: "en", chinese: true },
            { tag: "zh-Hant", code: "zh-Hant", current: "en", chinese: true },
            { tag: "zh-TW", code: "zh-TW", current: "en", chinese: true },
            { tag: "en", code: "en", current: "zh", chinese: false },
            { tag: "zhx", code: "zhx", current: "zh", chinese: false },
            { tag: "empty", code: "", current: "zh", chinese: false },
            { tag: "current Traditional", code: undefined, current: "zh-Hant", chinese: true },
            { tag: "current English", code: undefined, current: "en", chinese: false },
        ];
    }

    function test_isChineseLanguage(data) {
        Translations.currentLanguage = data.current;
        compare(data.code === undefined ? Translations.isChineseLanguage() : Translations.isChineseLanguage(data.code),
            data.chinese);
    }

    function test_supportedLanguages() {
        compare(Translations.supportedLanguages.map(entry => [entry.code, entry.badge, entry.label, entry.nativeLabel].join("|")),
            ["en|EN|English|English", "zh|简中|简体中文|简体中文", "zh-Hant|繁中|繁體中文|繁體中文"]);
    }

    // Views bind to t(): a change of language must re-translate them without any other signal.
    function test_bindingFollowsLanguage() {
        compare(label.text, "OK");
        Translations.currentLanguage = "zh-Hant";
        compare(label.text, "確定");
        Translations.currentLanguage = "zh";
        compare(label.text, "确定");
    }
}
