import QtQuick
import QtTest
import appclient

// Every colour token follows the appearance, apart from the few the design keeps in both.
TestCase {
    name: "Theme"

    readonly property var sameInBoth: ["authAccentPressedColor", "authAccentStrongColor", "authButtonTextColor"]
    readonly property var tokens: sameInBoth.concat(["accentColor", "accentStrongColor", "textColor", "mutedTextColor",
        "subtleTextColor", "iconColor", "iconDisabledColor", "appBackgroundColor", "contentBackgroundColor",
        "surfaceColor", "elevatedSurfaceColor", "dividerColor", "hairlineColor", "activeBackgroundColor",
        "hoverBackgroundColor", "authShellColor", "authTextColor", "authMutedTextColor", "authPlaceholderColor",
        "authFieldFillColor", "authFieldDisabledFillColor", "authFieldBorderColor", "authDividerColor",
        "authAccentColor", "authAccentHoverColor", "authAccentTextColor", "authButtonDisabledColor", "authErrorBackgroundColor",
        "authErrorBorderColor", "authErrorTextColor", "authSuccessBackgroundColor", "authSuccessBorderColor",
        "authSuccessTextColor", "ownBubbleColor", "otherBubbleColor", "dangerColor", "successColor", "warningColor"])

    function cleanup() {
        Theme.darkMode = false
    }

    function colours() {
        const values = {}
        for (const name of tokens)
            values[name] = String(Theme[name])
        return values
    }

    function test_tokensFollowAppearance() {
        const light = colours()
        Theme.darkMode = true
        const dark = colours()
        Theme.darkMode = false
        compare(colours(), light, "back to light")
        compare(Object.keys(light).filter(name => light[name] === dark[name]).sort(), sameInBoth)
        // The transparent hover is the hover colour with no alpha, so a fade shows no other hue.
        compare(Theme.hoverBackgroundTransparentColor.a, 0)
        verify(Qt.colorEqual(Qt.rgba(Theme.hoverBackgroundColor.r, Theme.hoverBackgroundColor.g,
                                     Theme.hoverBackgroundColor.b, 0), Theme.hoverBackgroundTransparentColor))
    }
}
