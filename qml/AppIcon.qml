import QtQuick
import QtQuick.Controls.impl

// A monochrome SVG recoloured to one tint, so a single black file serves both appearances. The
// tint is painted into the image once it is loaded: no effect pass per icon per frame.
IconImage {
    id: root

    property color tint: Theme.iconColor

    width: 22
    height: 22
    color: root.tint
    sourceSize.width: Math.max(1, root.width)
    sourceSize.height: Math.max(1, root.height)
    fillMode: Image.PreserveAspectFit
    smooth: true
}
