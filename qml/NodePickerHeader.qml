import QtQuick
import QtQuick.Controls

// The node picker's title bar: back, the title, and the control that measures the latencies
// again (turning while they are measured).
Item {
    id: root

    property bool testing: false

    signal backRequested
    signal refreshRequested

    implicitHeight: 56

    component HeaderButton: AbstractButton {
        id: button

        property url glyph

        anchors.verticalCenter: parent.verticalCenter
        width: 40
        height: 40
        hoverEnabled: true

        background: Rectangle {
            radius: 12
            color: button.pressed ? Theme.activeBackgroundColor
                                  : (button.hovered ? Theme.hoverBackgroundColor
                                                    : Theme.hoverBackgroundTransparentColor)
        }
        contentItem: Item {
            AppIcon {
                anchors.centerIn: parent
                width: 20
                height: 20
                source: button.glyph
                tint: button.enabled ? Theme.iconColor : Theme.iconDisabledColor
            }
        }
    }

    HeaderButton {
        id: back

        objectName: "nodePickerBack"
        x: 8
        glyph: "qrc:/icons/arrow-left.svg"
        Accessible.name: Translations.t("choose_country")
        onClicked: root.backRequested()
    }

    Label {
        anchors.left: back.right
        anchors.leftMargin: 8
        anchors.right: refresh.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        text: Translations.t("choose_country")
        color: Theme.textColor
        font.pixelSize: 18
        font.weight: Theme.strongFontWeight
        elide: Text.ElideRight
    }

    HeaderButton {
        id: refresh

        objectName: "nodePickerRefresh"
        anchors.right: parent.right
        anchors.rightMargin: 8
        glyph: "qrc:/icons/refresh.svg"
        enabled: !root.testing
        Accessible.name: Translations.t(root.testing ? "latency_testing" : "latency_test")
        onClicked: root.refreshRequested()

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            // Nothing spins in a hidden or minimised window.
            running: root.testing && root.Window.visibility !== Window.Hidden
                     && root.Window.visibility !== Window.Minimized
            onRunningChanged: if (!running) refresh.rotation = 0
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.dividerColor
    }
}
