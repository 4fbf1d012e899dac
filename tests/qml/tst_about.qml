import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    AboutDialog {
        id: dialog
    }

    TestCase {
        name: "AboutDialog"
        when: windowShown

        function cleanup() {
            dialog.close();
            tryCompare(dialog, "visible", false);
        }

        function test_openAndClose() {
            dialog.open();
            tryCompare(dialog, "opened", true);
            compare(dialog.width, 360);
            compare(findChild(dialog.contentItem, "aboutName").text, appInfo.name);
            compare(findChild(dialog.contentItem, "aboutVersion").text,
                    Translations.t("version_label") + " " + appInfo.version);
            verify(findChild(dialog.contentItem, "aboutTermsRow").visible);
            verify(findChild(dialog.contentItem, "aboutPrivacyRow").visible);
            mouseClick(findChild(dialog.contentItem, "aboutCloseButton"));
            tryCompare(dialog, "visible", false);
        }

        function test_addresses() {
            compare(dialog.termsUrl, "https://" + appInfo.domain + "/en/docs/terms-of-service");
            compare(dialog.privacyUrl, "https://" + appInfo.domain + "/en/docs/privacy-policy");
        }

        function test_copyright_data() {
            return [
                { tag: "in order", template: "© %1 %2.", name: "qivro", expected: "© 2031 qivro." },
                { tag: "swapped", template: "%2 ©%1", name: "qivro", expected: "qivro ©2031" },
                { tag: "name with placeholder", template: "%2 ©%1", name: "a%1b", expected: "a%1b ©2031" },
                { tag: "name with replace pattern", template: "© %1 %2", name: "Q$&$1", expected: "© 2031 Q$&$1" }
            ];
        }

        function test_copyright(data) {
            compare(dialog.copyrightText(data.template, 2031, data.name), data.expected);
        }

        function test_footerUsesThisYear() {
            const footer = findChild(dialog.contentItem, "aboutCopyright").text;
            verify(footer.indexOf(String(new Date().getFullYear())) >= 0, footer);
            verify(footer.indexOf(appInfo.name) >= 0, footer);
            verify(footer.indexOf("%") < 0, footer);
        }
    }
}
