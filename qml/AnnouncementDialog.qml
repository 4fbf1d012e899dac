import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One announcement in full: its title (or the "notice" text when blank) over its rich-text body,
// whose links open in the system browser.
MainDialog {
    id: root

    property var announcement: ({})

    readonly property string trimmedTitle: {
        const item = root.announcement
        const raw = item && item.title !== undefined && item.title !== null ? String(item.title) : ""
        return raw.trim()
    }
    readonly property string content: {
        const item = root.announcement
        return item && item.content !== undefined && item.content !== null ? String(item.content) : ""
    }

    namePrefix: "announcementDialog"
    maximumWidth: 360
    height: parent ? Math.min(implicitHeight, Math.floor(parent.height * 0.8)) : implicitHeight
    closePolicy: Popup.CloseOnEscape
    title: root.trimmedTitle !== "" ? root.trimmedTitle : Translations.t("notice")

    ScrollView {
        id: scroller

        objectName: "announcementDialogBody"
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 96
        Layout.preferredHeight: contentLabel.implicitHeight
        contentWidth: availableWidth
        clip: true

        Label {
            id: contentLabel

            objectName: "announcementDialogContent"
            width: scroller.availableWidth
            // Rich text takes its link colour from a style sheet, not from linkColor.
            text: "<style>a { color: " + Theme.accentColor + "; }</style>" + root.content
            textFormat: Text.RichText
            color: Theme.textColor
            font.pixelSize: Theme.bodyFontSize
            lineHeight: 1.2
            wrapMode: Text.Wrap
            onLinkActivated: link => Browser.open(link)

            HoverHandler {
                cursorShape: contentLabel.hoveredLink !== "" ? Qt.PointingHandCursor : Qt.ArrowCursor
            }
        }
    }
}
