import QtQuick
import QtTest
import appclient

// The announcement page against the stand-in handler: row titles, when it asks for the list,
// what a click hands on, and how failures show.
Item {
    id: root

    width: 400
    height: 760

    Component {
        id: pageComponent

        AnnouncementPage {
            width: 400
            height: 760
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "AnnouncementPage"
        when: windowShown

        property AnnouncementPage page

        function init() {
            auth.reset()
            announcement.reset()
            Translations.currentLanguage = "en"
            auth.isLoggedIn = true
            page = createTemporaryObject(pageComponent, root)
        }

        function titles() {
            const shown = []
            for (let i = 0; findChild(page, "announcementRow" + i); ++i)
                shown.push(findChild(page, "announcementRow" + i).title)
            return shown
        }

        function test_titles_data() {
            return [
                { tag: "trimmed", title: "  Maintenance  ", language: "en", shown: "Maintenance" },
                { tag: "blank", title: "  ", language: "en", shown: "Announcement 2" },
                { tag: "missing", title: undefined, language: "zh", shown: "公告 2" },
                { tag: "null in Traditional", title: null, language: "zh-Hant", shown: "公告 2" }
            ]
        }

        function test_titles(data) {
            Translations.currentLanguage = data.language
            announcement.pages = [{ id: 4, title: "Pinned", pinned: true }, { id: 5, title: data.title }]
            compare(titles(), ["Pinned", data.shown])
        }

        function test_refreshAndSelect() {
            page.active = true
            verify(page.pendingPageRefresh)
            tryVerify(() => announcement.callsTo("fetchPageAnnouncements").length === 1, 1000)
            compare(announcement.callsTo("fetchPageAnnouncements")[0].args, [1, 50])
            verify(findChild(page, "announcementEmptyText").visible)

            announcement.pages = [{ id: 4, title: "Pinned", pinned: true, content: "<p>a</p>" },
                                  { id: 1, title: "Older", pinned: false, content: "<p>b</p>" }]
            verify(!findChild(page, "announcementEmptyText").visible)
            const spy = createTemporaryObject(spyComponent, root, { target: page, signalName: "announcementSelected" })
            mouseClick(findChild(page, "announcementRow1"))
            compare(spy.count, 1)
            compare(spy.signalArguments[0][0].id, 1)

            // Signed out, nothing is asked for.
            announcement.clearCalls()
            auth.isLoggedIn = false
            page.active = false
            page.active = true
            verify(!page.pendingPageRefresh)
            wait(350)
            compare(announcement.callsTo("fetchPageAnnouncements").length, 0)
        }

        function test_failures_data() {
            return [
                { tag: "expired", error: "Invalid access", line: "", flash: true },
                { tag: "known phrase", error: "Connection timed out", line: "error_timeout", flash: false },
                { tag: "server text as sent", error: "Failed to fetch announcements",
                  line: "Failed to fetch announcements", flash: false }
            ]
        }

        function test_failures(data) {
            page.active = true
            page.errorMessage = "earlier"
            announcement.operationFailed(data.error)
            compare(page.errorMessage, Translations.t(data.line))
            compare(findChild(page, "announcementFlash").active, data.flash)
            announcement.pages = [{ id: 1, title: "New" }]
            compare(page.errorMessage, "")
        }
    }
}
