import QtQuick
import QtTest
import appclient

// The about dialog: name, version, the documents' addresses and a copyright line built safely.
ViewCase {
    name: "AboutDialog"

    AboutDialog {
        id: dialog
    }

    function test_openAndClose() {
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(item("aboutVersion", dialog.contentItem).text, Translations.t("version_label") + " " + appInfo.version)
        const footer = item("aboutCopyright", dialog.contentItem).text
        verify(footer.indexOf(String(new Date().getFullYear())) >= 0 && footer.indexOf("%") < 0, footer)
        compare(dialog.termsUrl, "https://" + appInfo.domain + "/en/docs/terms-of-service")
        mouseClick(item("aboutCloseButton", dialog.contentItem))
        tryCompare(dialog, "visible", false)
    }

    function test_copyright_data() {
        return [
            { tag: "swapped", template: "%2 ©%1", name: "qivro", expected: "qivro ©2031" },
            { tag: "name with placeholder", template: "%2 ©%1", name: "a%1b", expected: "a%1b ©2031" },
            { tag: "name with replace pattern", template: "© %1 %2", name: "Q$&$1", expected: "© 2031 Q$&$1" }
        ]
    }

    function test_copyright(data) {
        compare(dialog.copyrightText(data.template, 2031, data.name), data.expected)
    }
}
