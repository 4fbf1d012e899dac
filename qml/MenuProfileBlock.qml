import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Who is signed in and until when their plan runs; signed out, the block is an invitation to sign
// in and the whole of it is the target.
AbstractButton {
    id: root

    property bool signedIn: false
    property string email: ""
    property string detail: ""

    readonly property string initial: email.length > 0 ? email.charAt(0).toUpperCase() : ""

    enabled: !signedIn
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    padding: 14
    implicitWidth: 280
    implicitHeight: Math.max(44, implicitContentHeight) + topPadding + bottomPadding

    background: Rectangle {
        radius: Theme.menuItemRadius
        color: (root.hovered || root.pressed || root.visualFocus) && root.enabled
               ? Theme.activeBackgroundColor
               : (Theme.darkMode ? Theme.surfaceColor : Theme.appBackgroundColor)

        Behavior on color {
            ColorAnimation {
                duration: 140
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: RowLayout {
        spacing: 12

        Rectangle {
            Layout.preferredWidth: 44
            Layout.preferredHeight: 44
            Layout.alignment: Qt.AlignVCenter
            radius: 22
            color: root.signedIn ? Theme.accentColor : Theme.activeBackgroundColor

            Label {
                anchors.centerIn: parent
                visible: root.signedIn
                text: root.initial
                color: Theme.contentBackgroundColor
                font.pixelSize: 18
                font.weight: Theme.strongFontWeight
            }

            AppIcon {
                anchors.centerIn: parent
                visible: !root.signedIn
                width: 20
                height: 20
                source: "qrc:/icons/lock.svg"
                tint: Theme.accentColor
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
            spacing: 4

            Label {
                objectName: "menuProfileTitle"
                Layout.fillWidth: true
                text: root.signedIn ? root.email : Translations.t("please_login")
                elide: Text.ElideMiddle
                color: Theme.textColor
                font.pixelSize: Theme.emphasisFontSize
                font.weight: Theme.emphasisFontWeight
            }

            Label {
                objectName: "menuProfileDetail"
                Layout.fillWidth: true
                text: root.signedIn ? root.detail : Translations.t("click_to_login")
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                color: root.signedIn ? Theme.mutedTextColor : Theme.accentColor
                font.pixelSize: Theme.metaFontSize
            }
        }

        AppIcon {
            visible: !root.signedIn
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            source: "qrc:/icons/chevron-right.svg"
            tint: Theme.mutedTextColor
        }
    }
}
