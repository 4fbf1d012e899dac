pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts

// The checklist under a new password. The checks are plain functions so that the rules can be
// tested with values the field itself would refuse (longer than its limit).
ColumnLayout {
    id: root

    property string password
    property int minLength: 8
    property int maxLength: 64

    readonly property var results: root.evaluate(root.password)
    readonly property bool allMet: root.results.length && root.results.letter && root.results.number

    function evaluate(text) {
        const value = String(text ?? "");
        return {
            "length": value.length >= root.minLength && value.length <= root.maxLength,
            // ASCII only: accented and CJK letters, and non-Latin digits, do not count.
            "letter": /[A-Za-z]/.test(value),
            "number": /[0-9]/.test(value)
        };
    }

    Layout.fillWidth: true
    Layout.leftMargin: 4
    spacing: 2

    Repeater {
        model: [
            { "rule": "length", "text": Translations.t("password_requirement_length").arg(root.minLength).arg(root.maxLength) },
            { "rule": "letter", "text": Translations.t("password_requirement_letter") },
            { "rule": "number", "text": Translations.t("password_requirement_number") }
        ]

        RowLayout {
            id: row

            required property var modelData
            readonly property bool met: root.results[row.modelData.rule] === true

            objectName: "passwordRule_" + row.modelData.rule
            Layout.fillWidth: true
            spacing: 8

            Text {
                text: row.met ? "✓" : "○"
                color: row.met ? Theme.authAccentTextColor : Theme.authMutedTextColor
                font.pixelSize: 13
                font.weight: Font.Bold
                Layout.preferredWidth: 14
                horizontalAlignment: Text.AlignHCenter
            }

            Text {
                Layout.fillWidth: true
                text: row.modelData.text
                elide: Text.ElideRight
                color: row.met ? Theme.authTextColor : Theme.authMutedTextColor
                font.pixelSize: 13

                Behavior on color {
                    ColorAnimation {
                        duration: 150
                    }
                }
            }
        }
    }
}
