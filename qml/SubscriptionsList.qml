pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The scrolling body of the connect page: the last fetch failure, one card per subscription,
// the empty state and the free plan claim. The page decides what each click does.
Flickable {
    id: root

    property string fetchErrorMessage
    property int listRevision: 0
    property bool claimEnabled: true
    property bool claimBusy: false
    readonly property int cardCount: cards.count

    signal powerClicked(int index)
    signal nodeSelectorClicked(int index, string url)
    signal emptyStateActivated
    signal claimClicked

    function cardAt(index) {
        return cards.itemAt(index)
    }

    contentHeight: column.height + 32
    boundsBehavior: Flickable.StopAtBounds
    interactive: contentHeight > height
    ScrollBar.vertical: ScrollBar {}

    Column {
        id: column

        x: 16
        y: 16
        width: root.width - 32
        spacing: 16

        Label {
            objectName: "fetchErrorText"
            width: parent.width
            visible: root.fetchErrorMessage !== ""
            padding: 12
            text: root.fetchErrorMessage
            color: Theme.authErrorTextColor
            font.pixelSize: Theme.metaFontSize + 1
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            background: Rectangle {
                radius: 12
                color: Theme.authErrorBackgroundColor
                border.width: 1
                border.color: Theme.authErrorBorderColor
            }
        }

        // The panel could not be reached: the cards are the ones kept from the last visit.
        Label {
            objectName: "offlineNotice"
            width: parent.width
            visible: subscribeHandler.offline
            text: Translations.t("account_data_stale")
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Repeater {
            id: cards

            model: subscribeHandler.subscriptionCount

            SubscriptionCard {
                width: column.width
                listRevision: root.listRevision
                onPowerClicked: root.powerClicked(index)
                onNodeSelectorClicked: root.nodeSelectorClicked(index, url)
            }
        }

        SubscriptionsEmptyState {
            width: parent.width
            visible: subscribeHandler.subscriptionCount === 0
            signedIn: auth.isLoggedIn
            onActivated: root.emptyStateActivated()
        }

        FreePlanButton {
            width: parent.width
            visible: !auth.isLoggedIn || subscribeHandler.subscriptionCount === 0
            enabled: root.claimEnabled
            busy: root.claimBusy
            onClicked: root.claimClicked()
        }
    }
}
