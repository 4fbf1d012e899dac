import QtQuick
import QtTest
import appclient

// How the connect page writes its numbers: latency text and colour by range, byte counts and
// speeds, the session time, and what is left of a plan.
TestCase {
    name: "Figures"

    readonly property double day: 86400000

    function cleanup() {
        Translations.currentLanguage = "en"
        Theme.darkMode = false
    }

    function test_latency_data() {
        return [
            { tag: "fast", ms: 35, text: "35 ms", level: "good", colour: "successColor" },
            { tag: "just good", ms: 199, text: "199 ms", level: "good", colour: "successColor" },
            { tag: "fair from 200", ms: 200, text: "200 ms", level: "fair", colour: "warningColor" },
            { tag: "just fair", ms: 499, text: "499 ms", level: "fair", colour: "warningColor" },
            { tag: "poor from 500", ms: 500, text: "500 ms", level: "poor", colour: "dangerColor" },
            { tag: "loopback zero", ms: 0, text: "0 ms", level: "good", colour: "successColor" },
            { tag: "failed", ms: -1, text: "Timeout", level: "timeout", colour: "dangerColor" },
            { tag: "failed, Traditional", ms: -1, language: "zh-Hant", text: "逾時", level: "timeout",
              colour: "dangerColor" },
            { tag: "not measured", ms: -2, text: "—", level: "unknown", colour: "subtleTextColor" },
            { tag: "not measured, dark", ms: -2, dark: true, text: "—", level: "unknown",
              colour: "subtleTextColor" },
            { tag: "fair, dark", ms: 321, dark: true, text: "321 ms", level: "fair",
              colour: "warningColor" }
        ]
    }

    function test_latency(data) {
        Translations.currentLanguage = data.language || "en"
        Theme.darkMode = data.dark === true
        compare(Figures.latencyText(data.ms), data.text)
        compare(Figures.latencyLevel(data.ms), data.level)
        verify(Qt.colorEqual(Figures.latencyColor(data.ms), Theme[data.colour]),
               String(Figures.latencyColor(data.ms)))
    }

    function test_amounts_data() {
        return [
            { tag: "nothing", bytes: 0, text: "0 B" },
            { tag: "under a kilobyte", bytes: 1023, text: "1023 B" },
            { tag: "one kilobyte", bytes: 1024, text: "1.0 KB" },
            { tag: "a kilobyte and a half", bytes: 1536, text: "1.5 KB" },
            { tag: "whole from 100", bytes: 150 * 1024, text: "150 KB" },
            { tag: "megabytes", bytes: 5.25 * 1024 * 1024, text: "5.3 MB" },
            { tag: "ten gigabytes", bytes: 10 * 1024 * 1024 * 1024, text: "10.0 GB" },
            { tag: "negative reads as none", bytes: -5, text: "0 B" }
        ]
    }

    function test_amounts(data) {
        compare(Figures.bytesText(data.bytes), data.text)
        compare(Figures.speedText(data.bytes), data.text + "/s")
    }

    function test_duration_data() {
        return [
            { tag: "start", seconds: 0, text: "00:00" },
            { tag: "a minute and five", seconds: 65.9, text: "01:05" },
            { tag: "an hour", seconds: 3600, text: "1:00:00" },
            { tag: "over an hour", seconds: 3725, text: "1:02:05" },
            { tag: "a day", seconds: 86400 + 61, text: "24:01:01" }
        ]
    }

    function test_duration(data) {
        compare(Figures.durationText(data.seconds), data.text)
    }

    function test_plan_data() {
        const gb = 1024 * 1024 * 1024
        const now = Date.UTC(2026, 0, 10, 12)
        return [
            { tag: "no data limit, no expiry", sub: { traffic: 0, expire_time: 0 }, now: now,
              left: "Unlimited", expiry: "No limit" },
            { tag: "data left, expires in a day and a half",
              sub: { traffic: 10 * gb, download: 2 * gb, upload: gb / 2, expire_time: now + 1.5 * day },
              now: now, left: "7.5 GB left", expiry: "Expires in 2 days" },
            { tag: "used up, expired", sub: { traffic: gb, download: gb, upload: 1, expire_time: now - 1 },
              now: now, left: "0 B left", expiry: "Expired" },
            { tag: "Simplified", sub: { traffic: 2 * gb, download: gb, upload: 0, expire_time: now + day },
              now: now, language: "zh", left: "剩余 1.0 GB", expiry: "1 天后到期" }
        ]
    }

    function test_plan(data) {
        Translations.currentLanguage = data.language || "en"
        compare(Figures.dataLeftText(data.sub), data.left)
        compare(Figures.expiryText(data.sub, data.now), data.expiry)
    }
}
