import QtQuick
import QtTest
import appclient

// Choosing a language on its page: the tick moves, and choosing the current one changes nothing.
ViewCase {
    name: "LanguagePage"

    LanguagePage {
        id: page

        anchors.fill: parent
    }

    function init() {
        resetBackend()
        view = page
    }

    function cleanup() {
        Translations.currentLanguage = "en"
    }

    function checked(code) {
        return item("languageCheck", item("languageRow_" + code)).visible
    }

    function test_choosingALanguage() {
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
}
