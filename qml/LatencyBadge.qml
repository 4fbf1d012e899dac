import QtQuick
import QtQuick.Controls

// A measured latency in its range's colour; "timeout" for a failed test, a dash for none yet.
Label {
    id: root

    property int delay: Figures.unknownDelay

    text: Figures.latencyText(root.delay)
    color: Figures.latencyColor(root.delay)
    font.pixelSize: Theme.metaFontSize
    font.weight: Theme.emphasisFontWeight
    horizontalAlignment: Text.AlignRight
}
