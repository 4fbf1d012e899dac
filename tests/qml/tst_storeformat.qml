import QtQuick
import QtTest
import appclient
import "qrc:/qt/qml/appclient/storeformat.js" as StoreFormat

// The store's rules for rows, labels and amounts: which durations a plan is sold in, what they
// are called in each language, and how prices and points are written.
TestCase {
    name: "StoreFormat"

    function cleanup() {
        Translations.currentLanguage = "en"
    }

    function test_planOptions_data() {
        return [
            { tag: "discounts for 3 and 12", discount: [{ quantity: 3 }, { quantity: 12 }], quantities: [1, 3, 12] },
            { tag: "quantity 2 is no candidate", discount: [{ quantity: 2 }], quantities: [1] },
            { tag: "below 1 counts as 1", discount: [{ quantity: 0 }, { quantity: -5 }], quantities: [1] },
            { tag: "listed out of order", discount: [{ quantity: 24 }, { quantity: 6 }], quantities: [1, 6, 24] },
            { tag: "no discount list", discount: undefined, quantities: [1] }
        ]
    }

    function test_planOptions(data) {
        const options = StoreFormat.planOptions({ unit_price: 9.9, unit_time: "Month", discount: data.discount },
                                                "en", Translations.t)
        compare(options.map(option => option.quantity), data.quantities)
        for (const option of options) {
            fuzzyCompare(option.total_price, 9.9 * option.quantity, 1e-9)
            compare(option.original_price, option.total_price)
        }
    }

    // Rows are every option of every plan, by plan and then by duration.
    function test_catalogueOrder() {
        const rows = StoreFormat.catalogue([{ name: "A", unit_price: 1, unit_time: "Month", discount: [{ quantity: 6 }] },
                                            { name: "{\"zh-CN\":\"乙\",\"en-US\":\"B\"}", unit_price: 2, unit_time: "Year" }],
                                           "en", Translations.t)
        compare(rows.map(row => [row.subscribe_index, row.option_index, row.quantity, row.title].join(":")),
                ["0:0:1:A", "0:1:6:A", "1:0:1:B"])
    }

    function test_labels_data() {
        return [
            { tag: "month pass", unit: "Month", quantity: 3, key: "plan_quarter_card" },
            { tag: "month in Chinese", unit: "月", quantity: 24, key: "plan_two_year_card" },
            { tag: "year", unit: "Year", quantity: 1, en: "1 yr", zh: "1年", hant: "1年" },
            { tag: "week", unit: " WEEK ", quantity: 1, en: "1 wk", zh: "1周", hant: "1週" },
            { tag: "day from 日", unit: "日", quantity: 1, en: "1 day", zh: "1天", hant: "1天" },
            { tag: "unknown unit as written", unit: "fortnight", quantity: 1, en: "1 fortnight", zh: "1fortnight",
              hant: "1fortnight" },
            { tag: "no unit", unit: "", quantity: 1, en: "1", zh: "1", hant: "1" }
        ]
    }

    function test_labels(data) {
        const plan = { unit_time: data.unit }
        const expected = { "en": data.en, "zh": data.zh, "zh-Hant": data.hant }
        for (const language in expected) {
            Translations.currentLanguage = language
            compare(StoreFormat.optionLabel(plan, data.quantity, language, Translations.t),
                    data.key ? Translations.t(data.key) : expected[language], language)
        }
    }

    function test_amounts_data() {
        return [
            { tag: "whole points", value: 15, points: "15", money: "15.00" },
            { tag: "half points", value: 15.5, points: "15.50", money: "15.50" },
            { tag: "within 0.001 of whole", value: 14.9996, points: "15", money: "15.00" },
            { tag: "just outside", value: 14.998, points: "15.00", money: "15.00" }
        ]
    }

    function test_amounts(data) {
        compare(StoreFormat.points(data.value), data.points)
        compare(StoreFormat.money(data.value), data.money)
    }

    function test_currency_data() {
        return [
            { tag: "dollar default", symbol: "$", shown: "¥" },
            { tag: "empty", symbol: "", shown: "¥" },
            { tag: "missing", symbol: undefined, shown: "¥" },
            { tag: "euro as sent", symbol: "€", shown: "€" },
            { tag: "US$ as sent", symbol: "US$", shown: "US$" }
        ]
    }

    function test_currency(data) {
        compare(StoreFormat.displayCurrency(data.symbol), data.shown)
    }

    function test_rowPricing_data() {
        const row = { quantity: 3, original_price: 30, total_price: 30 }
        return [
            { tag: "no preview", row: row, preview: {}, live: null, shown: 30, discounted: false, original: 30 },
            { tag: "server discount", row: row, preview: { price: 30, amount: 28.5 }, live: null,
              shown: 28.5, discounted: true, original: 30 },
            { tag: "preview without discount", row: row, preview: { price: 30, amount: 30 }, live: null,
              shown: 30, discounted: false, original: 30 },
            { tag: "live coupon price wins", row: row, preview: { price: 30, amount: 28.5 },
              live: { price: 30, amount: 25.65 }, shown: 25.65, discounted: true, original: 30 },
            { tag: "live without price falls back to preview", row: row, preview: { price: 31, amount: 28 },
              live: { price: 0, amount: 20 }, shown: 20, discounted: false, original: 31 }
        ]
    }

    function test_rowPricing(data) {
        const pricing = StoreFormat.rowPricing(data.row, data.preview, data.live)
        compare(pricing.shown, data.shown)
        compare(pricing.discounted, data.discounted)
        compare(pricing.original, data.original)
    }

    function test_perDay_data() {
        return [
            { tag: "three months", price: 27, quantity: 3, unit: "Month", language: "en", text: "¥0.30 / day" },
            { tag: "a year in Chinese", price: 365, quantity: 1, unit: "年", language: "zh", text: "¥1.00 / 天" },
            { tag: "a week", price: 7, quantity: 1, unit: "week", language: "zh-Hant", text: "¥1.00 / 天" },
            { tag: "unknown unit", price: 5, quantity: 1, unit: "seat", language: "en", text: "— / day" }
        ]
    }

    function test_perDay(data) {
        compare(StoreFormat.perDayText(data.price, data.quantity, data.unit, "¥", data.language), data.text)
    }

    function test_paymentMethods_data() {
        return [
            { tag: "wechat by platform", method: { platform: "WeChatPay", name: "x" }, name: "x",
              titles: ["WeChat Pay", "微信支付", "微信支付"], glyphs: ["W", "微", "微"] },
            { tag: "alipay by name", method: { platform: "epay", name: "支付宝扫码" }, name: "支付宝扫码",
              titles: ["Alipay", "支付宝", "支付寶"], glyphs: ["A", "支", "支"] },
            { tag: "other by its name", method: { platform: "devpay", name: "Test card" }, name: "Test card",
              titles: ["Test card", "Test card", "Test card"], glyphs: ["¥", "¥", "¥"] },
            { tag: "nameless", method: { platform: "devpay", name: "" }, name: "",
              titles: ["Payment method", "支付方式", "付款方式"], glyphs: ["¥", "¥", "¥"] }
        ]
    }

    function test_paymentMethods(data) {
        const kind = StoreFormat.paymentKind(data.method)
        const languages = ["en", "zh", "zh-Hant"]
        for (let i = 0; i < languages.length; ++i) {
            Translations.currentLanguage = languages[i]
            compare(StoreFormat.paymentTitle(kind, data.name, languages[i], Translations.t), data.titles[i])
            compare(StoreFormat.paymentGlyph(kind, languages[i]), data.glyphs[i])
        }
    }

    function test_localizedName_data() {
        const both = "{\"zh-CN\":\"基础\",\"en-US\":\"Basic\"}"
        return [
            { tag: "Simplified", name: both, language: "zh", shown: "基础" },
            { tag: "Traditional reads English", name: both, language: "zh-Hant", shown: "Basic" },
            { tag: "English", name: both, language: "en", shown: "Basic" },
            { tag: "only another member", name: "{\"ja-JP\":\"ベーシック\"}", language: "en", shown: "ベーシック" },
            { tag: "plain text", name: "Annual", language: "zh", shown: "Annual" },
            { tag: "empty object as sent", name: "{}", language: "en", shown: "{}" },
            { tag: "JSON array as sent", name: "[1]", language: "en", shown: "[1]" }
        ]
    }

    function test_localizedName(data) {
        compare(StoreFormat.localizedName(data.name, data.language), data.shown)
    }
}
