import QtQuick

// The connect page's free plan claim: one at a time and only signed in, each outcome flashed.
Item {
    id: root

    property bool inProgress: false
    required property FlashMessage flash

    signal loginRequested

    function claim() {
        if (root.inProgress)
            return
        if (!auth.isLoggedIn) {
            root.loginRequested()
            return
        }
        root.inProgress = true
        if (!subscribeHandler.claimFreeSubscription())
            root.inProgress = false
    }

    Connections {
        target: subscribeHandler

        function onFreeSubscriptionClaimed() {
            root.inProgress = false
            root.flash.showSuccess(Translations.t("free_plan_claimed_title"),
                                   Translations.t("free_plan_claimed_message"))
        }
        function onFreeSubscriptionClaimUnavailable(remainingSeconds) {
            root.inProgress = false
            root.flash.showError(Translations.t("free_plan_claim_unavailable_title"),
                                 Figures.claimWaitText(remainingSeconds))
        }
        function onFreeSubscriptionClaimFailed(error) {
            root.inProgress = false
            if (Translations.errorKey(error) === "error_auth_expired")
                root.flash.showError(Translations.t("error_auth_expired_title"),
                                     Translations.t("error_auth_expired"))
            else
                root.flash.showError(Translations.t("free_plan_claim_failed_title"),
                                     Translations.translateError(error))
        }
    }
}
