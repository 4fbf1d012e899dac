import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Covers the window while a store payment is settled, and says how far it got. Nothing behind it
// reacts until one of its buttons closes it.
Item {
    id: root

    property string paymentState: "idle"
    property string detail: ""
    property string orderNo: ""

    readonly property bool terminal: root.paymentState === "success" || root.paymentState === "failed"
                                     || root.paymentState === "timeout"
    readonly property bool succeeded: root.paymentState === "success"
    readonly property string titleKey: root.succeeded ? "payment_success_title"
                                       : root.paymentState === "failed" ? "payment_failed_title"
                                       : root.paymentState === "timeout" ? "payment_timeout_title"
                                       : "payment_processing_title"
    readonly property string message: {
        if (root.paymentState === "failed" && root.detail !== "")
            return root.detail
        const keys = { "preparing": "payment_preparing_message", "opening": "payment_opening_message",
            "success": "payment_success_message", "failed": "payment_failed_message",
            "timeout": "payment_timeout_message" }
        if (keys[root.paymentState] !== undefined)
            return Translations.t(keys[root.paymentState])
        return root.detail !== "" ? root.detail : Translations.t("payment_waiting_message")
    }

    signal closeRequested

    Rectangle {
        anchors.fill: parent
        color: Theme.appBackgroundColor
        opacity: 0.97
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        preventStealing: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    Rectangle {
        objectName: "paymentOverlayCard"
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
            spacing: 14

            Rectangle {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 76
                Layout.preferredHeight: 76
                Layout.bottomMargin: 6
                radius: 38
                color: root.succeeded ? Theme.successColor
                                      : root.terminal ? Theme.dangerColor : Theme.activeBackgroundColor
                opacity: root.terminal ? 1 : 0.85

                BusyIndicator {
                    objectName: "paymentOverlayBusy"
                    anchors.centerIn: parent
                    width: 44
                    height: 44
                    visible: !root.terminal
                    // Nothing spins in a hidden or minimised window.
                    running: visible && root.Window.visibility !== Window.Hidden
                             && root.Window.visibility !== Window.Minimized
                    palette.dark: Theme.accentColor
                }

                AppIcon {
                    anchors.centerIn: parent
                    width: 34
                    height: 34
                    visible: root.terminal
                    source: root.succeeded ? "qrc:/icons/check.svg" : "qrc:/icons/close.svg"
                    tint: Theme.contentBackgroundColor
                }
            }

            Label {
                objectName: "paymentOverlayTitle"
                Layout.fillWidth: true
                text: Translations.t(root.titleKey)
                color: Theme.textColor
                font.pixelSize: 20
                font.weight: Theme.strongFontWeight
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Label {
                objectName: "paymentOverlayMessage"
                Layout.fillWidth: true
                text: root.message
                color: Theme.mutedTextColor
                font.pixelSize: Theme.bodyFontSize
                lineHeight: 1.15
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Label {
                objectName: "paymentOverlayOrderNo"
                Layout.fillWidth: true
                visible: !root.terminal && root.orderNo !== ""
                text: "#" + root.orderNo
                color: Theme.subtleTextColor
                font.pixelSize: Theme.metaFontSize
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideMiddle
            }

            MainButton {
                objectName: root.terminal ? "paymentOverlayOkButton" : "paymentOverlayReturnButton"
                Layout.fillWidth: true
                Layout.topMargin: 6
                visible: root.terminal || root.paymentState === "waiting"
                primary: root.terminal
                text: Translations.t(root.terminal ? "ok" : "payment_return_to_store")
                onClicked: root.closeRequested()
            }
        }
    }
}
