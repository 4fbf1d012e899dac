import QtQuick
import QtTest
import appclient
import "qrc:/qt/qml/appclient/storeformat.js" as StoreFormat

// The store's rules for rows, labels and amounts: which durations a plan is sold in, what they
// are called in each language, and how prices and points are written.
TestCase {
    name: "StoreFormat"

    function cleanup() { Translations.currentLanguage = "en" }

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

    function test_amounts_data() {
        return [
            { tag: "half points", value: 15.5, points: "15.50", money: "15.50", symbol: "$", shown: "¥" },
            { tag: "within 0.001 of whole", value: 14.9996, points: "15", money: "15.00", symbol: undefined,
              shown: "¥" },
            { tag: "just outside", value: 14.998, points: "15.00", money: "15.00", symbol: "€", shown: "€" }
        ]
    }

    // Points drop their decimals only when whole; a dollar or no symbol at all shows as yuan.
    function test_amounts(data) {
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
}
