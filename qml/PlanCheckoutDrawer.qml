pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "storeformat.js" as StoreFormat

// The bottom sheet in which a plan is bought: payment method, coupon and the price breakdown; or,
// in points mode, what a redemption costs in points. The page owns every figure and decides
// what each request does.
Popup {
    id: root

    property bool pointsMode: false
    property string planTitle
    property string planSubtitle
    property int selectedPaymentIndex: -1
    property bool previewLoading: false
    property bool actionInProgress: false
    property string errorMessage
    property string currencySymbol: "¥"
    property real displayedOriginalPrice: 0
    property real displayedDiscount: 0
    property real displayedAmount: 0
    property bool hasBreakdownRows: false
    property real pointsBalance: 0
    property real pointsCost: 0
    property bool canSubmit: false
    property string actionText: Translations.t("purchase")
    property string processingText: Translations.t("processing")
    // 1 while hidden below the window's edge, 0 when fully up.
    property real slide: 1

    signal paymentSelected(int index)
    signal couponApplyRequested(string coupon)
    signal errorClearRequested
    signal submitRequested

    function resetCoupon() {
        couponField.text = ""
    }

    function pointsText(value) {
        return StoreFormat.points(value) + " " + Translations.t("points_unit")
    }

    parent: Overlay.overlay
    x: 0
    width: parent ? parent.width : 400
    height: parent ? Math.min(body.implicitHeight + 150, Math.floor(parent.height * 0.95)) : body.implicitHeight + 150
    y: (parent ? parent.height : 0) - height * (1 - root.slide)
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    enter: Transition {
        NumberAnimation {
            property: "slide"
            from: 1
            to: 0
            duration: 240
            easing.type: Easing.OutCubic
        }
    }
    exit: Transition {
        NumberAnimation {
            property: "slide"
            from: 0
            to: 1
            duration: 200
            easing.type: Easing.InCubic
        }
    }

    Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, Theme.darkMode ? 0.6 : 0.36)
    }

    // Only the top corners are round: the rectangle runs on below the window's edge.
    background: Item {
        clip: true

        Rectangle {
            anchors.fill: parent
            anchors.bottomMargin: -22
            radius: 22
            color: Theme.elevatedSurfaceColor
            border.width: 1
            border.color: Theme.hairlineColor
        }
    }

    Item {
        anchors.fill: parent

        Rectangle {
            objectName: "checkoutGrabHandle"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 10
            width: 44
            height: 5
            radius: 2.5
            color: Theme.dividerColor
        }

        Flickable {
            id: scroller

            anchors.top: parent.top
            anchors.topMargin: 26
            anchors.bottom: submit.top
            anchors.bottomMargin: 12
            width: parent.width
            contentHeight: body.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            interactive: contentHeight > height
            clip: true
            ScrollBar.vertical: ScrollBar {}

            ColumnLayout {
                id: body

                x: 20
                width: scroller.width - 40
                spacing: 12

                Label {
                    objectName: "checkoutTitle"
                    Layout.fillWidth: true
                    text: root.planTitle
                    color: Theme.textColor
                    font.pixelSize: 20
                    font.weight: Theme.strongFontWeight
                    wrapMode: Text.Wrap
                }

                Label {
                    objectName: "checkoutSubtitle"
                    Layout.fillWidth: true
                    Layout.topMargin: -6
                    visible: text !== ""
                    text: root.planSubtitle
                    color: Theme.accentColor
                    font.pixelSize: Theme.emphasisFontSize
                    font.weight: Theme.emphasisFontWeight
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 1
                    color: Theme.dividerColor
                }

                Label {
                    Layout.fillWidth: true
                    text: Translations.t(root.pointsMode ? "reward_points" : "payment")
                    color: Theme.mutedTextColor
                    font.pixelSize: Theme.metaFontSize + 1
                    font.weight: Theme.emphasisFontWeight
                }

                Repeater {
                    // Built only while the sheet is up: the icons are fetched when someone is
                    // about to pay, not whenever the store learns its methods.
                    model: root.pointsMode || !root.visible ? [] : store.paymentMethodNames

                    PaymentMethodButton {
                        required property int index
                        required property string modelData

                        objectName: "checkoutPaymentMethod" + index
                        Layout.fillWidth: true
                        method: store.getPaymentMethod(index)
                        name: modelData
                        selected: index === root.selectedPaymentIndex
                        onClicked: root.paymentSelected(index)
                    }
                }

                CheckoutAmountRow {
                    objectName: "checkoutPointsBalance"
                    Layout.fillWidth: true
                    visible: root.pointsMode
                    label: Translations.t("points_balance")
                    value: root.pointsText(root.pointsBalance)
                }

                CheckoutAmountRow {
                    objectName: "checkoutPointsRequired"
                    Layout.fillWidth: true
                    visible: root.pointsMode
                    label: Translations.t("points_required")
                    value: "-" + root.pointsText(root.pointsCost)
                }

                CheckoutAmountRow {
                    objectName: "checkoutPointsRemaining"
                    Layout.fillWidth: true
                    visible: root.pointsMode
                    emphasized: true
                    label: Translations.t("points_remaining")
                    value: root.pointsText(Math.max(0, root.pointsBalance - root.pointsCost))
                }

                Label {
                    objectName: "checkoutErrorText"
                    Layout.fillWidth: true
                    visible: root.errorMessage !== ""
                    text: root.errorMessage
                    color: Theme.dangerColor
                    font.pixelSize: Theme.metaFontSize + 1
                    wrapMode: Text.Wrap
                }

                RowLayout {
                    Layout.fillWidth: true
                    visible: !root.pointsMode
                    spacing: 10

                    FormTextField {
                        id: couponField

                        objectName: "checkoutCouponField"
                        Layout.fillWidth: true
                        placeholderText: Translations.t("enter_coupon")
                        onTextEdited: root.errorClearRequested()
                        onAccepted: if (applyButton.enabled) applyButton.clicked()
                    }

                    MainButton {
                        id: applyButton

                        objectName: "checkoutApplyCouponButton"
                        Layout.preferredWidth: Math.max(88, implicitWidth)
                        implicitHeight: 44
                        primary: false
                        enabled: root.canSubmit && !root.previewLoading && !root.actionInProgress
                        text: Translations.t("apply_coupon")
                        onClicked: root.couponApplyRequested(couponField.text.trim())
                    }
                }

                CheckoutAmountRow {
                    objectName: "checkoutSubtotal"
                    Layout.fillWidth: true
                    visible: !root.pointsMode && root.hasBreakdownRows
                    label: Translations.t("checkout_subtotal")
                    value: root.currencySymbol + StoreFormat.money(root.displayedOriginalPrice)
                }

                CheckoutAmountRow {
                    objectName: "checkoutDiscount"
                    Layout.fillWidth: true
                    visible: !root.pointsMode && root.hasBreakdownRows
                    label: Translations.t("checkout_coupon_discount")
                    value: "-" + root.currencySymbol + StoreFormat.money(root.displayedDiscount)
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 1
                    visible: !root.pointsMode
                    color: Theme.dividerColor
                }

                CheckoutAmountRow {
                    objectName: "checkoutTotal"
                    Layout.fillWidth: true
                    visible: !root.pointsMode
                    emphasized: true
                    busy: root.previewLoading
                    label: Translations.t("total").trim()
                    value: root.currencySymbol + StoreFormat.money(root.displayedAmount)
                }
            }
        }

        MainButton {
            id: submit

            objectName: "checkoutSubmitButton"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 20
            enabled: root.canSubmit && !root.actionInProgress
            text: root.actionInProgress ? root.processingText : root.actionText
            onClicked: root.submitRequested()
        }
    }
}
