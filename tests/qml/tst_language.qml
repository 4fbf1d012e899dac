import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    LanguagePage {
        id: page

        width: 400
        height: 380
    }

    LanguagePage {
        id: mixed

        y: 380
        width: 400
        height: 380
        languages: [
            { "code": "de", "label": "German", "nativeLabel": "Deutsch" },
            { "code": "en", "label": "English", "nativeLabel": "English" }
        ]
    }

    SignalSpy {
        id: languageSpy

        target: Translations
        signalName: "currentLanguageChanged"
    }

    TestCase {
        name: "LanguagePage"
        when: windowShown

        function init() {
            Translations.currentLanguage = "en";
            languageSpy.clear();
        }

        function cleanup() {
            Translations.currentLanguage = "en";
        }

        function row(view, code) {
            const item = findChild(view, "languageRow_" + code);
            verify(item, code);
            return item;
        }

        function checked(view, code) {
            return findChild(row(view, code), "languageCheck").visible;
        }

        function test_choosingALanguage() {
            verify(checked(page, "en"));
            verify(!checked(page, "zh"));
            mouseClick(row(page, "zh-Hant"));
            compare(Translations.currentLanguage, "zh-Hant");
            compare(languageSpy.count, 1);
            verify(checked(page, "zh-Hant"));
            verify(!checked(page, "en"));
            mouseClick(row(page, "zh-Hant"));
            compare(languageSpy.count, 1, "the selected language is left alone");
            mouseClick(row(page, "zh"));
            compare(Translations.currentLanguage, "zh");
        }

        function test_rowLayout() {
            const german = row(mixed, "de");
            const english = row(mixed, "en");
            compare(german.height, 60);
            compare(english.y - german.y, 64);
            verify(findChild(german, "languageLabel").visible, "a differing label gets its own line");
            compare(findChild(german, "languageNativeLabel").text, "Deutsch");
            verify(!findChild(english, "languageLabel").visible, "the same name is shown once");
        }
    }
}
