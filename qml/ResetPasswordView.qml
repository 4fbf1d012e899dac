import QtQuick
import QtQuick.Controls

Item {
    id: root

    signal navigateToLogin
}
