import QtQuick
import QtTest
import appclient

TestCase {
    id: testCase

    // Turns a colour text into a colour value, so that colours with alpha compare by channel.
    property color expected

    name: "Theme"

    function cleanup() {
        Theme.darkMode = false;
    }

    // The design's table of tokens: name, dark appearance, light appearance (#AARRGGBB with alpha).
    function test_colourToken_data() {
        return [
            { tag: "accentColor", dark: "#7cb6ff", light: "#1565c0" },
            { tag: "accentStrongColor", dark: "#9cc8ff", light: "#0d4ea0" },
            { tag: "textColor", dark: "#f3f7ff", light: "#171717" },
            { tag: "mutedTextColor", dark: "#a3b3ca", light: "#555e6b" },
            { tag: "subtleTextColor", dark: "#95a5bb", light: "#616a77" },
            { tag: "iconColor", dark: "#f3f7ff", light: "#3a4555" },
            { tag: "iconDisabledColor", dark: "#4f617c", light: "#b2bcc8" },
            { tag: "appBackgroundColor", dark: "#181818", light: "#eef2f8" },
            { tag: "contentBackgroundColor", dark: "#181818", light: "#ffffff" },
            { tag: "surfaceColor", dark: "#222222", light: "#ffffff" },
            { tag: "elevatedSurfaceColor", dark: "#2b2b2b", light: "#ffffff" },
            { tag: "dividerColor", dark: "#343434", light: "#d0d0d0" },
            { tag: "hairlineColor", dark: "#2effffff", light: "#1f000000" },
            { tag: "activeBackgroundColor", dark: "#2a394d", light: "#e3edf8" },
            { tag: "hoverBackgroundColor", dark: "#202833", light: "#eef4fb" },
            { tag: "hoverBackgroundTransparentColor", dark: "#00202833", light: "#00eef4fb" },
            { tag: "authShellColor", dark: "#181818", light: "#ffffff" },
            { tag: "authTextColor", dark: "#f3f7ff", light: "#162132" },
            { tag: "authMutedTextColor", dark: "#a8a8a8", light: "#5a6880" },
            { tag: "authPlaceholderColor", dark: "#a3a3a3", light: "#5e6a7b" },
            { tag: "authFieldFillColor", dark: "#2b2b2b", light: "#f7faff" },
            { tag: "authFieldDisabledFillColor", dark: "#1f1f1f", light: "#f0f3f8" },
            { tag: "authFieldBorderColor", dark: "#4a4a4a", light: "#d7e0ee" },
            { tag: "authDividerColor", dark: "#343434", light: "#e5ebf4" },
            { tag: "authAccentColor", dark: "#2c6fe3", light: "#2865cf" },
            { tag: "authAccentStrongColor", dark: "#1f5fd5", light: "#1f5fd5" },
            { tag: "authAccentHoverColor", dark: "#2866d6", light: "#225bc0" },
            { tag: "authAccentPressedColor", dark: "#1a57c6", light: "#1a57c6" },
            { tag: "authButtonDisabledColor", dark: "#3a3a3a", light: "#b9c7de" },
            { tag: "authButtonTextColor", dark: "#ffffff", light: "#ffffff" },
            { tag: "authErrorBackgroundColor", dark: "#35191c", light: "#fff3f2" },
            { tag: "authErrorBorderColor", dark: "#7a3b43", light: "#f1c5c0" },
            { tag: "authErrorTextColor", dark: "#ffb0ad", light: "#b1453b" },
            { tag: "authSuccessBackgroundColor", dark: "#15301f", light: "#eaf7ee" },
            { tag: "authSuccessBorderColor", dark: "#3b6f4d", light: "#bee0c8" },
            { tag: "authSuccessTextColor", dark: "#9ad9af", light: "#2a743c" },
            { tag: "ownBubbleColor", dark: "#3eb575", light: "#95ec69" },
            { tag: "otherBubbleColor", dark: "#2c2c2c", light: "#ededed" },
            { tag: "dangerColor", dark: "#ff8a8a", light: "#c42b2b" },
            { tag: "successColor", dark: "#5fd3a0", light: "#067762" },
        ];
    }

    function compareColour(actual, text, what) {
        expected = text;
        // Half a step of an 8-bit channel: alpha given as a fraction lands between two steps.
        for (const channel of ["r", "g", "b", "a"])
            fuzzyCompare(actual[channel], expected[channel], 0.003, what + "." + channel);
    }

    // Both directions, so a token stuck on either appearance fails.
    function test_colourToken(data) {
        Theme.darkMode = false;
        compareColour(Theme[data.tag], data.light, "light " + data.tag);
        Theme.darkMode = true;
        compareColour(Theme[data.tag], data.dark, "dark " + data.tag);
        Theme.darkMode = false;
        compareColour(Theme[data.tag], data.light, "light again " + data.tag);
    }

    function test_metrics() {
        const metrics = {
            "menuItemRadius": 14, "menuItemHeight": 52, "metaFontSize": 12, "bodyFontSize": 15,
            "emphasisFontSize": 16, "sectionFontSize": 15, "captionFontSize": 12,
            "bodyFontWeight": Font.Normal, "emphasisFontWeight": Font.Medium, "strongFontWeight": Font.DemiBold
        };
        for (const name in metrics)
            compare(Theme[name], metrics[name], name);
    }
}
