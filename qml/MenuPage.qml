import QtQuick
import QtQuick.Controls

Item {
    id: root

    property bool isLoggedIn: false
    property string userEmail: ""
    property int currentSection: 0

    signal sectionSelected(int index)
    signal themeToggleRequested
    signal loginRequested
    signal logoutRequested
    signal closeRequested
    signal aboutRequested
}
