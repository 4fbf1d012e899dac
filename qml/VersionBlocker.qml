import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Covers the whole window when this build is too old. Nothing behind it can be reached: the only
// ways on are downloading a newer build and quitting.
Item {
    id: root

    property bool active: false
    property string currentVersion
    property string minimumVersion
    property url downloadUrl

    signal exitRequested

    anchors.fill: parent
    visible: active
    // Above the start-up overlay (z 1000) and everything else of the window.
    z: 2000

    Rectangle {
        anchors.fill: parent
        color: Theme.appBackgroundColor
    }

    // Swallows every press, hover and wheel so nothing underneath reacts.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        preventStealing: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    Rectangle {
        objectName: "versionBlockerCard"
        anchors.centerIn: parent
        width: Math.min(parent.width - 40, 360)
        height: column.implicitHeight + 56
        radius: 20
        color: Theme.surfaceColor
        border.width: 1
        border.color: Theme.hairlineColor

        ColumnLayout {
            id: column

            anchors.fill: parent
            anchors.margins: 28
            spacing: 16

            Image {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 112
                Layout.preferredHeight: Math.round(112 * 598 / 1851)
                Layout.bottomMargin: 4
                source: "qrc:/branding/logo.svg"
                sourceSize.width: 224
                fillMode: Image.PreserveAspectFit
                opacity: Theme.darkMode ? 0.96 : 0.9
            }

            Label {
                objectName: "versionBlockerTitle"
                Layout.fillWidth: true
                text: Translations.t("update_required_title")
                color: Theme.textColor
                font.pixelSize: 20
                font.weight: Theme.strongFontWeight
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Label {
                Layout.fillWidth: true
                text: Translations.t("update_required_message")
                color: Theme.mutedTextColor
                font.pixelSize: Theme.bodyFontSize
                lineHeight: 1.15
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: versions.implicitHeight + 24
                radius: 12
                color: Theme.hoverBackgroundColor

                Label {
                    id: versions

                    objectName: "versionBlockerVersions"
                    anchors.fill: parent
                    anchors.margins: 12
                    text: Translations.t("current_version_label") + ": " + root.currentVersion + "\n"
                          + Translations.t("minimum_version_label") + ": " + root.minimumVersion
                    color: Theme.textColor
                    font.pixelSize: Theme.metaFontSize + 1
                    lineHeight: 1.3
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    wrapMode: Text.Wrap
                }
            }

            MainButton {
                objectName: "versionBlockerDownloadButton"
                Layout.fillWidth: true
                Layout.topMargin: 4
                text: Translations.t("update_download_link")
                onClicked: Browser.open(root.downloadUrl)
            }

            MainButton {
                objectName: "versionBlockerOkButton"
                Layout.fillWidth: true
                primary: false
                text: Translations.t("ok")
                onClicked: root.exitRequested()
            }
        }
    }
}
