import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The invite code with its copy button, or the way to sign in for one.
ColumnLayout {
    id: root

    property bool signedIn: false
    property string inviteCode
    property bool copied: false

    signal loginClicked
    signal copyClicked

    spacing: 12

    Label {
        objectName: "rewardInviteTitle"
        Layout.fillWidth: true
        text: Translations.t(root.signedIn ? "my_invite_code" : "please_login")
        color: Theme.textColor
        font.pixelSize: Theme.emphasisFontSize
        font.weight: Theme.emphasisFontWeight
    }

    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 88
        radius: Theme.menuItemRadius
        color: Theme.hoverBackgroundColor

        Label {
            readonly property bool showsCode: root.signedIn && root.inviteCode !== ""

            objectName: "rewardInviteCode"
            anchors.fill: parent
            anchors.margins: 16
            text: !root.signedIn ? Translations.t("reward_login_hint")
                                 : root.inviteCode !== "" ? root.inviteCode : Translations.t("invite_code_missing")
            color: showsCode ? Theme.textColor : Theme.mutedTextColor
            font.pixelSize: showsCode ? 26 : Theme.bodyFontSize
            font.weight: showsCode ? Theme.strongFontWeight : Theme.bodyFontWeight
            font.letterSpacing: showsCode ? 2 : 0
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.Wrap
            elide: Text.ElideRight
        }
    }

    RewardActionButton {
        objectName: "rewardInviteButton"
        Layout.fillWidth: true
        enabled: !root.signedIn || root.inviteCode !== ""
        tone: root.copied ? "success" : "accent"
        text: Translations.t(!root.signedIn ? "login_now" : root.copied ? "copied" : "share_invite_now")
        onClicked: root.signedIn ? root.copyClicked() : root.loginClicked()
    }
}
