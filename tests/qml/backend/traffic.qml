import QtQml

// Stand-in for the live traffic monitor; tests set the figures.
Recorder {
    property real uploadSpeed: 0
    property real downloadSpeed: 0
    property real sessionUpload: 0
    property real sessionDownload: 0
    property real connectedSince: 0
    property bool watching: false
    property bool streaming: false

    signal trafficChanged()

    onUploadSpeedChanged: trafficChanged()
    onDownloadSpeedChanged: trafficChanged()
    onSessionUploadChanged: trafficChanged()
    onSessionDownloadChanged: trafficChanged()
}
