import QtQuick
import QtQuick.Controls

Popup {
    id: root

    modal: true
}
