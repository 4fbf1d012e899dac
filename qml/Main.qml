import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: root

    width: 400
    height: 760
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    visible: true
    title: appInfo.name
}
