import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The user's points, the one plan time they can buy and the button that redeems it.
ColumnLayout {
    id: root

    property bool signedIn: false
    property string pointsText
    property string optionLabel
    property string optionCost
    property bool redeemEnabled: false
    property string redeemText
    property bool refused: false

    signal redeemClicked

    spacing: 12

    Label {
        Layout.fillWidth: true
        text: Translations.t("reward_points")
        color: Theme.textColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
    }

    Label {
        objectName: "rewardPoints"
        Layout.fillWidth: true
        text: root.signedIn ? root.pointsText : Translations.t("reward_points_login_hint")
        color: root.signedIn ? Theme.textColor : Theme.mutedTextColor
        font.pixelSize: root.signedIn ? 26 : Theme.bodyFontSize
        font.weight: root.signedIn ? Theme.strongFontWeight : Theme.bodyFontWeight
        wrapMode: Text.Wrap
    }

    // The only option, so always drawn as chosen.
    Rectangle {
        objectName: "rewardOptionRow"
        Layout.fillWidth: true
        Layout.preferredHeight: 56
        radius: Theme.menuItemRadius
        color: Theme.activeBackgroundColor
        border.width: 1
        border.color: Theme.accentColor

        AppIcon {
            id: check

            x: 16
            anchors.verticalCenter: parent.verticalCenter
            width: 18
            height: 18
            source: "qrc:/icons/check.svg"
            tint: Theme.accentColor
        }

        Label {
            objectName: "rewardOptionLabel"
            anchors.left: check.right
            anchors.leftMargin: 12
            anchors.right: cost.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: root.optionLabel
            color: Theme.accentColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: Theme.emphasisFontWeight
            elide: Text.ElideRight
        }

        Label {
            id: cost

            objectName: "rewardOptionCost"
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            text: root.optionCost
            color: Theme.accentColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: Theme.strongFontWeight
        }
    }

    RewardActionButton {
        objectName: "rewardRedeemButton"
        Layout.fillWidth: true
        enabled: root.redeemEnabled
        tone: root.refused ? "danger" : "accent"
        text: root.redeemText
        onClicked: root.redeemClicked()
    }
}
