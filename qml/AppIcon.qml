import QtQuick
import Qt5Compat.GraphicalEffects

// A monochrome SVG recoloured to one tint, so a single black file serves both appearances.
Item {
    id: root

    property url source
    property color tint: Theme.iconColor

    implicitWidth: 22
    implicitHeight: 22

    Image {
        id: image

        anchors.fill: parent
        source: root.source
        // Rendered at twice the shown size so the edges stay sharp after scaling and recolouring.
        sourceSize.width: Math.max(1, root.width * 2)
        sourceSize.height: Math.max(1, root.height * 2)
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        visible: false
    }

    ColorOverlay {
        anchors.fill: image
        source: image
        color: root.tint
        cached: false
    }
}
