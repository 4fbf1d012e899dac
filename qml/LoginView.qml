import QtQuick
import QtQuick.Controls

Item {
    id: root

    signal navigateToRegister
    signal navigateToResetPassword
}
