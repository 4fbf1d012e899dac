import QtQuick
import QtQuick.Controls

// The connection's live traffic on its card: upload and download speed with the session's totals,
// and how long the session has lasted. Reads the `traffic` backend, which streams only while the
// page is on screen.
Rectangle {
    id: root

    // The clock of the session time; it only ticks while shown.
    property double now: Date.now()

    component Figure: Column {
        id: figure

        property url glyph
        property string label
        property string value
        property string detail

        spacing: 2

        Row {
            spacing: 4

            AppIcon {
                anchors.verticalCenter: parent.verticalCenter
                width: 14
                height: 14
                visible: String(figure.glyph) !== ""
                source: figure.glyph
                tint: Theme.mutedTextColor
            }
            Label {
                text: figure.label
                color: Theme.mutedTextColor
                font.pixelSize: Theme.captionFontSize
            }
        }
        Label {
            text: figure.value
            color: Theme.textColor
            font.pixelSize: Theme.emphasisFontSize
            font.weight: Theme.emphasisFontWeight
        }
        Label {
            text: figure.detail
            color: Theme.mutedTextColor
            font.pixelSize: Theme.captionFontSize
        }
    }

    implicitHeight: figures.implicitHeight + 20
    radius: 16
    color: Theme.appBackgroundColor

    Timer {
        interval: 1000
        repeat: true
        // traffic.watching: the page is on screen.
        running: root.visible && traffic.watching && traffic.connectedSince > 0
        triggeredOnStart: true
        onTriggered: root.now = Date.now()
    }

    Row {
        id: figures

        anchors.centerIn: parent
        width: parent.width - 32
        spacing: 0

        Figure {
            objectName: "trafficUpload"
            width: figures.width / 3
            glyph: "qrc:/icons/upload.svg"
            label: Translations.t("upload")
            value: Figures.speedText(traffic.uploadSpeed)
            detail: Figures.bytesText(traffic.sessionUpload)
        }
        Figure {
            objectName: "trafficDownload"
            width: figures.width / 3
            glyph: "qrc:/icons/download.svg"
            label: Translations.t("download")
            value: Figures.speedText(traffic.downloadSpeed)
            detail: Figures.bytesText(traffic.sessionDownload)
        }
        Figure {
            objectName: "trafficSessionTime"
            width: figures.width / 3
            label: Translations.t("session_time")
            value: Figures.durationText(traffic.connectedSince > 0
                                        ? (root.now - traffic.connectedSince) / 1000 : 0)
            detail: Figures.bytesText(traffic.sessionUpload + traffic.sessionDownload)
        }
    }
}
