import QtQuick
import QtQuick.Controls

// Asks for the administrator password on platforms where TUN mode needs one. The page runs the
// request; this only collects the password and shows a refusal.
Popup {
    id: root

    signal submitted(string password)
    signal cancelled

    function openDialog() {
        passwordField.text = ""
        errorLabel.text = ""
        open()
        passwordField.forceActiveFocus()
    }

    function showFailure() {
        errorLabel.text = Translations.t("auth_failed")
        passwordField.text = ""
        passwordField.forceActiveFocus()
    }

    function submit() {
        if (passwordField.text.length > 0)
            root.submitted(passwordField.text)
    }

    objectName: "privilegeDialog"
    parent: Overlay.overlay
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    width: parent ? Math.min(parent.width - 48, 340) : 320
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    padding: 24
    onOpened: passwordField.forceActiveFocus()

    enter: Transition {
        NumberAnimation {
            property: "opacity"
            from: 0
            to: 1
            duration: 160
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            property: "scale"
            from: 0.94
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    background: Rectangle {
        radius: 20
        color: Theme.elevatedSurfaceColor
        border.width: 1
        border.color: Theme.hairlineColor
    }

    Column {
        width: parent.width
        spacing: 16

        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 48
            height: 48
            radius: 24
            color: Qt.rgba(Theme.accentColor.r, Theme.accentColor.g, Theme.accentColor.b, 0.14)

            AppIcon {
                anchors.centerIn: parent
                source: "qrc:/icons/lock.svg"
                tint: Theme.accentColor
            }
        }

        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: Translations.t("admin_privileges_required")
            color: Theme.textColor
            font.pixelSize: Theme.emphasisFontSize + 1
            font.weight: Theme.strongFontWeight
            wrapMode: Text.Wrap
        }

        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: Translations.t("privilege_explanation")
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize + 1
            lineHeight: 1.2
            wrapMode: Text.Wrap
        }

        TextField {
            id: passwordField

            objectName: "privilegePasswordField"
            width: parent.width
            height: 48
            leftPadding: 14
            rightPadding: 14
            echoMode: TextInput.Password
            placeholderText: Translations.t("enter_password")
            placeholderTextColor: Theme.authPlaceholderColor
            color: Theme.authTextColor
            font.pixelSize: Theme.bodyFontSize
            onAccepted: root.submit()
            Keys.onEscapePressed: root.cancelled()

            background: Rectangle {
                radius: 12
                color: Theme.authFieldFillColor
                border.width: passwordField.activeFocus ? 2 : 1
                border.color: errorLabel.text !== "" ? Theme.authErrorBorderColor
                                                     : (passwordField.activeFocus
                                                        ? Theme.authAccentColor
                                                        : Theme.authFieldBorderColor)
            }
        }

        Label {
            id: errorLabel

            objectName: "privilegeErrorText"
            width: parent.width
            visible: text !== ""
            color: Theme.authErrorTextColor
            font.pixelSize: Theme.metaFontSize
            wrapMode: Text.Wrap
        }

        Row {
            width: parent.width
            spacing: 12

            DialogButton {
                objectName: "privilegeCancelButton"
                width: (parent.width - parent.spacing) / 2
                text: Translations.t("cancel")
                onClicked: root.cancelled()
            }

            DialogButton {
                objectName: "privilegeSubmitButton"
                width: (parent.width - parent.spacing) / 2
                primary: true
                enabled: passwordField.text.length > 0
                text: Translations.t("submit")
                onClicked: root.submit()
            }
        }
    }

    component DialogButton: AbstractButton {
        id: button

        property bool primary: false

        implicitHeight: 44
        hoverEnabled: true
        Accessible.name: text

        background: Rectangle {
            radius: 12
            color: !button.primary ? (button.pressed ? Theme.activeBackgroundColor
                                                     : (button.hovered ? Theme.hoverBackgroundColor
                                                                       : Theme.appBackgroundColor))
                                   : (!button.enabled ? Theme.authButtonDisabledColor
                                                      : button.pressed ? Theme.authAccentPressedColor
                                                                       : button.hovered ? Theme.authAccentHoverColor
                                                                                        : Theme.authAccentColor)
        }

        contentItem: Label {
            text: button.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            color: button.primary ? Theme.authButtonTextColor : Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            font.weight: Theme.emphasisFontWeight
            elide: Text.ElideRight
        }
    }
}
