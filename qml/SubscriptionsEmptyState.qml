import QtQuick
import QtQuick.Controls

// Shown instead of the cards when there is nothing to connect: the power button and one button,
// both leading to the sign-in page or, once signed in, to the store.
Rectangle {
    id: root

    property bool signedIn: false

    // The page decides whether a click counts (not while loading).
    signal activated

    implicitHeight: hero.height + actionButton.height + 24
    radius: 24
    color: Theme.surfaceColor
    border.width: 1
    border.color: Theme.hairlineColor

    Item {
        id: hero

        width: parent.width
        height: 300

        PowerButton {
            id: powerButton

            objectName: "emptyStatePowerButton"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 44
            onClicked: {
                powerButton.pulse()
                root.activated()
            }
        }

        Label {
            objectName: "emptyStateStatus"
            anchors.top: powerButton.bottom
            anchors.topMargin: 24
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.margins: 16
            horizontalAlignment: Text.AlignHCenter
            text: Translations.t(root.signedIn ? "no_purchased_subscription" : "not_logged_in")
            color: Theme.textColor
            font.pixelSize: 20
            font.weight: Theme.strongFontWeight
            elide: Text.ElideRight
        }
    }

    AbstractButton {
        id: actionButton

        objectName: "emptyStateButton"
        anchors.top: hero.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 16
        anchors.topMargin: 0
        implicitHeight: 52
        hoverEnabled: true
        focusPolicy: Qt.TabFocus
        text: Translations.t(root.signedIn ? "purchase_plan" : "sign_in_account")
        Accessible.name: text
        onClicked: root.activated()

        background: Rectangle {
            radius: 16
            color: actionButton.pressed ? Theme.authAccentPressedColor
                                        : (actionButton.hovered ? Theme.authAccentHoverColor
                                                                : Theme.authAccentColor)

            Behavior on color {
                ColorAnimation {
                    duration: 140
                    easing.type: Easing.OutCubic
                }
            }
        }

        contentItem: Item {
            Row {
                anchors.centerIn: parent
                spacing: 8

                AppIcon {
                    width: 20
                    height: 20
                    anchors.verticalCenter: parent.verticalCenter
                    source: root.signedIn ? "qrc:/icons/store.svg" : "qrc:/icons/lock.svg"
                    tint: Theme.authButtonTextColor
                }

                Label {
                    width: Math.min(implicitWidth, actionButton.width - 76)
                    anchors.verticalCenter: parent.verticalCenter
                    text: actionButton.text
                    color: Theme.authButtonTextColor
                    font.pixelSize: Theme.bodyFontSize
                    font.weight: Theme.strongFontWeight
                    elide: Text.ElideRight
                }
            }
        }
    }
}
