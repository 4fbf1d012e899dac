pragma Singleton
import QtQuick

// How the connect page writes numbers: latencies with their colour, byte counts, speeds, the
// session time and what is left of a plan. Kept in one place so the rules are tested once.
QtObject {
    id: root

    // Below these a latency counts as good, then fair; above, poor.
    readonly property int goodLatencyMs: 200
    readonly property int fairLatencyMs: 500
    // The backend's marks for a failed test and for none.
    readonly property int timeoutDelay: -1
    readonly property int unknownDelay: -2

    function latencyText(ms) {
        if (ms === root.timeoutDelay)
            return Translations.t("latency_timeout")
        if (typeof ms !== "number" || ms < 0)
            return "—"
        return Math.round(ms) + " ms"
    }

    // "good", "fair", "poor", "timeout" or "unknown".
    function latencyLevel(ms) {
        if (ms === root.timeoutDelay)
            return "timeout"
        if (typeof ms !== "number" || ms < 0)
            return "unknown"
        return ms < root.goodLatencyMs ? "good" : (ms < root.fairLatencyMs ? "fair" : "poor")
    }

    function latencyColor(ms) {
        switch (root.latencyLevel(ms)) {
        case "good":
            return Theme.successColor
        case "fair":
            return Theme.warningColor
        case "unknown":
            return Theme.subtleTextColor
        default:
            return Theme.dangerColor
        }
    }

    // Binary units, one decimal below 100 of a unit: "0 B", "512 B", "1.5 KB", "120 MB".
    function bytesText(bytes) {
        const units = ["B", "KB", "MB", "GB", "TB"]
        let value = Math.max(0, Number(bytes) || 0)
        let unit = 0
        while (value >= 1024 && unit < units.length - 1) {
            value /= 1024
            unit += 1
        }
        const shown = unit === 0 || value >= 100 ? Math.round(value).toString() : value.toFixed(1)
        return shown + " " + units[unit]
    }

    function speedText(bytesPerSecond) {
        return root.bytesText(bytesPerSecond) + "/s"
    }

    // "MM:SS" below an hour, "H:MM:SS" from there.
    function durationText(seconds) {
        const total = Math.max(0, Math.floor(Number(seconds) || 0))
        const hours = Math.floor(total / 3600)
        const minutes = Math.floor(total / 60) % 60
        const rest = total % 60
        const pad = n => (n < 10 ? "0" : "") + n
        return (hours > 0 ? hours + ":" + pad(minutes) : pad(minutes)) + ":" + pad(rest)
    }

    // A subscription map's traffic left: the plan's bytes minus both directions used.
    function dataLeftText(subscription) {
        const limit = Number(subscription && subscription.traffic) || 0
        if (limit <= 0)
            return Translations.t("unlimited")
        const used = (Number(subscription.download) || 0) + (Number(subscription.upload) || 0)
        return Translations.t("data_left").arg(root.bytesText(Math.max(0, limit - used)))
    }

    // Whole days left, counting a started day; the expiry is in milliseconds.
    function expiryText(subscription, nowMs) {
        const expires = Number(subscription && subscription.expire_time) || 0
        if (expires <= 0)
            return Translations.t("no_limit")
        if (expires <= nowMs)
            return Translations.t("expired")
        return Translations.t("expiration_days").arg(Math.ceil((expires - nowMs) / 86400000))
    }

    // A wait before the free plan can be claimed again, rounded up to whole minutes: 30 s read as
    // 1 m and 3600 s as 1 h.
    function claimWaitText(seconds) {
        const value = Math.max(0, Number(seconds) || 0)
        if (value <= 0)
            return Translations.t("free_plan_claim_unavailable")
        const totalMinutes = Math.max(1, Math.ceil(value / 60))
        const hours = Math.floor(totalMinutes / 60)
        const minutes = totalMinutes % 60
        if (hours > 0) {
            return minutes === 0 ? Translations.t("free_plan_claim_wait_hours_only").arg(hours)
                                 : Translations.t("free_plan_claim_wait_hours").arg(hours).arg(minutes)
        }
        return Translations.t("free_plan_claim_wait_minutes").arg(minutes)
    }
}
