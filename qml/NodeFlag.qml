import QtQuick

// A country flag in a thin hairline frame, or a globe when the cluster has no flag or its file
// cannot be read (a two-letter cluster may name a flag that was never shipped).
Item {
    id: root

    property string source
    // Source pixels to decode at; the flags are drawn smaller than this so they stay crisp.
    property int sourceWidth: 96
    property int sourceHeight: 72
    readonly property bool showsFlag: source !== "" && flag.status === Image.Ready

    objectName: "nodeFlag"
    implicitWidth: 28
    implicitHeight: 21

    Image {
        id: flag

        anchors.fill: parent
        source: root.source
        sourceSize.width: root.sourceWidth
        sourceSize.height: root.sourceHeight
        fillMode: Image.PreserveAspectCrop
        smooth: true
        mipmap: true
        asynchronous: false
        visible: root.showsFlag
    }

    // Drawn over the picture so white flags keep an edge on a white card.
    Rectangle {
        anchors.fill: parent
        visible: root.showsFlag
        color: "transparent"
        radius: 2
        border.width: 1
        border.color: Theme.hairlineColor
    }

    AppIcon {
        anchors.centerIn: parent
        width: 22
        height: 22
        visible: !root.showsFlag
        source: "qrc:/icons/globe.svg"
        tint: Theme.accentColor
    }
}
