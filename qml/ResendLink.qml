import QtQuick

// Asks for another code once the cooldown has run out; until then it counts the seconds down.
AuthLink {
    id: root

    property int cooldown: 0
    property bool loading: false

    enabled: root.cooldown <= 0 && !root.loading
    text: root.cooldown > 0 ? Translations.t("resend_in").arg(root.cooldown) : Translations.t("resend_code")
}
