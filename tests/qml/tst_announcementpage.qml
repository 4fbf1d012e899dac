import QtQuick
import QtTest
import appclient

// The announcement page against the stand-in handler: row titles and failures. Fetching the list
// and opening an entry run end to end.
ViewCase {
    name: "AnnouncementPage"

    function init() {
        resetBackend()
        auth.isLoggedIn = true
        make("AnnouncementPage")
    }

    function test_titles_data() {
        return [
            { tag: "trimmed", title: "  Maintenance  ", language: "en", shown: "Maintenance" },
            { tag: "blank", title: "  ", language: "en", shown: "Announcement 2" },
            { tag: "null in Traditional", title: null, language: "zh-Hant", shown: "公告 2" }
        ]
    }

    function test_titles(data) {
        Translations.currentLanguage = data.language
        announcement.pages = [{ id: 4, title: "Pinned", pinned: true }, { id: 5, title: data.title }]
        compare([item("announcementRow0").title, item("announcementRow1").title], ["Pinned", data.shown])
    }

    function test_failures_data() {
        return [
            { tag: "expired", error: "Invalid access", line: "", flash: true },
            { tag: "server text as sent", error: "Failed to fetch announcements", line: "Failed to fetch announcements",
              flash: false }
        ]
    }

    function test_failures(data) {
        view.active = true
        view.errorMessage = "earlier"
        announcement.operationFailed(data.error)
        compare([view.errorMessage, item("announcementFlash").active], [Translations.t(data.line), data.flash])
        announcement.pages = [{ id: 1, title: "New" }]
        compare(view.errorMessage, "")
    }
}
