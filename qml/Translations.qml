pragma Singleton
import QtQml
import Qt.labs.settings
import "i18n/en.js" as En
import "i18n/zh.js" as Zh
import "i18n/zh-Hant.js" as ZhHant
import "i18n/errorphrases.js" as ErrorPhrases

// Every visible text of the UI, looked up by key in the chosen language, and the mapping of raw
// server and network failures to translated messages.
QtObject {
    id: root

    // Written at once (not through the delayed alias write of Settings): the store backend reads
    // the same setting to localise payment method names.
    property string currentLanguage: String(root.settings.value("language", "en"))
    onCurrentLanguageChanged: root.settings.setValue("language", root.currentLanguage)

    readonly property var supportedLanguages: [
        { code: "en", badge: "EN", label: "English", nativeLabel: "English" },
        { code: "zh", badge: "简中", label: "简体中文", nativeLabel: "简体中文" },
        { code: "zh-Hant", badge: "繁中", label: "繁體中文", nativeLabel: "繁體中文" }
    ]

    readonly property var en: En.texts
    readonly property var zh: Zh.texts
    readonly property var zhHant: ZhHant.texts
    readonly property var errorPhrases: ErrorPhrases.phrases

    readonly property Settings settings: Settings {
        category: "Language"
    }

    // Traditional falls back to Simplified before English: a missing Traditional text is far
    // better read in Simplified characters than in English.
    function t(key) {
        let chain;
        if (root.currentLanguage === "zh")
            chain = [root.zh, root.en];
        else if (root.currentLanguage === "zh-Hant")
            chain = [root.zhHant, root.zh, root.en];
        else
            chain = [root.en];
        for (let i = 0; i < chain.length; ++i) {
            // Own properties only, so keys such as "constructor" never reach Object.prototype.
            const dictionary = chain[i];
            if (!dictionary || !Object.prototype.hasOwnProperty.call(dictionary, key))
                continue;
            const text = dictionary[key];
            if (typeof text === "string" && text.length > 0)
                return text;
        }
        return key;
    }

    function isChineseLanguage(code) {
        const language = (code === undefined || code === null) ? root.currentLanguage : String(code);
        return language === "zh" || language.startsWith("zh-");
    }

    function errorKey(raw) {
        if (raw === undefined || raw === null || raw === "")
            return "error_unknown";
        const phrase = String(raw).trim().toLowerCase();
        return Object.prototype.hasOwnProperty.call(root.errorPhrases, phrase)
            ? root.errorPhrases[phrase] : "";
    }

    // A text no phrase covers is shown in its own words; written in another language than the
    // UI's (English in a Chinese window, Chinese in an English one) it follows a lead-in in the UI's
    // language, so it does not read as a broken translation.
    function translateError(raw) {
        const key = root.errorKey(raw);
        if (key !== "")
            return root.t(key);
        const text = String(raw);
        const writtenInChinese = /[\u3400-\u9fff]/.test(text);
        return writtenInChinese === root.isChineseLanguage() ? text
                                                            : root.t("error_server_said").arg(text);
    }
}
