import QtQuick
import QtQuick.Controls

Item {
    id: root

    property int currentSection: 0
    property string authPage: ""
    property bool showingMenu: false
    readonly property bool showingAuthPage: authPage !== ""
    readonly property bool canShowStartupAnnouncement: true

    signal showMessage(string title, string text)
    signal announcementSelected(var item)
}
