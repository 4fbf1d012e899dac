import QtQuick
import QtQuick.Controls

// The UI language. The main view's header names the page, so the list is all there is.
Item {
    id: root

    property bool active: false
    property var languages: Translations.supportedLanguages

    ListView {
        id: list

        objectName: "languageList"
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        topMargin: 12
        bottomMargin: 8
        spacing: 4
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: root.languages

        ScrollIndicator.vertical: ScrollIndicator {}

        delegate: LanguageRow {
            required property var modelData

            objectName: "languageRow_" + modelData.code
            width: ListView.view.width
            nativeLabel: modelData.nativeLabel || ""
            label: modelData.label || ""
            selected: Translations.currentLanguage === modelData.code
            onClicked: {
                if (!selected)
                    Translations.currentLanguage = modelData.code;
            }
        }
    }
}
