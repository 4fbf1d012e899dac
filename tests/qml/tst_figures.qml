import QtQuick
import QtTest
import appclient

// How the connect page writes its numbers: latency text and colour by range, byte counts and
// speeds, the session time, and what is left of a plan.
TestCase {
    name: "Figures"

    function cleanup() {
        Translations.currentLanguage = "en"
    }

    function test_latency_data() {
        return [
            { tag: "just good", ms: 199, text: "199 ms", level: "good", colour: "successColor" },
            { tag: "fair from 200", ms: 200, text: "200 ms", level: "fair", colour: "warningColor" },
            { tag: "just fair", ms: 499, text: "499 ms", level: "fair", colour: "warningColor" },
            { tag: "poor from 500", ms: 500, text: "500 ms", level: "poor", colour: "dangerColor" },
            { tag: "failed", ms: -1, text: "Timeout", level: "timeout", colour: "dangerColor" },
            { tag: "not measured", ms: -2, text: "—", level: "unknown", colour: "subtleTextColor" }
        ]
    }

    function test_latency(data) {
        compare([Figures.latencyText(data.ms), Figures.latencyLevel(data.ms)], [data.text, data.level])
        verify(Qt.colorEqual(Figures.latencyColor(data.ms), Theme[data.colour]), String(Figures.latencyColor(data.ms)))
    }

    function test_amounts_data() {
        return [
            { tag: "under a kilobyte", bytes: 1023, text: "1023 B" },
            { tag: "a kilobyte and a half", bytes: 1536, text: "1.5 KB" },
            { tag: "whole from 100", bytes: 150 * 1024, text: "150 KB" },
            { tag: "ten gigabytes", bytes: 10 * 1024 * 1024 * 1024, text: "10.0 GB" },
            { tag: "negative reads as none", bytes: -5, text: "0 B" }
        ]
    }

    function test_amounts(data) {
        compare(Figures.bytesText(data.bytes), data.text)
        compare(Figures.speedText(data.bytes), data.text + "/s")
    }

    function test_duration() {
        compare(Figures.durationText(65.9), "01:05")
        compare(Figures.durationText(86400 + 61), "24:01:01")
    }

    function test_plan_data() {
        const gb = 1024 * 1024 * 1024
        const now = Date.UTC(2026, 0, 10, 12)
        return [
            { tag: "no data limit, no expiry", sub: { traffic: 0, expire_time: 0 }, now: now, left: "Unlimited",
              expiry: "No limit" },
            { tag: "data left, a day and a half", now: now, left: "7.5 GB left", expiry: "Expires in 2 days",
              sub: { traffic: 10 * gb, download: 2 * gb, upload: gb / 2, expire_time: now + 1.5 * 86400000 } },
            { tag: "used up, expired", sub: { traffic: gb, download: gb, upload: 1, expire_time: now - 1 }, now: now,
              left: "0 B left", expiry: "Expired" }
        ]
    }

    function test_plan(data) {
        compare([Figures.dataLeftText(data.sub), Figures.expiryText(data.sub, data.now)], [data.left, data.expiry])
    }
}
