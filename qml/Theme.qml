pragma Singleton
import QtQuick
import Qt.labs.settings

// The design tokens of every view, in a light and a dark appearance. Views bind to these and never
// define colours or sizes of their own, so flipping darkMode restyles the whole window at once.
QtObject {
    id: root

    // Written straight through setValue rather than the delayed alias write of Settings, so the
    // choice is on disk even if the program is ended right after the toggle.
    property bool darkMode: String(root.settings.value("darkMode", false)) === "true"
    onDarkModeChanged: root.settings.setValue("darkMode", root.darkMode)

    readonly property color accentColor: darkMode ? "#7cb6ff" : "#1565c0"
    readonly property color accentStrongColor: darkMode ? "#9cc8ff" : "#0d4ea0"
    readonly property color textColor: darkMode ? "#f3f7ff" : "#171717"
    readonly property color mutedTextColor: darkMode ? "#a3b3ca" : "#555e6b"
    readonly property color subtleTextColor: darkMode ? "#95a5bb" : "#616a77"
    readonly property color iconColor: darkMode ? "#f3f7ff" : "#3a4555"
    readonly property color iconDisabledColor: darkMode ? "#4f617c" : "#b2bcc8"
    readonly property color appBackgroundColor: darkMode ? "#181818" : "#eef2f8"
    readonly property color contentBackgroundColor: darkMode ? "#181818" : "#ffffff"
    readonly property color surfaceColor: darkMode ? "#222222" : "#ffffff"
    readonly property color elevatedSurfaceColor: darkMode ? "#2b2b2b" : "#ffffff"
    readonly property color dividerColor: darkMode ? "#343434" : "#d0d0d0"
    // Outlines small pictures such as flags; weaker than dividerColor.
    readonly property color hairlineColor: darkMode ? Qt.rgba(1, 1, 1, 0.18) : Qt.rgba(0, 0, 0, 0.12)
    readonly property color activeBackgroundColor: darkMode ? "#2a394d" : "#e3edf8"
    readonly property color hoverBackgroundColor: darkMode ? "#202833" : "#eef4fb"
    // The hover colour fully transparent, so hover fades animate in the right hue.
    readonly property color hoverBackgroundTransparentColor: Qt.rgba(hoverBackgroundColor.r,
        hoverBackgroundColor.g, hoverBackgroundColor.b, 0)

    readonly property color authShellColor: contentBackgroundColor
    readonly property color authTextColor: darkMode ? textColor : "#162132"
    readonly property color authMutedTextColor: darkMode ? "#a8a8a8" : "#5a6880"
    readonly property color authPlaceholderColor: darkMode ? "#a3a3a3" : "#5e6a7b"
    readonly property color authFieldFillColor: darkMode ? elevatedSurfaceColor : "#f7faff"
    readonly property color authFieldDisabledFillColor: darkMode ? "#1f1f1f" : "#f0f3f8"
    readonly property color authFieldBorderColor: darkMode ? "#4a4a4a" : "#d7e0ee"
    readonly property color authDividerColor: darkMode ? dividerColor : "#e5ebf4"
    readonly property color authAccentColor: darkMode ? "#2c6fe3" : "#2865cf"
    // Links and marks drawn in the accent on the card; the fill above carries white text, which
    // on the dark card needs a darker blue than text of its own does.
    readonly property color authAccentTextColor: darkMode ? "#79adff" : authAccentColor
    readonly property color authAccentStrongColor: "#1f5fd5"
    readonly property color authAccentHoverColor: darkMode ? "#2866d6" : "#225bc0"
    readonly property color authAccentPressedColor: "#1a57c6"
    readonly property color authButtonDisabledColor: darkMode ? "#3a3a3a" : "#b9c7de"
    readonly property color authButtonTextColor: "#ffffff"
    readonly property color authErrorBackgroundColor: darkMode ? "#35191c" : "#fff3f2"
    readonly property color authErrorBorderColor: darkMode ? "#7a3b43" : "#f1c5c0"
    readonly property color authErrorTextColor: darkMode ? "#ffb0ad" : "#b1453b"
    readonly property color authSuccessBackgroundColor: darkMode ? "#15301f" : "#eaf7ee"
    readonly property color authSuccessBorderColor: darkMode ? "#3b6f4d" : "#bee0c8"
    readonly property color authSuccessTextColor: darkMode ? "#9ad9af" : "#2a743c"

    // The user's own and the staff's messages in a support conversation.
    readonly property color ownBubbleColor: darkMode ? "#3eb575" : "#95ec69"
    readonly property color otherBubbleColor: darkMode ? "#2c2c2c" : "#ededed"
    readonly property color dangerColor: darkMode ? "#ff8a8a" : "#c42b2b"
    // Between success and danger, e.g. a middling latency.
    readonly property color warningColor: darkMode ? "#f2c26b" : "#975a00"
    readonly property color successColor: darkMode ? "#5fd3a0" : "#067762"

    readonly property int menuItemRadius: 14
    readonly property int menuItemHeight: 52
    readonly property int metaFontSize: 12
    readonly property int bodyFontSize: 15
    readonly property int emphasisFontSize: 16
    readonly property int sectionFontSize: 15
    readonly property int captionFontSize: 12
    readonly property int bodyFontWeight: Font.Normal
    readonly property int emphasisFontWeight: Font.Medium
    readonly property int strongFontWeight: Font.DemiBold

    readonly property Settings settings: Settings {
        category: "Theme"
    }
}
