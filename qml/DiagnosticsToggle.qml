import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A check box with a label, for attaching the support report to a new ticket.
AbstractButton {
    id: root

    checkable: true
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    implicitHeight: Math.max(28, root.contentItem.implicitHeight)
    implicitWidth: 280
    padding: 0

    background: Item {}

    contentItem: RowLayout {
        spacing: 10

        Rectangle {
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            radius: 6
            color: root.checked ? Theme.accentColor : Theme.authFieldFillColor
            border.width: root.visualFocus ? 2 : 1
            border.color: root.checked || root.visualFocus || root.hovered ? Theme.accentColor
                                                                           : Theme.authFieldBorderColor

            AppIcon {
                anchors.centerIn: parent
                width: 14
                height: 14
                visible: root.checked
                source: "qrc:/icons/check.svg"
                tint: Theme.contentBackgroundColor
            }
        }

        Label {
            Layout.fillWidth: true
            text: root.text
            wrapMode: Text.Wrap
            color: Theme.textColor
            font.pixelSize: Theme.metaFontSize + 1
        }
    }
}
