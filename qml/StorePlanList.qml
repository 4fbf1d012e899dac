pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import "storeformat.js" as StoreFormat

// The scrolling body of the store page: the last failure, then one row per plan and duration,
// priced by the catalogue. The page decides what a click does.
Flickable {
    id: root

    property StoreCatalogue catalogue
    property string errorMessage
    property bool loading: false

    readonly property var rows: root.catalogue ? root.catalogue.rows : []
    readonly property string currency: root.catalogue ? root.catalogue.currency : "¥"

    signal planChosen(int subIndex, int optionIndex)

    contentHeight: column.height + 32
    boundsBehavior: Flickable.StopAtBounds
    interactive: contentHeight > height
    ScrollBar.vertical: ScrollBar {}

    Column {
        id: column

        x: 16
        y: 16
        width: root.width - 32
        spacing: 10

        Label {
            objectName: "storeErrorText"
            width: parent.width
            visible: root.errorMessage !== ""
            padding: 12
            text: root.errorMessage
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

        Label {
            width: parent.width
            visible: root.rows.length > 0
            leftPadding: 4
            text: Translations.t("available_plans")
            color: Theme.mutedTextColor
            font.pixelSize: Theme.metaFontSize + 1
            font.weight: Theme.emphasisFontWeight
        }

        Repeater {
            model: root.rows

            StorePlanRow {
                required property var modelData

                readonly property var pricing: root.catalogue.pricingOf(modelData)

                objectName: "storePlanRow" + modelData.subscribe_index + "_" + modelData.quantity
                width: column.width
                title: modelData.title
                subtitle: modelData.label + " · "
                          + StoreFormat.perDayText(pricing.shown, modelData.quantity, modelData.unit_time,
                                                   root.currency, Translations.currentLanguage)
                priceText: root.currency + StoreFormat.money(pricing.shown)
                originalText: pricing.discounted ? root.currency + StoreFormat.money(pricing.original) : ""
                badgeText: StoreFormat.isHot(modelData.quantity)
                           ? StoreFormat.word("hot", Translations.currentLanguage) : ""
                onClicked: root.planChosen(modelData.subscribe_index, modelData.option_index)
            }
        }

        Label {
            objectName: "storeEmptyText"
            width: parent.width
            visible: root.rows.length === 0 && !root.loading && root.errorMessage === ""
            topPadding: 32
            text: Translations.t("no_plan")
            color: Theme.mutedTextColor
            font.pixelSize: Theme.bodyFontSize
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
