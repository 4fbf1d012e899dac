import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The frame shared by the window's dialogs: centred card, dimmed backdrop, a title of at most two
// lines with a close button, and the dialog's own items below it.
Popup {
    id: root

    property string title
    property int maximumWidth: 340
    property int cornerRadius: 18
    // Prefix of the objectNames inside the frame, so tests and the driver tell the dialogs apart.
    property string namePrefix: "dialog"
    default property alias body: bodyColumn.data

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.min(parent.width - 36, root.maximumWidth) : root.maximumWidth
    modal: true
    focus: true
    padding: 20

    background: Rectangle {
        radius: root.cornerRadius
        color: Theme.elevatedSurfaceColor
        border.width: 1
        border.color: Theme.hairlineColor
    }

    Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, Theme.darkMode ? 0.6 : 0.36)

        Behavior on opacity {
            NumberAnimation {
                duration: 180
                easing.type: Easing.OutCubic
            }
        }
    }

    enter: Transition {
        NumberAnimation {
            property: "opacity"
            from: 0
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            property: "scale"
            from: 0.96
            to: 1
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    exit: Transition {
        NumberAnimation {
            property: "opacity"
            to: 0
            duration: 140
            easing.type: Easing.OutCubic
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 16

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Label {
                objectName: root.namePrefix + "Title"
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                text: root.title
                color: Theme.textColor
                font.pixelSize: 18
                font.weight: Theme.strongFontWeight
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }

            MainIconButton {
                objectName: root.namePrefix + "CloseButton"
                Layout.alignment: Qt.AlignTop
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                iconSource: "qrc:/icons/close.svg"
                iconSize: 18
                onClicked: root.close()
            }
        }

        ColumnLayout {
            id: bodyColumn

            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 16
        }
    }
}
