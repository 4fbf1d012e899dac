pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The side menu that the main view slides over its content. It only reports what the user chose;
// the main view decides what happens (and whether the menu closes).
Item {
    id: root

    property bool isLoggedIn: false
    property string userEmail: ""
    property int currentSection: 0
    property bool lanSharingOn: false

    // The panel subscription that runs longest; empty when the user holds none.
    property var currentSubscription: ({})

    readonly property bool isMobile: Qt.platform.os === "android" || Qt.platform.os === "ios"
    readonly property string profileDetail: root.expiryLine(root.currentSubscription)

    readonly property var sections: [
        { "icon": "qrc:/icons/connect.svg", "key": "connect", "needsLogin": false },
        { "icon": "qrc:/icons/store.svg", "key": "store", "needsLogin": true },
        { "icon": "qrc:/icons/ticket.svg", "key": "tickets", "needsLogin": true },
        { "icon": "qrc:/icons/reward.svg", "key": "rewards", "needsLogin": false },
        { "icon": "qrc:/icons/language.svg", "key": "language", "needsLogin": false },
        { "icon": "qrc:/icons/announcement.svg", "key": "announcement", "needsLogin": true }
    ]
    readonly property int languageSection: 4

    signal sectionSelected(int index)
    signal themeToggleRequested
    signal loginRequested
    signal logoutRequested
    signal closeRequested
    signal aboutRequested
    signal lanSharingRequested

    function expireTimeOf(subscription) {
        const value = Number(subscription ? subscription.expire_time : 0);
        return isFinite(value) ? value : 0;
    }

    // The list order decides ties, so the first of two equal plans stays shown.
    function latestSubscription() {
        if (typeof subscribeHandler === "undefined" || !subscribeHandler)
            return {};
        let latest = null;
        for (let i = 0; i < subscribeHandler.subscriptionCount; ++i) {
            const subscription = subscribeHandler.getSubscription(i);
            if (latest === null || root.expireTimeOf(subscription) > root.expireTimeOf(latest))
                latest = subscription;
        }
        return latest === null ? {} : latest;
    }

    // Expiry reads in UTC+8 on every machine: shift the instant by eight hours and read it with
    // the UTC getters, never the local ones.
    function formatUtc8(milliseconds) {
        const shifted = new Date(Number(milliseconds) + 8 * 3600 * 1000);
        if (isNaN(shifted.getTime()))
            return "";
        const pad = value => (value < 10 ? "0" : "") + value;
        return shifted.getUTCFullYear() + "-" + pad(shifted.getUTCMonth() + 1) + "-"
            + pad(shifted.getUTCDate()) + " " + pad(shifted.getUTCHours()) + ":"
            + pad(shifted.getUTCMinutes()) + " UTC+8";
    }

    function expiryText(milliseconds) {
        const value = Number(milliseconds);
        const text = value > 0 ? root.formatUtc8(value) : "";
        return text !== "" ? text : Translations.t("no_subscription_info");
    }

    function expiryLine(subscription) {
        if (!subscription || Object.keys(subscription).length === 0)
            return Translations.t("no_valid_subscription");
        return Translations.t("valid_until") + " " + root.expiryText(root.expireTimeOf(subscription));
    }

    function refreshCurrentSubscription() {
        root.currentSubscription = root.latestSubscription();
    }

    Component.onCompleted: root.refreshCurrentSubscription()

    Connections {
        target: typeof subscribeHandler !== "undefined" ? subscribeHandler : null
        ignoreUnknownSignals: true

        function onSubscriptionsChanged() {
            root.refreshCurrentSubscription();
        }
    }

    Keys.onEscapePressed: root.closeRequested()

    Rectangle {
        anchors.fill: parent
        color: Theme.contentBackgroundColor
    }

    // Nothing under the open menu may react to the pointer.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    Flickable {
        id: flickable

        anchors.fill: parent
        contentWidth: width
        contentHeight: Math.max(height, column.implicitHeight + column.anchors.topMargin
                                + column.anchors.bottomMargin)
        interactive: contentHeight > height
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        ScrollIndicator.vertical: ScrollIndicator {}

        ColumnLayout {
            id: column

            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            anchors.topMargin: 8
            anchors.bottomMargin: 16
            spacing: 0

            RowLayout {
                Layout.fillWidth: true
                Layout.preferredHeight: 56
                spacing: 0

                AbstractButton {
                    id: closeButton

                    objectName: "menuCloseButton"
                    Layout.preferredWidth: 40
                    Layout.preferredHeight: 40
                    hoverEnabled: true
                    focusPolicy: Qt.TabFocus
                    onClicked: root.closeRequested()

                    background: Rectangle {
                        radius: 20
                        color: closeButton.hovered || closeButton.pressed || closeButton.visualFocus
                               ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor

                        Behavior on color {
                            ColorAnimation {
                                duration: 140
                                easing.type: Easing.OutCubic
                            }
                        }
                    }
                    contentItem: Item {
                        AppIcon {
                            anchors.centerIn: parent
                            source: "qrc:/icons/close.svg"
                        }
                    }
                }

                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true

                    Image {
                        objectName: "menuLogo"
                        anchors.centerIn: parent
                        width: root.isMobile ? 108 : 124
                        height: Math.round(width * 598 / 1851)
                        source: "qrc:/branding/logo.svg"
                        sourceSize.width: width * 2
                        sourceSize.height: height * 2
                        fillMode: Image.PreserveAspectFit
                        smooth: true
                        opacity: Theme.darkMode ? 0.96 : 0.9
                    }
                }

                // Balances the close button so the logo sits in the middle of the menu.
                DesktopSettingsButton {
                    Layout.preferredWidth: 40
                    Layout.preferredHeight: 40
                    enabled: !root.isMobile
                    opacity: root.isMobile ? 0 : 1
                }
            }

            MenuProfileBlock {
                objectName: "menuProfileBlock"
                Layout.fillWidth: true
                Layout.topMargin: 8
                signedIn: root.isLoggedIn
                email: root.userEmail
                detail: root.profileDetail
                onClicked: {
                    root.loginRequested();
                    root.closeRequested();
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.topMargin: 16
                Layout.bottomMargin: 12
                Layout.preferredHeight: 1
                color: Theme.dividerColor
            }

            Repeater {
                model: root.sections

                MenuRow {
                    required property var modelData
                    required property int index

                    objectName: "menuItem" + index
                    Layout.fillWidth: true
                    Layout.bottomMargin: 4
                    iconSource: modelData.icon
                    text: Translations.t(modelData.key)
                    enabled: !modelData.needsLogin || root.isLoggedIn
                    current: root.currentSection === index
                    accentIconWhenCurrent: index !== root.languageSection
                    onClicked: {
                        root.sectionSelected(index);
                        root.closeRequested();
                    }
                }
            }

            MenuRow {
                objectName: "menuThemeSwitch"
                Layout.fillWidth: true
                iconSource: Theme.darkMode ? "qrc:/icons/moon.svg" : "qrc:/icons/sun.svg"
                text: Translations.t("appearance")
                showSwitch: true
                switchOn: Theme.darkMode
                onClicked: root.themeToggleRequested()
            }

            MenuRow {
                objectName: "menuLanSharingItem"
                Layout.fillWidth: true
                Layout.topMargin: 4
                iconSource: "qrc:/icons/network.svg"
                text: Translations.t("lan_sharing")
                showSwitch: true
                switchOn: root.lanSharingOn
                onClicked: root.lanSharingRequested()
            }

            Item {
                Layout.fillHeight: true
                Layout.minimumHeight: 16
            }

            MenuRow {
                objectName: "menuLogoutItem"
                Layout.fillWidth: true
                iconSource: "qrc:/icons/logout.svg"
                text: root.isLoggedIn ? Translations.t("logout") : Translations.t("click_to_login")
                onClicked: {
                    if (root.isLoggedIn)
                        root.logoutRequested();
                    else
                        root.loginRequested();
                    root.closeRequested();
                }
            }

            AbstractButton {
                id: versionLabel

                objectName: "menuVersionLabel"
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 12
                padding: 4
                hoverEnabled: true
                focusPolicy: Qt.TabFocus
                text: "v" + (typeof appInfo !== "undefined" && appInfo ? appInfo.version : "")
                onClicked: root.aboutRequested()

                contentItem: Label {
                    text: versionLabel.text
                    color: versionLabel.hovered || versionLabel.visualFocus ? Theme.accentColor
                                                                            : Theme.mutedTextColor
                    font.pixelSize: Theme.captionFontSize

                    Behavior on color {
                        ColorAnimation {
                            duration: 140
                            easing.type: Easing.OutCubic
                        }
                    }
                }
                background: Item {}
            }
        }
    }
}
