.pragma library
// How the store and reward pages turn the store's plan and payment maps into rows, labels and
// amounts. Pure functions of their arguments, so the views stay presentation only; `language` is
// a UI language code ("en", "zh", "zh-Hant") and `t` the translation lookup.

var candidateQuantities = [1, 3, 6, 12, 24];
var monthCardKeys = { 1: "plan_month_card", 3: "plan_quarter_card", 6: "plan_half_year_card",
    12: "plan_year_card", 24: "plan_two_year_card" };
var daysPerUnit = { month: 30, year: 365, week: 7, day: 1 };

// The few words chosen by script rather than looked up. Traditional readers get Traditional
// characters where the two scripts differ.
var inlineWords = {
    month: ["mo", "月", "月"],
    year: ["yr", "年", "年"],
    week: ["wk", "周", "週"],
    day: ["day", "天", "天"],
    perDay: [" / day", " / 天", " / 天"],
    hot: ["Hot", "热门", "熱門"],
    wechat: ["WeChat Pay", "微信支付", "微信支付"],
    alipay: ["Alipay", "支付宝", "支付寶"],
    wechatGlyph: ["W", "微", "微"],
    alipayGlyph: ["A", "支", "支"]
};

function isChinese(language) {
    return String(language || "").startsWith("zh");
}

function word(name, language) {
    const forms = inlineWords[name];
    if (!isChinese(language))
        return forms[0];
    return String(language) === "zh-Hant" ? forms[2] : forms[1];
}

// "month", "year", "week", "day" or "" for a plan's unit_time text.
function unitKind(unitTime) {
    const unit = String(unitTime === undefined || unitTime === null ? "" : unitTime).trim().toLowerCase();
    if (unit === "")
        return "";
    if (unit.indexOf("month") >= 0 || unit.indexOf("月") >= 0)
        return "month";
    if (unit.indexOf("year") >= 0 || unit.indexOf("年") >= 0)
        return "year";
    if (unit.indexOf("week") >= 0 || unit.indexOf("周") >= 0)
        return "week";
    if (unit.indexOf("day") >= 0 || unit.indexOf("日") >= 0 || unit.indexOf("天") >= 0)
        return "day";
    return "";
}

// The unit as shown after a number; a unit outside the four is shown as the panel wrote it.
function unitText(unitTime, language) {
    const kind = unitKind(unitTime);
    if (kind === "")
        return String(unitTime === undefined || unitTime === null ? "" : unitTime).trim();
    return word(kind, language);
}

function quantityText(quantity, unitTime, language) {
    const unit = unitText(unitTime, language);
    if (unit === "")
        return String(quantity);
    return quantity + (isChinese(language) ? "" : " ") + unit;
}

// Month plans are sold as passes ("Quarterly Pass"); other units read as a count ("3 yr").
function optionLabel(plan, quantity, language, t) {
    if (unitKind(plan.unit_time) === "month" && monthCardKeys[quantity] !== undefined)
        return t(monthCardKeys[quantity]);
    return quantityText(quantity, plan.unit_time, language);
}

// The durations a plan is sold in: one unit always, the others only when the panel lists a
// discount for exactly that quantity.
function planOptions(plan, language, t) {
    const offered = { 1: true };
    const discounts = Array.isArray(plan.discount) ? plan.discount : [];
    for (let i = 0; i < discounts.length; ++i) {
        const quantity = Math.max(1, Number(discounts[i] ? discounts[i].quantity : 0) || 0);
        offered[quantity] = true;
    }
    const unitPrice = Number(plan.unit_price) || 0;
    const options = [];
    for (let i = 0; i < candidateQuantities.length; ++i) {
        const quantity = candidateQuantities[i];
        if (!offered[quantity])
            continue;
        options.push({ quantity: quantity, original_price: unitPrice * quantity,
            total_price: unitPrice * quantity, label: optionLabel(plan, quantity, language, t) });
    }
    return options;
}

// Every option of every plan, by plan, then by duration. `plans` are getSubscription maps.
function catalogue(plans, language, t) {
    const rows = [];
    for (let planIndex = 0; planIndex < plans.length; ++planIndex) {
        const options = planOptions(plans[planIndex], language, t);
        for (let optionIndex = 0; optionIndex < options.length; ++optionIndex) {
            const option = options[optionIndex];
            rows.push({ subscribe_index: planIndex, option_index: optionIndex,
                quantity: option.quantity, original_price: option.original_price,
                total_price: option.total_price, label: option.label,
                title: localizedName(plans[planIndex].name, language),
                unit_time: plans[planIndex].unit_time });
        }
    }
    return rows;
}

