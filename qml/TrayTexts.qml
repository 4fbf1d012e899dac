import QtQml

// Hands the tray menu its texts in the UI language; they follow a change of language.
QtObject {
    readonly property var texts: ({
            "language": Translations.currentLanguage,
            "connected": Translations.t("tray_connected"),
            "disconnected": Translations.t("tray_disconnected"),
            "connect": Translations.t("tray_connect"),
            "disconnect": Translations.t("tray_disconnect"),
            "auto": Translations.t("tray_auto"),
            "show": Translations.t("tray_show"),
            "quit": Translations.t("tray_quit"),
            "trayNotice": Translations.t("tray_notice")
        })

    onTextsChanged: trayMenu.texts = texts
    Component.onCompleted: trayMenu.texts = texts
}
