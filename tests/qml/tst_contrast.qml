import QtQuick
import QtTest
import appclient

// Every token drawn as text stays readable (WCAG contrast of at least 4.5:1) on every background
// token it can sit on, in both appearances.
TestCase {
    name: "Contrast"

    readonly property var textTokens: ["textColor", "mutedTextColor", "subtleTextColor",
        "accentColor", "accentStrongColor", "dangerColor", "warningColor", "successColor",
        "authTextColor", "authMutedTextColor", "authPlaceholderColor", "authAccentTextColor"]
    readonly property var backgroundTokens: ["appBackgroundColor", "contentBackgroundColor",
        "surfaceColor", "elevatedSurfaceColor", "activeBackgroundColor", "hoverBackgroundColor",
        "authShellColor", "authFieldFillColor"]

    function cleanup() {
        Theme.darkMode = false;
    }

    function luminance(colour) {
        const linear = c => c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4);
        return 0.2126 * linear(colour.r) + 0.7152 * linear(colour.g) + 0.0722 * linear(colour.b);
    }

    function contrast(a, b) {
        const la = luminance(a), lb = luminance(b);
        return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05);
    }

    function test_pairs_data() {
        return [
            { tag: "light", dark: false },
            { tag: "dark", dark: true },
        ];
    }

    function test_pairs(data) {
        Theme.darkMode = data.dark;
        // Text drawn on a coloured fill of its own.
        const pairs = [["authErrorTextColor", "authErrorBackgroundColor"],
            ["authSuccessTextColor", "authSuccessBackgroundColor"],
            ["authButtonTextColor", "authAccentColor"],
            ["authButtonTextColor", "authAccentHoverColor"],
            ["authButtonTextColor", "authAccentPressedColor"],
            ["authButtonTextColor", "authAccentStrongColor"]];
        for (const text of textTokens) {
            for (const background of backgroundTokens)
                pairs.push([text, background]);
        }
        const failures = [];
        for (const [text, background] of pairs) {
            verify(Theme[text] !== undefined && Theme[background] !== undefined, text + background);
            const ratio = contrast(Theme[text], Theme[background]);
            if (ratio < 4.5)
                failures.push(text + " on " + background + ": " + ratio.toFixed(2));
        }
        compare(failures, []);
    }
}
