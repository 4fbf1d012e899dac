import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// How inviting pays: the rule in words and a worked example of a friend's 100 earning 15 points.
ColumnLayout {
    id: root

    spacing: 12

    Label {
        Layout.fillWidth: true
        text: Translations.t("invite_rewards_title")
        color: Theme.textColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
    }

    Label {
        objectName: "rewardInviteBody"
        Layout.fillWidth: true
        text: Translations.t("invite_rewards_body")
        color: Theme.mutedTextColor
        font.pixelSize: Theme.metaFontSize + 1
        lineHeight: 1.25
        wrapMode: Text.Wrap
    }

    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 84
        radius: Theme.menuItemRadius
        color: Theme.hoverBackgroundColor

        RowLayout {
            anchors.fill: parent
            anchors.margins: 12
            spacing: 8

            Column {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                spacing: 4

                Label {
                    width: parent.width
                    text: Translations.t("invite_rewards_example_friend")
                    color: Theme.mutedTextColor
                    font.pixelSize: Theme.metaFontSize
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                }

                Label {
                    width: parent.width
                    text: "100"
                    color: Theme.textColor
                    font.pixelSize: 24
                    font.weight: Theme.strongFontWeight
                    horizontalAlignment: Text.AlignHCenter
                }
            }

            Label {
                text: "→"
                color: Theme.subtleTextColor
                font.pixelSize: 22
            }

            Column {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                spacing: 4

                Label {
                    width: parent.width
                    text: Translations.t("invite_rewards_example_you")
                    color: Theme.mutedTextColor
                    font.pixelSize: Theme.metaFontSize
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                }

                Label {
                    width: parent.width
                    text: "15"
                    color: Theme.accentColor
                    font.pixelSize: 24
                    font.weight: Theme.strongFontWeight
                    horizontalAlignment: Text.AlignHCenter
                }
            }
        }
    }
}
