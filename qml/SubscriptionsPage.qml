import QtQuick
import QtQuick.Controls

Item {
    id: root

    property bool active: false
    readonly property bool canShowStartupAnnouncement: active

    signal showMessage(string title, string text)
    signal openStoreRequested
    signal loginRequested

    function refreshSubscriptions() {
    }
}