function hasPreview(preview) {
    return !!preview && preview.amount !== undefined && preview.amount !== null;
}

// A row's prices. `preview` is its background preview (a getOrderPreview map, maybe empty);
// `live` ({price, amount}) is the store's last calculation when it belongs to this row.
// `original` is meant struck through and only when `discounted`.
function rowPricing(row, preview, live) {
    const previewed = hasPreview(preview);
    const shown = live ? Number(live.amount) : previewed ? Number(preview.amount) : row.total_price;
    const discounted = live ? Number(live.price) > Number(live.amount)
                            : previewed && Number(preview.price) > Number(preview.amount);
    const original = live && Number(live.price) > 0 ? Number(live.price)
                   : previewed ? Number(preview.price) : row.original_price;
    return { shown: shown, original: original, discounted: discounted };
}

// The checkout sheet's breakdown for the chosen row: the coupon discount counts only with a live
// calculation, and the subtotal is the price before any discount.
function checkoutFigures(row, preview, live, couponDiscount) {
    const subtotal = live && Number(live.price) > 0 ? Number(live.price)
                   : hasPreview(preview) ? Number(preview.price) : row.original_price;
    return { subtotal: subtotal, discount: live ? Number(couponDiscount) || 0 : 0,
        total: rowPricing(row, preview, live).shown };
}

function money(value) {
    return (Number(value) || 0).toFixed(2);
}

// Whole numbers without decimals (15), others with two (15.50).
function points(value) {
    const number = Number(value) || 0;
    const whole = Math.round(number);
    return Math.abs(number - whole) < 0.001 ? String(whole) : number.toFixed(2);
}

// Prices read in yuan unless the panel names another currency than the dollar default.
function displayCurrency(symbol) {
    const text = symbol === undefined || symbol === null ? "" : String(symbol);
    return text === "" || text === "$" ? "¥" : text;
}

function perDayText(price, quantity, unitTime, currency, language) {
    const days = daysPerUnit[unitKind(unitTime)];
    const value = days && quantity > 0 ? currency + money(price / (days * quantity)) : "—";
    return value + word("perDay", language);
}

function isHot(quantity) {
    return quantity === 3 || quantity === 12;
}

// "wechat", "alipay" or "default" for a getPaymentMethod map.
function paymentKind(method) {
    const platform = String(method && method.platform ? method.platform : "").toLowerCase();
    const name = String(method && method.name ? method.name : "");
    const lowerName = name.toLowerCase();
    if (platform.indexOf("wechat") >= 0 || lowerName.indexOf("wechat") >= 0 || name.indexOf("微信") >= 0)
        return "wechat";
    if (platform.indexOf("alipay") >= 0 || lowerName.indexOf("alipay") >= 0 || name.indexOf("支付宝") >= 0)
        return "alipay";
    return "default";
}

function paymentTitle(kind, localizedName, language, t) {
    if (kind === "wechat" || kind === "alipay")
        return word(kind, language);
    return localizedName !== undefined && localizedName !== null && String(localizedName) !== ""
        ? String(localizedName) : t("payment");
}

function paymentGlyph(kind, language) {
    if (kind === "wechat" || kind === "alipay")
        return word(kind + "Glyph", language);
    return "¥";
}

// Panels send a plan name either as text or as the JSON text of {"zh-CN": ..., "en-US": ...}.
// Simplified readers get "zh-CN"; everyone else the English name before Simplified characters.
function localizedName(name, language) {
    const text = name === undefined || name === null ? "" : String(name);
    let parsed = null;
    try {
        parsed = JSON.parse(text);
    } catch (error) {
        return text;
    }
    if (!parsed || typeof parsed !== "object" || Array.isArray(parsed))
        return text;
    const keys = Object.keys(parsed);
    if (keys.length === 0)
        return text;
    const preferred = String(language) === "zh" ? "zh-CN" : "en-US";
    if (parsed[preferred] !== undefined)
        return String(parsed[preferred]);
    if (parsed["en-US"] !== undefined)
        return String(parsed["en-US"]);
    return String(parsed[keys[0]]);
}
