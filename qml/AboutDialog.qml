import QtQuick
import QtQuick.Controls

// The program's name, version and legal pages. The main view opens it from the menu's version label.
Popup {
    id: root

    readonly property string appName: typeof appInfo !== "undefined" && appInfo ? String(appInfo.name) : ""
    readonly property string appVersion: typeof appInfo !== "undefined" && appInfo ? String(appInfo.version) : ""
    readonly property string domain: typeof appInfo !== "undefined" && appInfo ? String(appInfo.domain) : ""
    readonly property string termsUrl: "https://" + root.domain + "/en/docs/terms-of-service"
    readonly property string privacyUrl: "https://" + root.domain + "/en/docs/privacy-policy"
    readonly property string copyright: root.copyrightText(Translations.t("copyright_template"),
                                                           new Date().getFullYear(), root.appName)

    // The year goes in first, so a name that holds "%1" stays as it is. Translations may put the
    // two placeholders in either order.
    function copyrightText(template, year, name) {
        const fill = (text, token, value) => {
            const at = text.indexOf(token);
            return at < 0 ? text : text.slice(0, at) + value + text.slice(at + token.length);
        };
        return fill(fill(String(template), "%1", String(year)), "%2", String(name));
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 360
    contentWidth: 360
    contentHeight: body.implicitHeight
    implicitHeight: contentHeight + topPadding + bottomPadding
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    Overlay.modal: Rectangle {
        color: Theme.darkMode ? Qt.rgba(0, 0, 0, 0.56) : Qt.rgba(0.05, 0.09, 0.16, 0.32)
    }

    enter: Transition {
        NumberAnimation {
            property: "opacity"
            from: 0
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            property: "scale"
            from: 0.96
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
    }
    exit: Transition {
        NumberAnimation {
            property: "opacity"
            to: 0
            duration: 120
            easing.type: Easing.OutCubic
        }
    }

    background: Rectangle {
        radius: 20
        color: Theme.elevatedSurfaceColor
        border.width: 1
        border.color: Theme.hairlineColor
    }

    Item {
        id: body

        anchors.fill: parent
        implicitHeight: content.implicitHeight + 40 + 24

        AbstractButton {
            id: closeButton

            objectName: "aboutCloseButton"
            x: 10
            y: 10
            width: 36
            height: 36
            hoverEnabled: true
            focusPolicy: Qt.TabFocus
            onClicked: root.close()

            background: Rectangle {
                radius: 18
                color: closeButton.hovered || closeButton.pressed || closeButton.visualFocus
                       ? Theme.hoverBackgroundColor : Theme.hoverBackgroundTransparentColor
            }
            contentItem: Item {
                AppIcon {
                    anchors.centerIn: parent
                    width: 18
                    height: 18
                    source: "qrc:/icons/close.svg"
                    tint: Theme.mutedTextColor
                }
            }
        }

        Column {
            id: content

            y: 40
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 24
            anchors.rightMargin: 24
            spacing: 18

            // The shield of the word mark, cut out square so it reads as the app's badge.
            Image {
                objectName: "aboutLogo"
                anchors.horizontalCenter: parent.horizontalCenter
                width: 64
                height: 64
                source: "qrc:/branding/logo.svg"
                sourceSize.width: 740
                sourceSize.height: 239
                sourceClipRect: Qt.rect(9, 20, 200, 200)
                fillMode: Image.PreserveAspectFit
                smooth: true
                mipmap: true
            }

            Label {
                objectName: "aboutName"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: root.appName
                elide: Text.ElideRight
                color: Theme.textColor
                font.pixelSize: 20
                font.weight: Theme.emphasisFontWeight
            }

            Label {
                objectName: "aboutVersion"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: Translations.t("version_label") + " " + root.appVersion
                elide: Text.ElideRight
                color: Theme.mutedTextColor
                font.pixelSize: 14
            }

            Rectangle {
                width: parent.width
                height: links.implicitHeight + 2
                radius: 12
                color: "transparent"
                border.width: 1
                border.color: Theme.hairlineColor

                Column {
                    id: links

                    x: 1
                    y: 1
                    width: parent.width - 2

                    AboutLinkRow {
                        objectName: "aboutTermsRow"
                        width: parent.width
                        text: Translations.t("view_terms")
                        onClicked: Browser.open(root.termsUrl)
                    }

                    Rectangle {
                        x: 14
                        width: parent.width - 14
                        height: 1
                        color: Theme.hairlineColor
                    }

                    AboutLinkRow {
                        objectName: "aboutPrivacyRow"
                        width: parent.width
                        text: Translations.t("view_privacy")
                        onClicked: Browser.open(root.privacyUrl)
                    }

                    Rectangle {
                        x: 14
                        width: parent.width - 14
                        height: 1
                        color: Theme.hairlineColor
                    }

                    AboutLinkRow {
                        id: diagnosticsRow

                        property bool copied: false

                        objectName: "aboutDiagnosticsRow"
                        width: parent.width
                        text: Translations.t(diagnosticsRow.copied ? "diagnostics_copied"
                                                                   : "copy_diagnostics")
                        onClicked: {
                            diagnostics.copyToClipboard()
                            diagnosticsRow.copied = true
                        }

                        Connections {
                            target: root

                            function onClosed() {
                                diagnosticsRow.copied = false
                            }
                        }
                    }
                }
            }

            Label {
                objectName: "aboutCopyright"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: root.copyright
                wrapMode: Text.Wrap
                color: Theme.mutedTextColor
                font.pixelSize: 12
            }
        }
    }
}
