import QtQuick
import QtQuick.Controls

Item {
    id: root

    property bool active: false
}
