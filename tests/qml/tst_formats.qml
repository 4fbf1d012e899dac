import QtQuick
import QtTest
import appclient
import "qrc:/qt/qml/appclient/storeformat.js" as StoreFormat

// How the views write what they show: latency, byte counts, speeds, session time and what is left
// of a plan on the connect page; the store's rows, labels, prices and points; the about dialog's
// copyright line.
TestCase {
    name: "Formats"

    AboutDialog {
        id: about
    }

    function cleanup() { Translations.currentLanguage = "en" }

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

    function test_planOptions_data() {
        return [
            { tag: "quantity 2 is no candidate", discount: [{ quantity: 2 }], quantities: [1] },
            { tag: "below 1 counts as 1", discount: [{ quantity: 0 }, { quantity: -5 }], quantities: [1] },
            { tag: "listed out of order", discount: [{ quantity: 24 }, { quantity: 6 }], quantities: [1, 6, 24] }
        ]
    }

    function test_planOptions(data) {
        const options = StoreFormat.planOptions({ unit_price: 9.9, unit_time: "Month", discount: data.discount },
                                                "en", Translations.t)
        compare(options.map(option => option.quantity), data.quantities)
        for (const option of options)
            fuzzyCompare(option.total_price, 9.9 * option.quantity, 1e-9)
    }

    function test_labels_data() {
        return [
            { tag: "month pass", unit: "Month", quantity: 3, key: "plan_quarter_card" },
            { tag: "week", unit: " WEEK ", quantity: 1, en: "1 wk", zh: "1周", hant: "1週" },
            { tag: "unknown unit as written", unit: "fortnight", quantity: 1, en: "1 fortnight", zh: "1fortnight",
              hant: "1fortnight" }
        ]
    }

    function test_labels(data) {
        const expected = { "en": data.en, "zh": data.zh, "zh-Hant": data.hant }
        for (const language in expected) {
            Translations.currentLanguage = language
            compare(StoreFormat.optionLabel({ unit_time: data.unit }, data.quantity, language, Translations.t),
                    data.key ? Translations.t(data.key) : expected[language], language)
        }
    }

    function test_storeAmounts_data() {
        return [
            { tag: "half points", value: 15.5, points: "15.50", money: "15.50", symbol: "$", shown: "¥" },
            { tag: "within 0.001 of whole", value: 14.9996, points: "15", money: "15.00", symbol: undefined,
              shown: "¥" },
            { tag: "just outside", value: 14.998, points: "15.00", money: "15.00", symbol: "€", shown: "€" }
        ]
    }

    // Points drop their decimals only when whole; a dollar or no symbol at all shows as yuan.
    function test_storeAmounts(data) {
        compare(StoreFormat.points(data.value), data.points)
        compare(StoreFormat.money(data.value), data.money)
        compare(StoreFormat.displayCurrency(data.symbol), data.shown)
    }

    // [shown, discounted, original]: the live coupon price wins, else the panel's preview.
    function test_rowPricing() {
        const row = { quantity: 3, original_price: 30, total_price: 30 }
        const pricing = (preview, live) => {
            const result = StoreFormat.rowPricing(row, preview, live)
            return [result.shown, result.discounted, result.original]
        }
        compare(pricing({ price: 30, amount: 28.5 }, null), [28.5, true, 30])
        compare(pricing({ price: 30, amount: 28.5 }, { price: 30, amount: 25.65 }), [25.65, true, 30])
        compare(pricing({ price: 31, amount: 28 }, { price: 0, amount: 20 }), [20, false, 31])
        compare(StoreFormat.perDayText(365, 1, "年", "¥", "zh"), "¥1.00 / 天")
        compare(StoreFormat.perDayText(5, 1, "seat", "¥", "en"), "— / day")
    }

    // Payment methods are known by platform or name, in each language; others by their own name.
    function test_paymentMethods() {
        const wechat = StoreFormat.paymentKind({ platform: "WeChatPay", name: "x" })
        const other = StoreFormat.paymentKind({ platform: "devpay", name: "" })
        const expected = { "en": ["WeChat Pay", "W", "Payment method"], "zh-Hant": ["微信支付", "微", "付款方式"] }
        for (const language in expected) {
            Translations.currentLanguage = language
            compare([StoreFormat.paymentTitle(wechat, "x", language, Translations.t),
                     StoreFormat.paymentGlyph(wechat, language),
                     StoreFormat.paymentTitle(other, "", language, Translations.t)], expected[language])
        }
    }

    // A plan name may carry one text per language; the UI's, else English, else any; else as sent.
    function test_localizedName() {
        const both = "{\"zh-CN\":\"基础\",\"en-US\":\"Basic\"}"
        compare([StoreFormat.localizedName(both, "zh"), StoreFormat.localizedName(both, "zh-Hant")], ["基础", "Basic"])
        compare(StoreFormat.localizedName("{\"ja-JP\":\"ベーシック\"}", "en"), "ベーシック")
        compare(StoreFormat.localizedName("{}", "en"), "{}")
    }

    function test_copyright_data() {
        return [
            { tag: "swapped", template: "%2 ©%1", name: "qivro", expected: "qivro ©2031" },
            { tag: "name with placeholder", template: "%2 ©%1", name: "a%1b", expected: "a%1b ©2031" },
            { tag: "name with replace pattern", template: "© %1 %2", name: "Q$&$1", expected: "© 2031 Q$&$1" }
        ]
    }

    // Built safely from the template, with this year.
    function test_copyright(data) {
        compare(about.copyrightText(data.template, 2031, data.name), data.expected)
        verify(about.copyright.indexOf(String(new Date().getFullYear())) >= 0 && about.copyright.indexOf("%") < 0)
    }
}
