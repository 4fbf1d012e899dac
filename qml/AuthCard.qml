import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The rounded sheet every sign-in view sits on: logo, heading, then the view's own rows. Short
// hosts (or long Chinese texts) scroll inside the card instead of clipping the form.
Rectangle {
    id: root

    property string title
    property string subtitle
    property string badge
    property bool showLogo: true
    default property alias content: body.data

    readonly property bool phone: Qt.platform.os === "android" || Qt.platform.os === "ios"
    readonly property int margin: root.phone ? 16 : 24

    width: parent ? parent.width : 0
    height: parent ? Math.max(0, Math.min(parent.height - (root.phone ? 24 : 64), root.phone ? 620 : 560)) : 0
    anchors.centerIn: parent
    radius: root.phone ? 28 : 34
    color: Theme.authShellColor
    border.width: 1
    border.color: Theme.authDividerColor

    // Scrolls the card so that an item of the form (typically the error box) is in view.
    function reveal(item) {
        revealTimer.item = item;
        revealTimer.restart();
    }

    // Waits one turn so the item has its place in the freshly updated layout.
    Timer {
        id: revealTimer

        property Item item

        interval: 0
        onTriggered: {
            const item = revealTimer.item;
            if (!item || !item.visible)
                return;
            const top = item.mapToItem(column, 0, 0).y + column.y;
            const bottom = top + item.height + 4;
            if (bottom > flickable.contentY + flickable.height)
                flickable.contentY = Math.min(bottom - flickable.height, flickable.contentHeight - flickable.height);
            else if (top < flickable.contentY)
                flickable.contentY = Math.max(0, top - 4);
        }
    }

    Flickable {
        id: flickable

        // Four pixels of slack on every side so focus rings are not cut by the clip.
        anchors.fill: parent
        anchors.margins: root.margin - 4
        contentWidth: width
        contentHeight: column.height + 8
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        ScrollIndicator.vertical: ScrollIndicator {}

        ColumnLayout {
            id: column

            x: 4
            y: 4
            width: flickable.width - 8
            height: Math.max(flickable.height - 8, implicitHeight)
            spacing: 0

            RowLayout {
                visible: root.showLogo
                Layout.fillWidth: true
                Layout.bottomMargin: 20
                spacing: 12

                Image {
                    source: "qrc:/branding/logo.svg"
                    sourceSize.height: 64
                    Layout.preferredHeight: 30
                    Layout.preferredWidth: 30 * 1851 / 598
                    fillMode: Image.PreserveAspectFit
                    smooth: true
                }

                Item {
                    Layout.fillWidth: true
                }

                Rectangle {
                    visible: root.badge !== ""
                    radius: height / 2
                    color: Theme.activeBackgroundColor
                    Layout.preferredHeight: 28
                    Layout.preferredWidth: badgeText.implicitWidth + 44
                    Layout.maximumWidth: column.width - 30 * 1851 / 598 - 12

                    AppIcon {
                        id: badgeIcon

                        x: 12
                        anchors.verticalCenter: parent.verticalCenter
                        width: 14
                        height: 14
                        source: "qrc:/icons/lock.svg"
                        tint: Theme.authAccentTextColor
                    }

                    Text {
                        id: badgeText

                        anchors.left: badgeIcon.right
                        anchors.leftMargin: 6
                        anchors.right: parent.right
                        anchors.rightMargin: 12
                        anchors.verticalCenter: parent.verticalCenter
                        text: root.badge
                        elide: Text.ElideRight
                        color: Theme.authAccentTextColor
                        font.pixelSize: Theme.captionFontSize
                        font.weight: Theme.emphasisFontWeight
                    }
                }
            }

            Text {
                Layout.fillWidth: true
                text: root.title
                wrapMode: Text.Wrap
                color: Theme.authTextColor
                font.pixelSize: 24
                font.weight: Font.Bold
            }

            Text {
                visible: root.subtitle !== ""
                Layout.fillWidth: true
                Layout.topMargin: 6
                text: root.subtitle
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                lineHeight: 1.15
                color: Theme.authMutedTextColor
                font.pixelSize: 13
            }

            ColumnLayout {
                id: body

                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.topMargin: 16
                spacing: 12
            }
        }
    }
}
